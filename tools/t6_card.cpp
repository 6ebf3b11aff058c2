// t6-card: prepares card images and checks cards from the command line, with
// the same stages as the recovery wizard.

#include "main/run_log.h"
#include "tools/card_commands.h"
#include "tools/card_log.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string logFile, error;
    CardOptions options;
    if (!takeLogOption(arguments, logFile, error) || !parseCardOptions(arguments, options, error)) {
        std::cerr << error << '\n' << CARD_USAGE_HINT << std::endl;
        return EXIT_USAGE;
    }
    if (!commandKeepsLog(options.command)) return runCardCommand(options, std::cout, std::cerr);

    startRunLog("t6-card", logFile, logTargetText(options));
    // The error sentences go into the log as well: they name the cause.
    LoggedStreamBuffer loggedErrors(std::cerr);
    std::ostream err(&loggedErrors);
    const int status = runCardCommand(options, std::cout, err);
    err.flush();
    stopRunLog();
    return status;
}
