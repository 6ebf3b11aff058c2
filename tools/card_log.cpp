#include "tools/card_log.h"

#include "disk/drive_probe.h"
#include "tools/image_lock.h"
#include "platform/platform.h"
#include "platform/log_file.h"
#include "release/run_log.h"
#include "util/debug.h"
#include "util/support_log.h"

#include <cctype>

#include <filesystem>
#include <system_error>

namespace {

const char LOG_OPTION[] = "--log";

namespace fs = std::filesystem;

// `path` with every link and dot resolved as far as it exists.
fs::path resolved(const fs::path& path) {
    std::error_code error;
    fs::path full = fs::weakly_canonical(fs::absolute(path, error), error);
    return error ? fs::absolute(path, error).lexically_normal() : full;
}

// The same file: one path (after links), or one file under two names (a hard link).
bool sameFile(const fs::path& a, const fs::path& b) {
    if (resolved(a) == resolved(b)) return true;
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

bool isInside(const fs::path& file, const fs::path& folder) {
    const fs::path inner = resolved(file), outer = resolved(folder);
    auto at = inner.begin();
    for (auto part = outer.begin(); part != outer.end(); ++part, ++at) {
        if (part->empty()) continue;  // a trailing separator
        if (at == inner.end() || *at != *part) return false;
    }
    return true;
}

// A partial file of `image` as the image output makes them: ".<name>.XXXXXX.partial" beside it.
bool isPartialFileOf(const fs::path& file, const fs::path& image) {
    const std::string name = file.filename().string();
    const std::string prefix = "." + image.filename().string() + ".";
    const std::string suffix = ".partial";
    return resolved(file).parent_path() == resolved(image).parent_path() &&
           name.size() >= prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

bool logNamesRunFile(const CardOptions& options, const std::string& logFile, std::string& error) {
    if (options.manyTargets()) {
        for (const std::string& target : options.targets) {
            if (logNamesRunFile(options.forTarget(target), logFile, error)) return true;
        }
        return false;
    }
    const fs::path log = fs::u8path(logFile);
    std::string what;
    const bool imageRun = options.command != CardCommand::List && !options.namesDrive() &&
                          !options.target.empty();
    if (imageRun && sameFile(log, fs::u8path(options.target)))
        what = "the image this run works on";
    else if (imageRun && sameFile(log, fs::u8path(ImageLock::pathFor(options.target))))
        what = "the lock of the image this run works on";
    else if (imageRun && isPartialFileOf(log, fs::u8path(options.target)))
        what = "a partial file of the image this run builds";
    else if (!options.firmwareFile.empty() && sameFile(log, fs::u8path(options.firmwareFile)))
        what = "the firmware this run copies";
    else if (!options.filesDir.empty() && isInside(log, fs::u8path(options.filesDir)))
        what = "inside the boot folder this run copies";
    if (what.empty()) return false;
    error = "The log file " + logFile + " is " + what + "; name another file for --log.";
    return true;
}

std::string refusedLogError(const std::string& logFile, const std::string& why) {
    return "The log file " + logFile + " " + why + "; name a new file or a regular one for --log.";
}

bool takeLogOption(std::vector<std::string>& arguments, std::string& file, std::string& error) {
    const std::string inlineForm = std::string(LOG_OPTION) + "=";
    bool given = false;
    // The first argument is the command (or --help), never an option of it.
    for (std::size_t i = 1; i < arguments.size();) {
        std::string value;
        std::size_t taken = 0;
        if (arguments[i] == LOG_OPTION) {
            if (i + 1 >= arguments.size()) {
                error = "Option --log needs a value.";
                return false;
            }
            value = arguments[i + 1];
            taken = 2;
        } else if (arguments[i].compare(0, inlineForm.size(), inlineForm) == 0) {
            value = arguments[i].substr(inlineForm.size());
            taken = 1;
        } else {
            ++i;
            continue;
        }
        if (given) {
            error = "Option --log is given twice.";
            return false;
        }
        if (value.empty()) {
            error = "Option --log needs a file name.";
            return false;
        }
        given = true;
        file = value;
        arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i),
                        arguments.begin() + static_cast<std::ptrdiff_t>(i + taken));
    }
    return true;
}

bool commandKeepsLog(CardCommand command) {
    return command != CardCommand::Help && command != CardCommand::Version;
}

std::string logTargetText(const CardOptions& options) {
    if (options.command == CardCommand::List) return "none (list)";
    if (options.command == CardCommand::Station || options.manyTargets()) {
        const auto& names = options.manyTargets() ? options.targets : options.readers;
        std::string text = options.manyTargets() ? "several, one log each: " : "the cards in readers ";
        for (std::size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : ", ") + names[i];
        return text;
    }
    if (!options.namesDrive()) {
        if (options.command == CardCommand::Image)
            return "new image " + options.target + ", " +
                   std::to_string(options.imageSectors * 512) + " bytes";
        std::error_code error;
        const auto size = std::filesystem::file_size(options.target, error);
        return "image " + options.target +
               (error ? std::string(", not readable") : ", " + std::to_string(size) + " bytes");
    }
    int number = options.driveNumber;
    if (!options.devicePath.empty()) number = platform::os().deviceNode(options.devicePath).driveNumber;
    std::string text = "drive " + options.target;
    DriveDescription drive;
    if (number != NO_DRIVE && probeDrive(number, drive))
        return text + " (" + drive.vendor + " " + drive.product + ", " +
               std::to_string(drive.diskSize) + " bytes)";
    return text + " (no card with media found there)";
}

LoggedStreamBuffer::~LoggedStreamBuffer() {
    if (!line_.empty()) writeSupportLog(line_);
}

LoggedStreamBuffer::int_type LoggedStreamBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char character = traits_type::to_char_type(c);
    screen_.put(character);
    line_ += character;
    if (character == '\n') {
        writeSupportLog(line_);
        line_.clear();
    }
    return c;
}

int LoggedStreamBuffer::sync() {
    screen_.flush();
    return 0;
}

std::string cardLogFolder() {
    static std::string folder = [] {
        const RunLogPlace place = runLogPlace();
        if (place.path.empty() || !place.problem.empty()) return std::string();
        const fs::path log = fs::u8path(place.path);
        const fs::path cards = log.parent_path() / log.stem();
        platform::LogFolder made;
        std::string why;
        if (!made.open(cards, why)) {
            debugPrint("The folder of the card logs %s %s\n", cards.u8string().c_str(), why.c_str());
            return std::string();
        }
        return cards.u8string();
    }();
    return folder;
}

std::string cardLogFile(int index, const std::string& name) {
    const std::string folder = cardLogFolder();
    if (folder.empty()) return std::string();
    // The name's last part, in characters every file system takes.
    std::string part = fs::u8path(name).filename().u8string();
    if (part.empty() || parseDriveArgument(name) != NO_DRIVE)
        part = "drive-" + std::to_string(parseDriveArgument(name));
    for (char& c : part)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_') c = '-';
    return (fs::u8path(folder) / ("card-" + std::to_string(index) + "-" + part + ".log")).u8string();
}
