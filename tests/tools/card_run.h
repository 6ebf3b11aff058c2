#pragma once
// Running the t6-card executable from a test, with its two output streams apart.

#include "support/temp_dir.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <string>
#include <vector>

struct CardRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs `program` with `arguments`, with no shell in between, so that the
// same test runs it on Windows too; `environment` adds NAME=VALUE pairs.
inline CardRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const QStringList& environment = {}) {
    QStringList list;
    for (const std::string& argument : arguments) list << QString::fromStdString(argument);
    QProcess process;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const QString& pair : environment)
        variables.insert(pair.section('=', 0, 0), pair.section('=', 1));
    process.setProcessEnvironment(variables);
    process.start(QString::fromStdString(program), list);
    CardRun run;
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    // Line ends as the test expects them, whatever the runtime wrote.
    run.out = process.readAllStandardOutput().replace("\r\n", "\n").toStdString();
    run.err = process.readAllStandardError().replace("\r\n", "\n").toStdString();
    return run;
}

#ifdef ZEL_T6_CARD
inline CardRun runCardTool(const TempDir&, const std::vector<std::string>& arguments,
                           const QStringList& environment = {}) {
    return runProgram(ZEL_T6_CARD, arguments, environment);
}
#endif

#ifdef ZEL_T6_CARD_SIM
// t6-card on the simulated machine described in the file `machine`.
inline CardRun runCardOnMachine(const std::string& machine, std::vector<std::string> arguments,
                                const QStringList& environment = {}) {
    arguments.insert(arguments.begin(), {"--machine", machine});
    return runProgram(ZEL_T6_CARD_SIM, arguments, environment);
}
#endif

// What image and install print for a whole rebuild with boot files: the
// wizard's stage texts with the bar value each was shown with.
constexpr char REBUILD_STAGE_LINES[] =
    "[  0%] Partitioning drive...\n"
    "[ 11%] Formatting boot partition...\n"
    "[ 22%] Formatting data partition...\n"
    "[ 33%] Formatting complete\n"
    "[ 34%] Writing bootloader...\n"
    "[ 61%] Finished writing bootloader\n"
    "[ 61%] Copying files...\n"
    "[ 99%] Finished copying files\n"
    "[100%] Finished successfully\n";

// The arguments that build the test card: 1,000,944 sectors, 16 heads, 63
// sectors per track (boot partition 256 + 511,808 sectors, data 512,064 +
// 488,880, both FAT16).
constexpr unsigned TEST_CARD_SECTORS = 1000944;
constexpr unsigned TEST_BOOT_START = 256;

inline std::vector<std::string> testCardImageArguments(const std::string& image) {
    return {"image", image, "--sectors", std::to_string(TEST_CARD_SECTORS), "--geometry", "16/63"};
}
