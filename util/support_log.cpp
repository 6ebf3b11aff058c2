#include "util/support_log.h"

#include "platform/state_folder.h"
#include "util/debug.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <system_error>
#include <vector>

namespace {

// Past this the lines are no longer kept for a rewrite of the header; a
// later header then goes in as a line of its own.
constexpr std::size_t MAX_KEPT_BODY = 4u << 20;

struct SupportLog {
    std::mutex mutex;
    std::ofstream file;
    std::filesystem::path path;
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

// Caller holds the mutex. Every line begins with the time it was written.
void appendLocked(SupportLog& log, const char* text) {
    if (!log.file.is_open()) return;
    std::string stamped;
    for (const char* c = text; *c != '\0'; ++c) {
        if (log.atLineStart) stamped += supportLogTime() + ' ';
        stamped += *c;
        log.atLineStart = *c == '\n';
    }
    log.file << stamped;
    log.file.flush();
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

bool isRunLogOf(const std::filesystem::path& file, const std::string& program) {
    const std::string name = file.filename().string();
    const std::string prefix = program + "-";
    const std::string suffix = ".log";
    return name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
           name[prefix.size()] >= '0' && name[prefix.size()] <= '9';
}

// Removes the oldest of the program's logs in `folder` until at most `kept`
// are left.
void pruneRunLogs(const std::filesystem::path& folder, const std::string& program,
                  std::size_t kept) {
    std::error_code error;
    std::vector<std::filesystem::path> logs;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->is_regular_file(error) && isRunLogOf(entry->path(), program))
            logs.push_back(entry->path());
    }
    if (logs.size() <= kept) return;
    std::sort(logs.begin(), logs.end());
    for (std::size_t i = 0; i + kept < logs.size(); ++i) std::filesystem::remove(logs[i], error);
}

// Makes `folder` and the folders above it that are missing, each handed to
// the user the state belongs to.
bool makeFolders(const std::filesystem::path& folder) {
    std::error_code error;
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path at = folder; !at.empty() && !std::filesystem::exists(at, error);
         at = at.parent_path()) {
        missing.push_back(at);
        if (at == at.parent_path()) break;
    }
    for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
        if (!std::filesystem::create_directory(*level, error)) break;
        platform::handOverToUser(*level);
    }
    return std::filesystem::is_directory(folder, error);
}

}  // namespace

std::string supportLogTime() {
    return utcText(Clock::now(), "%Y-%m-%d %H:%M:%S", '.');
}

std::filesystem::path supportLogFolder(const std::string& program) {
    const std::filesystem::path state = platform::userStateFolder();
    return state.empty() ? state : state / program;
}

std::filesystem::path newRunLogFile(const std::filesystem::path& folder,
                                    const std::string& program, int kept) {
    std::error_code error;
    if (folder.empty() || !makeFolders(folder)) return std::filesystem::path();
    // A run begun in the same millisecond as another takes the next free one,
    // so that the names still sort in the order of the runs.
    Clock::time_point at = Clock::now();
    while (std::filesystem::exists(folder / runLogName(program, at), error))
        at += std::chrono::milliseconds(1);
    const std::filesystem::path file = folder / runLogName(program, at);
    pruneRunLogs(folder, program, kept > 0 ? static_cast<std::size_t>(kept - 1) : 0);
    return file;
}

bool openSupportLog(const std::filesystem::path& file, const std::string& header) {
    std::ofstream opened(file, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!opened) return false;
    platform::handOverToUser(file);
    SupportLog& log = supportLog();
    {
        std::lock_guard<std::mutex> lock(log.mutex);
        log.file = std::move(opened);
        log.path = file;
        log.header = header;
        log.body.clear();
        log.bodyKept = true;
        log.atLineStart = true;
        log.file << header << '\n';
        log.file.flush();
    }
    setDebugCopy(copyDebugLine);
    return true;
}

void setSupportLogHeader(const std::string& header) {
    SupportLog& log = supportLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    if (!log.file.is_open() || header == log.header) return;
    log.header = header;
    if (!log.bodyKept) {
        const bool atLineStart = log.atLineStart;
        if (!atLineStart) appendLocked(log, "\n");
        appendLocked(log, (header + "\n").c_str());
        return;
    }
    log.file.close();
    log.file.open(log.path, std::ios::out | std::ios::trunc | std::ios::binary);
    log.file << header << '\n' << log.body;
    log.file.flush();
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
