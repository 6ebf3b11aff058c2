#include "util/support_log.h"

#include "platform/log_file.h"
#include "platform/state_folder.h"
#include "util/debug.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <system_error>
#include <vector>

namespace {

// Past this the lines are no longer kept for a rewrite of the header; a
// later header then goes in as a line of its own.
constexpr std::size_t MAX_KEPT_BODY = 4u << 20;

struct SupportLog {
    std::mutex mutex;
    platform::LogFile file;
    std::filesystem::path path;
    std::string problem;  // the first write that failed, after which nothing more is written
    std::string header;
    std::string body;  // every line after the header, while it fits
    bool bodyKept = true;
    bool atLineStart = true;
};

// Never destroyed: debug lines may still come while statics are torn down.
SupportLog& supportLog() {
    static SupportLog* const log = new SupportLog;
    return *log;
}

// Caller holds the mutex. A log that took a write not whole takes no more:
// its problem says why, and the file is closed.
void writeLocked(SupportLog& log, const std::string& bytes, bool whole) {
    std::string why;
    if (whole ? log.file.replace(bytes, why) : log.file.append(bytes, why)) return;
    log.problem = "it could not be written: " + why;
    log.file.close();
}

// Caller holds the mutex. Every line begins with the time it was written.
void appendLocked(SupportLog& log, const char* text) {
    if (!log.file.isOpen()) return;
    std::string stamped;
    for (const char* c = text; *c != '\0'; ++c) {
        if (log.atLineStart) stamped += supportLogTime() + ' ';
        stamped += *c;
        log.atLineStart = *c == '\n';
    }
    writeLocked(log, stamped, false);
    if (log.bodyKept && log.body.size() + stamped.size() <= MAX_KEPT_BODY)
        log.body += stamped;
    else
        log.bodyKept = false;
}

void copyDebugLine(const char* line) {
    SupportLog& log = supportLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    appendLocked(log, line);
}

using Clock = std::chrono::system_clock;

// `at` in UTC: `format` for strftime, then `separator` and the milliseconds.
std::string utcText(Clock::time_point at, const char* format, char separator) {
    const std::time_t seconds = Clock::to_time_t(at);
    const long long millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000;
    char text[32] = {};
    std::strftime(text, sizeof text, format, std::gmtime(&seconds));
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%s%c%03lld", text, separator, millis);
    return stamp;
}

// "<program>-YYYYMMDD-HHMMSS-mmm.log": names sort in the order the runs began.
std::string runLogName(const std::string& program, Clock::time_point at) {
    return program + "-" + utcText(at, "%Y%m%d-%H%M%S", '-') + ".log";
}

// "<program>-YYYYMMDD-HHMMSS-mmm.log" exactly: nothing else is ever removed.
bool isRunLogOf(const std::string& name, const std::string& program) {
    const std::string shape = "DDDDDDDD-DDDDDD-DDD.log";
    const std::string prefix = program + "-";
    if (name.size() != prefix.size() + shape.size() || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const char c = name[prefix.size() + i];
        if (shape[i] == 'D' ? (c < '0' || c > '9') : c != shape[i]) return false;
    }
    return true;
}

// Removes the oldest of the program's logs in `folder` until at most `kept`
// are left.
void pruneRunLogs(const platform::LogFolder& folder, const std::string& program, std::size_t kept) {
    std::vector<std::string> logs;
    for (const std::string& name : folder.regularFiles())
        if (isRunLogOf(name, program)) logs.push_back(name);
    if (logs.size() <= kept) return;
    std::sort(logs.begin(), logs.end());
    for (std::size_t i = 0; i + kept < logs.size(); ++i) folder.removeRegularFile(logs[i]);
}

// From now on the debug lines go into `file` as well, after `header`.
void startLog(platform::LogFile file, const std::filesystem::path& path, const std::string& header) {
    SupportLog& log = supportLog();
    {
        std::lock_guard<std::mutex> lock(log.mutex);
        log.file = std::move(file);
        log.path = path;
        log.problem.clear();
        log.header = header;
        log.body.clear();
        log.bodyKept = true;
        log.atLineStart = true;
        writeLocked(log, header + '\n', false);
    }
    setDebugCopy(copyDebugLine);
}

// No log for this run: what the screen can say of it.
void noLog(const std::filesystem::path& path, const std::string& problem) {
    closeSupportLog();
    SupportLog& log = supportLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.path = path;
    log.problem = problem;
}

}  // namespace

