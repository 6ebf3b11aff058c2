#include "tools/card_station.h"

#include "disk/drive_probe.h"
#include "disk/reader_media.h"
#include "platform/platform.h"
#include "tools/card_board.h"
#include "tools/card_child.h"
#include "tools/card_commands.h"
#include "tools/card_log.h"
#include "tools/interrupt_relay.h"
#include "util/support_log.h"

#include <QTime>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

namespace {

constexpr auto POLL_INTERVAL = std::chrono::milliseconds(500);
// How often a run under way is looked at, between two polls of the readers.
constexpr auto RUN_LOOK_INTERVAL = std::chrono::milliseconds(50);

struct Reader {
    std::string name;  // as named: a drive number, or a device path that stays
    enum class State { Empty, Running, Handled } state = State::Empty;
    uint32_t handledCount = 0;  // the media change count when its card was handled
    int drive = NO_DRIVE;       // the drive its card is in, found anew for each card
    std::string size;
    std::string log;
    std::unique_ptr<CardChild> run;
};

// The drive a reader is now: its number, or the drive its device path
// (a stable link such as /dev/disk/by-path/...) leads to; NO_DRIVE when it
// leads nowhere (the reader is unplugged) or to something not a drive.
int readerDrive(const std::string& name) {
    const int number = parseDriveArgument(name);
    if (number != NO_DRIVE) return number;
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(std::filesystem::u8path(name), error);
    if (error) return NO_DRIVE;
    const platform::DeviceNode node = platform::os().deviceNode(target.u8string());
    return node.kind == platform::DeviceKind::Drive ? node.driveNumber : NO_DRIVE;
}

// Every reader names a removable drive now; the sentence of the first that does not.
bool readersUsable(const std::vector<std::string>& names, std::string& sentence) {
    for (const std::string& name : names) {
        const int drive = readerDrive(name);
        const ReaderMedia media = drive == NO_DRIVE ? ReaderMedia() : readerMedia(drive);
        if (!media.reader) {
            sentence = "The reader " + name + " names no drive here; name a card reader (t6-card list).";
            return false;
        }
        if (!media.removable) {
            sentence = "The reader " + name + " is drive " + std::to_string(drive) +
                       ", whose media are not removable: name a card reader.";
            return false;
        }
    }
    return true;
}

std::string clockText() {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
}

class Station {
public:
    Station(const CardOptions& options, std::ostream& out) : options_(options), out_(out) {
        for (const std::string& name : options.readers) {
            Reader reader;
            reader.name = name;
            readers_.push_back(std::move(reader));
        }
    }

    int run() {
        out_ << "Watching " << readers_.size() << (readers_.size() == 1 ? " reader" : " readers")
             << " for cards; every card put in is rebuilt. Ctrl-C stops." << std::endl;
        auto nextPoll = std::chrono::steady_clock::now();
        while (!relay_.interrupted() || anyRunning()) {
            if (!relay_.interrupted() && std::chrono::steady_clock::now() >= nextPoll) {
                for (Reader& reader : readers_) look(reader);
                nextPoll += POLL_INTERVAL;
            }
            for (Reader& reader : readers_) follow(reader);
            std::this_thread::sleep_for(RUN_LOOK_INTERVAL);
        }
        out_ << "Stopped: rebuilt " << rebuilt_ << ", failed " << failed_ << "." << std::endl;
        writeSupportLog("Stopped: rebuilt " + std::to_string(rebuilt_) + ", failed " +
                        std::to_string(failed_) + ".");
        relay_.finish();
        return failed_ == 0 ? EXIT_OK : EXIT_FAILED;
    }

private:
    bool anyRunning() const {
        for (const Reader& reader : readers_)
            if (reader.state == Reader::State::Running) return true;
        return false;
    }

    // A reader not busy with a card: a card newly in it starts its run.
    void look(Reader& reader) {
        if (reader.state == Reader::State::Running) return;
        const int drive = readerDrive(reader.name);
        const ReaderMedia media = drive == NO_DRIVE ? ReaderMedia() : readerMedia(drive);
        if (!media.reader || !media.media) {
            reader.state = Reader::State::Empty;
            return;
        }
        // The card handled last is still in it: left alone, whatever became of it.
        if (reader.state == Reader::State::Handled && media.changeCount == reader.handledCount) return;
        start(reader, drive);
    }

    void start(Reader& reader, int drive) {
        reader.drive = drive;
        DriveDescription description;
        reader.size = probeDrive(drive, description) ? sizeText(description.diskSize) : "-";
        reader.log = cardLogFile(++cards_, reader.name);
        reader.run = std::make_unique<CardChild>();
        if (reader.run->start(cardInstallArguments(options_, std::to_string(drive), true, reader.log)))
            relay_.add(reader.run->pid());
        reader.state = Reader::State::Running;
    }

    // A run under way: its end gives the card's line.
    void follow(Reader& reader) {
        if (reader.state != Reader::State::Running) return;
        std::vector<std::string> lines;
        if (!reader.run->poll(lines)) return;
        relay_.remove(reader.run->pid());
        const bool good = reader.run->succeeded();
        ++(good ? rebuilt_ : failed_);
        std::ostringstream line;
        line << clockText() << "  reader " << reader.name << "  " << reader.size << "  "
             << (good ? std::string("rebuilt and checked") : reader.run->cause()) << "  "
             << secondsText(reader.run->seconds()) << " s  (rebuilt " << rebuilt_ << ", failed "
             << failed_ << ")";
        out_ << line.str() << std::endl;
        writeSupportLog(line.str() + (reader.log.empty() ? std::string() : "; its log: " + reader.log));
        // What the reader says now is this card's: a change from it is the next card.
        reader.handledCount = readerMedia(reader.drive).changeCount;
        reader.state = Reader::State::Handled;
        reader.run.reset();
    }

    const CardOptions& options_;
    std::ostream& out_;
    std::vector<Reader> readers_;
    InterruptRelay relay_;
    int cards_ = 0, rebuilt_ = 0, failed_ = 0;
};

}  // namespace

int stationCommand(const CardOptions& options, std::ostream& out, std::ostream& err) {
    std::string sentence;
    if (!readersUsable(options.readers, sentence)) {
        err << cardUsageError(sentence) << std::flush;
        return EXIT_USAGE;
    }
    CardOptions checked = options;
    if (!checkCardSources(checked, err)) return EXIT_FAILED;
    return Station(checked, out).run();
}
