#pragma once
// The support log of a t6-card run: the --log option, the drive or image the
// first line names, and the error sentences that go into the log as well.

#include "tools/card_options.h"

#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

// Takes "--log FILE" (or "--log=FILE") out of `arguments`, which every
// command accepts, and leaves the rest to the command's own options. False,
// with a one-sentence `error`, when it has no value or comes twice.
bool takeLogOption(std::vector<std::string>& arguments, std::string& file, std::string& error);

// Whether `logFile` names a file the run itself reads or writes: the image
// (or OUT), its lock and partial file, the firmware, anything inside the
// --files folder. Then `error` says which, and the log must not be opened:
// opening it would empty that file.
bool logNamesRunFile(const CardOptions& options, const std::string& logFile, std::string& error);

// The usage error for a --log file that was refused (a link, a folder, a
// pipe, a device), with the reason.
std::string refusedLogError(const std::string& logFile, const std::string& why);

// Whether the command is a run that keeps a log (--help and --version are not).
bool commandKeepsLog(CardCommand command);

// What the log's first line says of the target: the drive with its vendor,
// product and size, or the image file with its size.
std::string logTargetText(const CardOptions& options);

// Writes to `screen` unchanged and each finished line also into the support log.
class LoggedStreamBuffer : public std::streambuf {
public:
    explicit LoggedStreamBuffer(std::ostream& screen) : screen_(screen) {}
    ~LoggedStreamBuffer() override;

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    std::ostream& screen_;
    std::string line_;
};

// Where a run that starts a run per card keeps the cards' logs: a folder
// beside its own log, named as that log without ".log", made when first
// asked for. Empty when this run keeps no log.
std::string cardLogFolder();

// The log of the `index`th card of such a run, named `name` on the command
// line ("3", "/dev/sdb", "c.img"), in that folder; empty where there is none.
std::string cardLogFile(int index, const std::string& name);
