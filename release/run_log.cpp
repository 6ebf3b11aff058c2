#include "release/run_log.h"

#include "release/version.h"
#include "util/debug.h"
#include "util/support_log.h"

#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>

const char* const NO_DRIVE_CHOSEN = "none chosen";

namespace {

std::string& loggedProgram() {
    static std::string program;
    return program;
}

bool& logOpened() {
    static bool opened = false;
    return opened;
}

}  // namespace

std::string runLogHeader(const std::string& program, const std::string& drive) {
    const QString os = QSysInfo::prettyProductName() + " (" + QSysInfo::kernelType() + " " +
                       QSysInfo::kernelVersion() + ", " + QSysInfo::currentCpuArchitecture() + ")";
    return program + " " + versionText(programVersion) + " on " + os.toStdString() +
           "; drive: " + drive + "; times UTC";
}

SupportLogStart startRunLog(const std::string& program, const std::string& file,
                            const std::string& drive) {
    loggedProgram() = program;
    const std::string header = runLogHeader(program, drive);
    const SupportLogStart start =
        file.empty() ? openRunLogIn(supportLogFolder(program), program, SUPPORT_LOGS_KEPT, header)
                     : openNamedSupportLog(std::filesystem::u8path(file), header);
    logOpened() = start.opened;
    if (!start.notice.empty()) debugPrint("%s\n", start.notice.c_str());
    // Only a log the user named is worth a line on the screen when it fails;
    // a refused one is the caller's to report.
    if (!start.opened && !start.refused && !file.empty())
        debugPrint("The log file %s cannot be written: %s; the run goes on without it\n",
                   file.c_str(), start.problem.c_str());
    return start;
}

RunLogPlace runLogPlace() {
    return {supportLogFile().u8string(), supportLogProblem()};
}

void setRunLogDrive(const std::string& drive) {
    setSupportLogHeader(runLogHeader(loggedProgram(), drive));
}

void stopRunLog() {
    closeSupportLog();
    // A log that broke off during the run (a full disk) says so once, after
    // it stopped taking lines.
    if (logOpened() && !supportLogProblem().empty())
        debugPrint("The log file %s is incomplete: %s\n", supportLogFile().u8string().c_str(),
                   supportLogProblem().c_str());
    logOpened() = false;
}
