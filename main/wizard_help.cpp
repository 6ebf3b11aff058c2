#include "main/wizard_help.h"

#include "deploy/payload_sources.h"
#include "release/version.h"

#include <cstring>
#include <iostream>
#include <string>

namespace {

// Where the payload is looked for, from the list the wizard searches.
std::string payloadHelp() {
    std::string text =
        "Payload:\n"
        "  The folder files/boot and the file firmware/t6-board.fw are looked for in\n"
        "  these folders, in this order; the first that holds each is used:\n";
    for (const PayloadFolder& folder : wizardPayloadFolders(QString()))
        text += "    " + folder.described.toStdString() + "\n";
    return text +
           "  files/boot must hold grub/stage2 and grub/menu.lst with content. files/boot\n"
           "  becomes \\boot on the card, t6-board.fw becomes \\boot\\bzImage.\n";
}

}  // namespace

std::string wizardHelp() {
    return std::string("Usage: zel_recovery_wizard [--help | --version]\n"
           "Rebuilds the Compact Flash boot card of a Velmor T6 System Processor: the\n"
           "technician picks the card among the removable drives with media and confirms;\n"
           "the wizard writes a new partition table (a FAT16 boot partition of about\n"
           "250 MiB and a FAT32 data partition over the rest), formats both, writes the\n"
           "GRUB legacy boot loader and copies the boot files onto the boot partition.\n"
           "Everything on the chosen card is destroyed.\n"
           "\n"
           "The wizard needs administrator rights for raw drive access. Started without\n"
           "them on Linux, it runs itself again through pkexec; where that cannot be\n"
           "done (no pkexec, no authentication agent, the request dismissed or refused)\n"
           "it says why and exits with status 1: run 'sudo zel_recovery_wizard' from the\n"
           "folder that holds files/boot instead.\n"
           "\n"
           "Options:\n"
           "  --help     print this help and exit\n"
           "  --version  print the version and exit\n"
           "\n"
           ) + payloadHelp() +
           "\n"
           "Log:\n"
           "  Every run writes its debug lines, each with its UTC time, to a new file\n"
           "  zel_recovery_wizard-DATE-TIME.log in the folder zel_recovery_wizard under\n"
           "  $XDG_STATE_HOME (by default ~/.local/state) on Linux, under %LOCALAPPDATA%\n"
           "  on Windows; the newest 20 are kept. Its first line names the version, the\n"
           "  operating system and the chosen drive. Run as root through pkexec or sudo,\n"
           "  the wizard writes to the folder of the user who started it. Send the log of\n"
           "  a failed run to support.\n";
}

int answerInfoOption(int argc, char** argv) {
    if (argc != 2) return -1;
    if (std::strcmp(argv[1], "--help") == 0) {
        std::cout << wizardHelp() << std::flush;
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::cout << "zel_recovery_wizard " << versionText(programVersion) << std::endl;
        return 0;
    }
    return -1;
}