std::string supportLogTime() {
    return utcText(Clock::now(), "%Y-%m-%d %H:%M:%S", '.');
}

std::filesystem::path supportLogFolder(const std::string& program) {
    const std::filesystem::path state = platform::userStateFolder();
    return state.empty() ? state : state / program;
}

SupportLogStart openRunLogIn(const std::filesystem::path& folder, const std::string& program,
                             int kept, const std::string& header) {
    SupportLogStart start;
    start.file = folder;
    platform::LogFolder logs;
    std::string why;
    if (folder.empty()) {
        start.problem = "the system names no folder for it";
    } else if (!logs.open(folder, why)) {
        start.problem = "its folder " + folder.u8string() + " " + why;
    } else {
        pruneRunLogs(logs, program, kept > 0 ? static_cast<std::size_t>(kept - 1) : 0);
        // A name taken (a run begun in the same millisecond, or anything put
        // there) gives way to the next millisecond, so that the names still
        // sort in the order of the runs.
        Clock::time_point at = Clock::now();
        platform::LogFile file;
        for (int attempt = 0; attempt < 1000 && start.problem.empty(); ++attempt) {
            start.file = folder / runLogName(program, at);
            const auto made = logs.createFile(start.file.filename().u8string(), file, why, start.notice);
            if (made == platform::LogFolder::Create::Made) {
                startLog(std::move(file), start.file, header);
                start.opened = true;
                return start;
            }
            if (made == platform::LogFolder::Create::Failed)
                start.problem = "the file cannot be created (" + why + ")";
            at += std::chrono::milliseconds(1);
        }
        if (start.problem.empty()) start.problem = "every name for it is taken";
    }
    noLog(start.file, start.problem);
    return start;
}

SupportLogStart openNamedSupportLog(const std::filesystem::path& file, const std::string& header) {
    SupportLogStart start;
    start.file = file;
    platform::LogFile opened;
    std::string why;
    const platform::LogOpen result = platform::openNamedLog(file, opened, why, start.notice);
    if (result == platform::LogOpen::Opened) {
        startLog(std::move(opened), file, header);
        start.opened = true;
        return start;
    }
    start.refused = result == platform::LogOpen::Refused;
    start.problem = start.refused ? why : "the file cannot be created (" + why + ")";
    noLog(file, start.problem);
    return start;
}

std::filesystem::path supportLogFile() {
    SupportLog& log = supportLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    return log.path;
}

std::string supportLogProblem() {
    SupportLog& log = supportLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    return log.problem;
}

void setSupportLogHeader(const std::string& header) {
    SupportLog& log = supportLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    if (!log.file.isOpen() || header == log.header) return;
    log.header = header;
    if (!log.bodyKept) {
        const bool atLineStart = log.atLineStart;
        if (!atLineStart) appendLocked(log, "\n");
        appendLocked(log, (header + "\n").c_str());
        return;
    }
    writeLocked(log, header + '\n' + log.body, true);
}

void writeSupportLog(const std::string& text) {
    SupportLog& log = supportLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    if (!log.atLineStart) appendLocked(log, "\n");
    appendLocked(log, text.c_str());
    if (!log.atLineStart) appendLocked(log, "\n");
}

void closeSupportLog() {
    setDebugCopy(nullptr);
    SupportLog& log = supportLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.file.close();
    log.body.clear();
}
