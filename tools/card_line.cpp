#include "tools/card_line.h"

#include "disk/drive_probe.h"
#include "platform/platform.h"
#include "tools/card_board.h"
#include "tools/card_child.h"
#include "tools/card_commands.h"
#include "tools/card_log.h"
#include "tools/card_target.h"
#include "tools/interrupt_relay.h"
#include "tools/os_services.h"
#include "util/support_log.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

namespace {

constexpr auto POLL_INTERVAL = std::chrono::milliseconds(50);

struct LineCard {
    std::string name;    // as named on the command line
    std::string device;  // the OS's name of the drive, or "image"
    bool drive = false;
    std::string size;
    std::string log;
    int row = 0;
    bool told = false;  // its result is shown
    std::unique_ptr<CardChild> run;
};

// What the table says of a card before its run: which drive it is and how
// big, asked before any run holds it. False, with the reason, for a drive
// named twice under two names.
bool describeCards(const CardOptions& options, std::vector<LineCard>& cards, std::ostream& err) {
    std::map<int, std::string> drives;
    for (const std::string& target : options.targets) {
        LineCard card;
        card.name = target;
        CardOptions one = options.forTarget(target);
        if (one.namesDrive()) {
            if (!resolveDevicePath(one, err)) return false;
            const auto named = drives.emplace(one.driveNumber, target);
            if (!named.second) {
                err << target << " and " << named.first->second << " are the same drive; name it once."
                    << std::endl;
                return false;
            }
            card.drive = true;
            card.device = platform::os().devicePath(one.driveNumber);
            DriveDescription drive;
            card.size = probeDrive(one.driveNumber, drive) ? sizeText(drive.diskSize) : "-";
        } else {
            std::error_code error;
            const auto bytes = std::filesystem::file_size(std::filesystem::u8path(target), error);
            card.device = "image";
            card.size = error ? "-" : sizeText(static_cast<int64_t>(bytes));
        }
        cards.push_back(std::move(card));
    }
    return true;
}

// The card's status once its run ended.
std::string resultStatus(const CardChild& run) {
    return run.succeeded() ? "rebuilt and checked (" + secondsText(run.seconds()) + " s)"
                           : "failed: " + run.cause();
}

}  // namespace

int installManyCommand(const CardOptions& given, std::ostream& out, std::ostream& err) {
    // A payload that cannot go on a card is said once, not once per card.
    CardOptions options = given;
    if (!checkCardSources(options, err)) return EXIT_FAILED;
    std::vector<LineCard> cards;
    if (!describeCards(options, cards, err)) return EXIT_FAILED;
    InterruptRelay relay;
    CardBoard board(out, outputIsTerminal());
    int index = 0;
    for (LineCard& card : cards) {
        card.log = cardLogFile(++index, card.name);
        card.row = board.add(card.name, card.device + "  starting");
        card.run = std::make_unique<CardChild>();
        if (card.run->start(cardInstallArguments(options, card.name, card.drive, card.log)))
            relay.add(card.run->pid());
    }
    board.draw();
    for (bool running = true; running;) {
        running = false;
        for (LineCard& card : cards) {
            std::vector<std::string> lines;
            const bool ended = card.run->poll(lines);
            for (const std::string& line : lines) board.line(card.row, line);
            if (!ended) {
                if (!card.run->stage().empty())
                    board.setStatus(card.row, card.device + "  " + card.run->stage());
                running = true;
            } else if (!card.told) {
                card.told = true;
                relay.remove(card.run->pid());
                board.setStatus(card.row, card.device + "  " + resultStatus(*card.run));
                board.line(card.row, resultStatus(*card.run));
            }
        }
        board.draw();
        if (running) std::this_thread::sleep_for(POLL_INTERVAL);
    }

    std::vector<std::vector<std::string>> rows = {{"drive", "device", "size", "result", "seconds", "cause"}};
    bool allGood = true;
    for (const LineCard& card : cards) {
        allGood = allGood && card.run->succeeded();
        rows.push_back({card.name, card.device, card.size,
                        card.run->succeeded() ? "rebuilt and checked" : "failed",
                        secondsText(card.run->seconds()), card.run->cause()});
    }
    const std::string table = tableText(rows);
    out << '\n' << table << std::flush;
    writeSupportLog("Results:\n" + table);
    for (const LineCard& card : cards)
        writeSupportLog("The log of " + card.name + ": " +
                        (card.log.empty() ? std::string("in t6-card's own log folder") : card.log));
    relay.finish();
    return allGood ? EXIT_OK : EXIT_FAILED;
}
