#include "main/zel_recovery_wizard.h"

int main(int argc, char** argv) {
    return zelRecoveryMain(argc, argv);
}
