#include "tools/card_options.h"

#include "fat/fat_geometry.h"

#include <cstring>
#include <map>
#include <set>

namespace {

constexpr uint64_t MAX_IMAGE_SECTORS = 0xFFFFFFFFull;  // the raw disk layer stops below 2^32
constexpr uint32_t MAX_HEADS = 255;
constexpr uint32_t MAX_SECTORS_PER_TRACK = 63;
constexpr int MAX_DRIVE_NUMBER = 99;
constexpr char DRIVE_PATH_PREFIX[] = "\\\\.\\PhysicalDrive";

const std::map<std::string, CardCommand> COMMANDS = {
    {"list", CardCommand::List},           {"image", CardCommand::Image},
    {"install", CardCommand::Install},
    {"partition", CardCommand::Partition}, {"format", CardCommand::Format},
    {"bootloader", CardCommand::Bootloader}, {"inspect", CardCommand::Inspect},
    {"station", CardCommand::Station},
};

// Options each command accepts; all but the flags take a value.
const std::map<CardCommand, std::set<std::string>> ALLOWED = {
    {CardCommand::List, {}},
    {CardCommand::Image, {"--size", "--sectors", "--geometry", "--files", "--firmware", "--force"}},
    {CardCommand::Install,
     {"--files", "--firmware", "--geometry", "--yes-destroy-drive", "--allow-loop"}},
    {CardCommand::Partition, {"--geometry", "--yes-destroy-drive", "--allow-loop"}},
    {CardCommand::Format,
     {"--geometry", "--yes-destroy-drive", "--partition", "--fat", "--cluster-bytes", "--label",
      "--allow-loop"}},
    {CardCommand::Bootloader, {"--geometry", "--yes-destroy-drive", "--allow-loop"}},
    {CardCommand::Inspect, {"--files", "--firmware", "--allow-loop"}},
    {CardCommand::Station, {"--reader", "--files", "--firmware", "--yes-destroy-cards-in"}},
};

// Options that stand alone, without a value.
const std::set<std::string> FLAGS = {"--force", "--allow-loop"};

// Options that take several values (each argument up to the next option) and
// may be given more than once; --yes-destroy-drive only where several cards
// are rebuilt, and then only values that name drives.
bool takesValues(CardCommand command, const std::string& name) {
    if (name == "--yes-destroy-drive") return command == CardCommand::Install;
    return name == "--reader" || name == "--yes-destroy-cards-in";
}

// Plain decimal digits only, no sign, no suffix, within `limit`.
bool parseNumber(const std::string& text, uint64_t limit, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (digit > limit || result > (limit - digit) / 10) return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

bool parseGeometry(const std::string& text, uint32_t& heads, uint32_t& sectorsPerTrack) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) return false;
    uint64_t h = 0, s = 0;
    if (!parseNumber(text.substr(0, slash), MAX_HEADS, h) ||
        !parseNumber(text.substr(slash + 1), MAX_SECTORS_PER_TRACK, s) || h == 0 || s == 0)
        return false;
    heads = static_cast<uint32_t>(h);
    sectorsPerTrack = static_cast<uint32_t>(s);
    return true;
}

// The 11 bytes of a FAT label field, in printable ASCII: readers decode the
// field in their own code page, so anything else would show differently on
// each of them, and a longer label would be cut short.
constexpr std::size_t MAX_LABEL_BYTES = 11;

bool validLabel(const std::string& label) {
    if (label.size() > MAX_LABEL_BYTES) return false;
    for (unsigned char c : label)
        if (c < 0x20 || c > 0x7E || std::strchr("\"*+,./:;<=>?[\\]|", c) != nullptr) return false;
    return true;
}

bool fail(std::string& error, const std::string& text) {
    error = text;
    return false;
}

