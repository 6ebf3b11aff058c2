#include "tools/card_log.h"

#include "disk/drive_probe.h"
#include "platform/platform.h"
#include "util/support_log.h"

#include <filesystem>
#include <system_error>

namespace {

const char LOG_OPTION[] = "--log";

}  // namespace

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
