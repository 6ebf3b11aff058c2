#include "main/run_log.h"

#include "main/version.h"
#include "util/debug.h"
#include "util/support_log.h"

#include <QSysInfo>

#include <filesystem>

const char* const NO_DRIVE_CHOSEN = "none chosen";

namespace {

std::string& loggedProgram() {
    static std::string program;
    return program;
}

}  // namespace

std::string runLogHeader(const std::string& program, const std::string& drive) {
    const QString os = QSysInfo::prettyProductName() + " (" + QSysInfo::kernelType() + " " +
                       QSysInfo::kernelVersion() + ", " + QSysInfo::currentCpuArchitecture() + ")";
    return program + " " + versionText(programVersion) + " on " + os.toStdString() +
           "; drive: " + drive + "; times UTC";
}

void startRunLog(const std::string& program, const std::string& file, const std::string& drive) {
    loggedProgram() = program;
    const std::filesystem::path path =
        !file.empty() ? std::filesystem::u8path(file)
                      : newRunLogFile(supportLogFolder(program), program, SUPPORT_LOGS_KEPT);
    // Only a log the user named is worth a line on the screen when it fails.
    if ((path.empty() || !openSupportLog(path, runLogHeader(program, drive))) && !file.empty())
        debugPrint("The log file %s cannot be written; the run goes on without it\n",
                   file.c_str());
}

void setRunLogDrive(const std::string& drive) {
    setSupportLogHeader(runLogHeader(loggedProgram(), drive));
}

void stopRunLog() {
    closeSupportLog();
}