// Checks one option's value and stores it.
bool applyOption(const std::string& name, const std::string& value, CardOptions& options,
                 std::string& error) {
    uint64_t number = 0;
    if (name == "--size") {
        if (!parseNumber(value, MAX_IMAGE_SECTORS * 512, number) || number == 0 || number % 512 != 0)
            return fail(error, "--size takes a whole number of 512-byte sectors in bytes, "
                               "below 2 TiB.");
        options.imageSectors = number / 512;
    } else if (name == "--sectors") {
        if (!parseNumber(value, MAX_IMAGE_SECTORS, number) || number == 0)
            return fail(error, "--sectors takes a number of sectors from 1 to 4294967295.");
        options.imageSectors = number;
    } else if (name == "--geometry") {
        if (!parseGeometry(value, options.heads, options.sectorsPerTrack))
            return fail(error, "--geometry takes HEADS/SECTORS with 1 to 255 heads and 1 to 63 "
                               "sectors per track, for example 255/63.");
        options.geometryGiven = true;
    } else if (name == "--files") {
        options.filesDir = value;
    } else if (name == "--firmware") {
        options.firmwareFile = value;
    } else if (name == "--reader" || name == "--yes-destroy-cards-in") {
        if (parseDriveArgument(value) == NO_DRIVE && !isDevicePath(value))
            return fail(error, name + " takes readers named by drive number or device path.");
        (name == "--reader" ? options.readers : options.readerConfirmations).push_back(value);
    } else if (name == "--yes-destroy-drive") {
        options.confirmations.push_back(value);
        if (isDevicePath(value)) {
            options.confirmedDevice = value;
        } else {
            options.confirmedDrive = parseDriveArgument(value);
            if (options.confirmedDrive == NO_DRIVE)
                return fail(error, "--yes-destroy-drive takes the number (or device path) of the "
                                   "drive to overwrite.");
        }

    } else if (name == "--allow-loop") {
        options.allowLoop = true;
    } else if (name == "--force") {
        options.force = true;
    } else if (name == "--partition") {
        if (!parseNumber(value, 3, number))
            return fail(error, "--partition takes a partition entry from 0 to 3.");
        options.partitionIndex = static_cast<uint32_t>(number);
    } else if (name == "--fat") {
        if (value != "0" && value != "16" && value != "32")
            return fail(error, "--fat takes 0 (chosen by size), 16 or 32.");
        options.fatType = std::stoi(value);
    } else if (name == "--cluster-bytes") {
        if (!parseNumber(value, MAX_CLUSTER_BYTES, number) || (number != 0 && !isFatClusterSize(number)))
            return fail(error, "--cluster-bytes takes 0 (chosen by size) or a power of two "
                               "from 512 to 65536.");
        options.clusterBytes = static_cast<uint32_t>(number);
    } else if (name == "--label") {
        // Readers take a label that is empty or begins with a space for no label.
        if (value.empty() || value.front() == ' ')
            return fail(error, "--label takes a label that is not empty and does not begin with "
                               "a space.");
        if (!validLabel(value))
            return fail(error, "--label takes at most 11 printable ASCII characters other than "
                               "\" * + , . / : ; < = > ? [ \\ ] |, which FAT forbids in a label.");
        options.label = value;
    }
    return true;
}

// How a drive argument is compared: drive numbers in either form alike.
std::string driveKey(const std::string& name) {
    const int number = parseDriveArgument(name);
    return number == NO_DRIVE ? name : std::to_string(number);
}

// Each of `named` (drives or readers) is named once and confirmed by `option`,
// which names nothing else.
bool checkConfirmed(const std::vector<std::string>& named,
                    const std::vector<std::string>& confirmations, const std::string& what,
                    const std::string& option, const std::string& destroys, std::string& error) {
    std::set<std::string> keys, confirmed;
    for (const std::string& name : confirmations) confirmed.insert(driveKey(name));
    for (const std::string& name : named) {
        const std::string key = driveKey(name);
        if (!keys.insert(key).second) return fail(error, "The " + what + " " + name + " is named twice.");
        if (confirmed.count(key) == 0)
            return fail(error, "The " + what + " " + name + " " + destroys + "; confirm with " +
                                   option + " " + name + ".");
    }
    for (const std::string& name : confirmations)
        if (keys.count(driveKey(name)) == 0)
            return fail(error, option + " " + name + " names no " + what + " of this command.");
    return true;
}

// Several cards of one install: image files as they are, every drive confirmed.
bool checkManyTargets(const CardOptions& options, std::string& error) {
    if (options.geometryGiven)
        return fail(error, "--geometry is for one image file; install several cards without it.");
    if (options.allowLoop) return fail(error, "--allow-loop is for one loop device at a time.");
    std::vector<std::string> drives;
    std::set<std::string> images;
    for (const std::string& target : options.targets) {
        if (target.empty()) return fail(error, "install takes image files or drives, not an empty name.");
        if (parseDriveArgument(target) != NO_DRIVE || isDevicePath(target))
            drives.push_back(target);
        else if (!images.insert(target).second)
            return fail(error, "The image " + target + " is named twice.");
    }
    return checkConfirmed(drives, options.confirmations, "drive", "--yes-destroy-drive",
                          "is overwritten", error);
}

