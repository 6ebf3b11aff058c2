#pragma once
// One card's run in a t6-card process of its own, so that cards rebuilt side
// by side share nothing: each has its own log, its own drive guard, its own
// answer to an interrupt. The parent reads the child's stage lines as they
// come and its last error sentence, which names the cause of a failure.

#include "tools/card_options.h"

#include <QProcess>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// How a child run is started: this program, with any arguments that must
// lead every command (a test build names its simulated machine there).
struct CardChildCommand {
    std::string program;
    std::vector<std::string> leading;
};
const CardChildCommand& cardChildCommand();
void setCardChildCommand(const CardChildCommand& command);

// One card's `install`: this run's payload, the drive confirmed when the
// target is one, and the card's own log when there is one.
std::vector<std::string> cardInstallArguments(const CardOptions& options, const std::string& target,
                                              bool drive, const std::string& log);

class CardChild {
public:
    CardChild();
    ~CardChild();
    CardChild(const CardChild&) = delete;
    CardChild& operator=(const CardChild&) = delete;

    // Starts `t6-card <arguments>`; false (with the reason as its cause)
    // when the program cannot be started.
    bool start(const std::vector<std::string>& arguments);
    // Takes what the child wrote since the last call: its stage lines go to
    // `stageLines`. True once it has ended and everything it wrote is taken.
    bool poll(std::vector<std::string>& stageLines);

    bool running() const { return started_ && !ended_; }
    bool succeeded() const { return ended_ && exitStatus_ == 0; }
    int exitStatus() const { return exitStatus_; }
    int64_t pid() const { return pid_; }
    // The last stage line ("[ 61%] Copying files..."); empty before the first.
    const std::string& stage() const { return stage_; }
    // Why the run failed: its last error sentence, or how the process ended.
    std::string cause() const;
    double seconds() const;

private:
    void takeLines(std::string& buffer, const QByteArray& bytes, std::vector<std::string>& lines);

    std::unique_ptr<QProcess> process_;
    bool started_ = false, ended_ = false;
    int exitStatus_ = -1;
    int64_t pid_ = 0;
    std::string out_, err_, stage_, lastError_, startError_;
    std::chrono::steady_clock::time_point begun_, finished_;
};
