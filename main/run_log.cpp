#include "main/run_log.h"

#include "main/version.h"
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

RunLogPlace& loggedPlace() {
    static RunLogPlace place;
    return place;
}

}  // namespace

std::string runLogHeader(const std::string& program, const std::string& drive) {
    const QString os = QSysInfo::prettyProductName() + " (" + QSysInfo::kernelType() + " " +
                       QSysInfo::kernelVersion() + ", " + QSysInfo::currentCpuArchitecture() + ")";
    return program + " " + versionNumbers(programVersion) + " on " + os.toStdString() +
           "; drive: " + drive + "; times UTC";
}

void startRunLog(const std::string& program, const std::string& file, const std::string& drive) {
    loggedProgram() = program;
    const std::filesystem::path path =
        !file.empty() ? std::filesystem::u8path(file)
                      : newRunLogFile(supportLogFolder(program), program, SUPPORT_LOGS_KEPT);
    RunLogPlace& place = loggedPlace();
    place = {path.u8string(), std::string()};
    if (path.empty()) {
        const std::filesystem::path folder = supportLogFolder(program);
        place.path = folder.u8string();
        place.problem = folder.empty() ? "the system names no folder for it"
                                       : "its folder cannot be made";
    } else {
        errno = 0;
        if (!openSupportLog(path, runLogHeader(program, drive)))
            place.problem = std::string("the file cannot be created") +
                            (errno != 0 ? std::string(" (") + std::strerror(errno) + ")" : "");
    }
    // Only a log the user named is worth a line on the screen when it fails.
    if (!place.problem.empty() && !file.empty())
        debugPrint("The log file %s cannot be written; the run goes on without it\n",
                   file.c_str());
}

RunLogPlace runLogPlace() {
    return loggedPlace();
}

void setRunLogDrive(const std::string& drive) {
    setSupportLogHeader(runLogHeader(loggedProgram(), drive));
}

void stopRunLog() {
    closeSupportLog();
}