// Rules that concern the whole command line rather than one option.
bool checkCombination(const CardOptions& options, const std::set<std::string>& given,
                      std::string& error) {
    const auto has = [&](const char* name) { return given.count(name) != 0; };
    switch (options.command) {
    case CardCommand::Image:
        if (has("--size") == has("--sectors"))
            return fail(error, "image needs exactly one of --size and --sectors.");
        if (has("--files") != has("--firmware"))
            return fail(error, "--files and --firmware go together: the deployment copies both.");
        if (options.namesDrive())
            return fail(error, "image writes an image file; name a file, not a drive.");
        break;
    case CardCommand::Install:
        if (!has("--files") || !has("--firmware"))
            return fail(error, "install needs --files and --firmware: the deployment copies both.");
        if (options.manyTargets() || options.confirmations.size() > 1)
            return checkManyTargets(options, error);
        break;
    case CardCommand::Station:
        if (options.readers.empty()) return fail(error, "station needs --reader.");
        if (!has("--files") || !has("--firmware"))
            return fail(error, "station needs --files and --firmware: the deployment copies both.");
        return checkConfirmed(options.readers, options.readerConfirmations, "reader",
                              "--yes-destroy-cards-in", "rebuilds every card put into it", error);
    case CardCommand::Inspect:
        if (has("--files") != has("--firmware"))
            return fail(error, "--files and --firmware go together: the payload is both.");
        break;
    case CardCommand::Format:
        if (!has("--partition")) return fail(error, "format needs --partition.");
        if (!has("--label")) return fail(error, "format needs --label.");
        break;
    default:
        break;
    }
    if (has("--allow-loop") && options.devicePath.empty())
        return fail(error, "--allow-loop is for a loop device named by its device path.");
    if (options.namesDrive()) {
        if (options.geometryGiven)
            return fail(error, "--geometry is for image files; a drive reports its own.");
        const bool writes = options.command == CardCommand::Install ||
                            options.command == CardCommand::Partition ||
                            options.command == CardCommand::Format ||
                            options.command == CardCommand::Bootloader;
        // A drive named by its device path is confirmed with that same path.
        const std::string name = options.devicePath.empty()
                                     ? std::to_string(options.driveNumber)
                                     : options.devicePath;
        const bool confirmed = options.devicePath.empty()
                                   ? options.confirmedDrive == options.driveNumber
                                   : options.confirmedDevice == options.devicePath;
        if (writes && !confirmed)
            return fail(error, "Writing to drive " + name +
                                   " destroys its contents; confirm with --yes-destroy-drive " +
                                   name + ".");
    } else if (has("--yes-destroy-drive")) {
        return fail(error, "--yes-destroy-drive is for drives, not for image files.");
    }
    return true;
}

}  // namespace

bool isDevicePath(const std::string& text) {
    return text.compare(0, 5, "/dev/") == 0;
}

CardOptions CardOptions::forTarget(const std::string& name) const {
    CardOptions one = *this;
    one.targets = {name};
    one.target = name;
    one.devicePath = isDevicePath(name) ? name : std::string();
    one.driveNumber = one.devicePath.empty() ? parseDriveArgument(name) : NO_DRIVE;
    return one;
}

int parseDriveArgument(const std::string& text) {
    std::string digits = text;
    const std::string prefix = DRIVE_PATH_PREFIX;
    if (text.compare(0, prefix.size(), prefix) == 0) digits = text.substr(prefix.size());
    uint64_t number = 0;
    if (!parseNumber(digits, MAX_DRIVE_NUMBER, number)) return NO_DRIVE;
    return static_cast<int>(number);
}

