#include "tools/card_main.h"

#include "platform/interrupts.h"
#include "release/run_log.h"
#include "tools/card_commands.h"
#include "tools/card_log.h"

#include <iostream>

int cardMain(std::vector<std::string> arguments) {
    std::string logFile, error;
    CardOptions options;
    const auto usageError = [](const std::string& sentence) {
        std::cerr << cardUsageError(sentence) << std::flush;
        return EXIT_USAGE;
    };
    if (!takeLogOption(arguments, logFile, error) || !parseCardOptions(arguments, options, error))
        return usageError(error);
    if (!commandKeepsLog(options.command)) return runCardCommand(options, std::cout, std::cerr);
    // The log never takes the place of a file the run needs.
    if (!logFile.empty() && logNamesRunFile(options, logFile, error)) return usageError(error);

    const SupportLogStart log = startRunLog("t6-card", logFile, logTargetText(options));
    if (log.refused) return usageError(refusedLogError(logFile, log.problem));
    // The error sentences go into the log as well: they name the cause.
    LoggedStreamBuffer loggedErrors(std::cerr);
    std::ostream err(&loggedErrors);
    const int status = runCardCommand(options, std::cout, err);
    // A signal the run's own last call raised (SIGXFSZ, SIGPIPE) ends it as that signal.
    platform::waitForArrivedInterrupt();
    err.flush();
    stopRunLog();
    return status;
}