bool parseCardOptions(const std::vector<std::string>& arguments, CardOptions& options,
                      std::string& error) {
    options = CardOptions();
    if (arguments.empty()) return fail(error, "No command given.");
    if (arguments[0] == "--help" || arguments[0] == "-h" || arguments[0] == "help") {
        options.command = CardCommand::Help;
        return arguments.size() == 1 || fail(error, "--help takes nothing else.");
    }
    if (arguments[0] == "--version") {
        options.command = CardCommand::Version;
        return arguments.size() == 1 || fail(error, "--version takes nothing else.");
    }
    const auto command = COMMANDS.find(arguments[0]);
    if (command == COMMANDS.end()) return fail(error, "Unknown command \"" + arguments[0] + "\".");
    options.command = command->second;
    const std::set<std::string>& allowed = ALLOWED.at(options.command);

    std::set<std::string> given;
    std::vector<std::string> operands;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.compare(0, 2, "--") != 0) {
            operands.push_back(argument);
            continue;
        }
        std::string name = argument, value;
        const std::size_t equals = argument.find('=');
        const bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        if (allowed.count(name) == 0)
            return fail(error, "Option " + name + " does not apply to " + arguments[0] + ".");
        const bool several = takesValues(options.command, name);
        if (!given.insert(name).second && !several)
            return fail(error, "Option " + name + " is given twice.");
        if (FLAGS.count(name) != 0) {
            if (inlineValue) return fail(error, "Option " + name + " takes no value.");
        } else if (!inlineValue) {
            if (i + 1 >= arguments.size()) return fail(error, "Option " + name + " needs a value.");
            value = arguments[++i];
        }
        if (!applyOption(name, value, options, error)) return false;
        // The further values of an option that takes several.
        while (several && !inlineValue && i + 1 < arguments.size() &&
               arguments[i + 1].compare(0, 2, "--") != 0 &&
               (name != "--yes-destroy-drive" || parseDriveArgument(arguments[i + 1]) != NO_DRIVE ||
                isDevicePath(arguments[i + 1]))) {
            if (!applyOption(name, arguments[++i], options, error)) return false;
        }
    }

    const bool none = options.command == CardCommand::List || options.command == CardCommand::Station;
    const std::size_t wanted = none ? 0 : 1;
    options.targets = operands;
    if (options.command == CardCommand::Install && operands.size() > 1)
        return checkCombination(options, given, error);
    if (operands.size() != wanted) {
        if (options.command == CardCommand::Station)
            return fail(error, "station takes its readers with --reader, no image or drive.");
        if (wanted == 0) return fail(error, "list takes no image or drive.");
        return fail(error, arguments[0] + " takes exactly one image file or drive.");
    }
    if (wanted == 1) {
        if (operands[0].empty())
            return fail(error, arguments[0] + " takes an image file or drive, not an empty name.");
        options = options.forTarget(operands[0]);
    }
    return checkCombination(options, given, error);
}

// One line per form, as "Usage:" and "or:" lines, so that the manual page's
// synopsis (help2man) takes each form whole.
const char* cardUsage() {
    return "Usage: t6-card list\n"
           "  or:  t6-card image OUT.img (--size BYTES | --sectors N) [--geometry HEADS/SPT] "
           "[--files DIR --firmware FILE] [--force]\n"
           "  or:  t6-card install IMG|DRIVE --files DIR --firmware FILE [--geometry HEADS/SPT] "
           "[--yes-destroy-drive DRIVE] [--allow-loop]\n"
           "  or:  t6-card install IMG|DRIVE... --files DIR --firmware FILE "
           "[--yes-destroy-drive DRIVE...]\n"
           "  or:  t6-card station --reader READER... --files DIR --firmware FILE "
           "--yes-destroy-cards-in READER...\n"
           "  or:  t6-card partition IMG|DRIVE [--geometry HEADS/SPT]\n"
           "  or:  t6-card format IMG|DRIVE --partition 0..3 [--fat 0|16|32] [--cluster-bytes B] "
           "--label TEXT [--geometry HEADS/SPT]\n"
           "  or:  t6-card bootloader IMG|DRIVE [--geometry HEADS/SPT]\n"
           "  or:  t6-card inspect IMG|DRIVE [--files DIR --firmware FILE]\n"
           "Every command also takes --log FILE.\n"
           "\n"
           "DRIVE is a drive number as list shows it (or \\\\.\\PhysicalDriveN, or on Linux\n"
           "its device path /dev/sdX); writing to a drive needs --yes-destroy-drive naming\n"
           "the same drive, and removable media. A loop device (/dev/loopN) is taken only\n"
           "with --allow-loop, which waives the removable check for it alone. install\n"
           "rebuilds the card as the wizard does, several cards side by side when more are\n"
           "named; IMG must exist. The geometry of an image file defaults to 255/63.\n"
           "station rebuilds every card put into one of its readers until stopped.\n"
           "Exit status: 0 success, 1 failed, 2 bad usage.\n";
}

std::string cardUsageError(const std::string& sentence) {
    return sentence + "\n" + CARD_USAGE_HINT + "\n";
}
