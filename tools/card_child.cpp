#include "tools/card_child.h"

#include "tools/os_services.h"

#include <QStringList>

namespace {

CardChildCommand& childCommand() {
    static CardChildCommand command{std::string(), {}};
    return command;
}

}  // namespace

const CardChildCommand& cardChildCommand() {
    CardChildCommand& command = childCommand();
    if (command.program.empty()) command.program = programFile();
    return command;
}

void setCardChildCommand(const CardChildCommand& command) {
    childCommand() = command;
}

std::vector<std::string> cardInstallArguments(const CardOptions& options, const std::string& target,
                                              bool drive, const std::string& log) {
    std::vector<std::string> arguments = {"install", target, "--files", options.filesDir,
                                          "--firmware", options.firmwareFile};
    if (drive) arguments.insert(arguments.end(), {"--yes-destroy-drive", target});
    if (!log.empty()) arguments.insert(arguments.end(), {"--log", log});
    return arguments;
}

CardChild::CardChild() : process_(std::make_unique<QProcess>()) {}

CardChild::~CardChild() {
    // A child still running when the parent gives up on it is left to end
    // on its own: stopping it mid-write would leave its card half built.
    if (running()) process_->waitForFinished(-1);
}

bool CardChild::start(const std::vector<std::string>& arguments) {
    const CardChildCommand& command = cardChildCommand();
    QStringList list;
    for (const std::string& argument : command.leading) list << QString::fromStdString(argument);
    for (const std::string& argument : arguments) list << QString::fromStdString(argument);
    begun_ = std::chrono::steady_clock::now();
    started_ = true;
    process_->start(QString::fromStdString(command.program), list);
    if (!process_->waitForStarted(-1)) {
        startError_ = "t6-card could not be started for this card: " +
                      process_->errorString().toStdString() + ".";
        ended_ = true;
        finished_ = std::chrono::steady_clock::now();
        return false;
    }
    pid_ = static_cast<int64_t>(process_->processId());
    return true;
}

void CardChild::takeLines(std::string& buffer, const QByteArray& bytes,
                          std::vector<std::string>& lines) {
    buffer.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    std::size_t end;
    while ((end = buffer.find('\n')) != std::string::npos) {
        std::string line = buffer.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        buffer.erase(0, end + 1);
    }
}

bool CardChild::poll(std::vector<std::string>& stageLines) {
    if (!started_ || ended_) return ended_;
    // A look without waiting: what is in the pipes, and whether it ended.
    process_->waitForReadyRead(0);
    const bool gone = process_->state() == QProcess::NotRunning;
    std::vector<std::string> errors;
    takeLines(out_, process_->readAllStandardOutput(), stageLines);
    takeLines(err_, process_->readAllStandardError(), errors);
    if (gone) {
        // A last line without its line end still counts.
        if (!out_.empty()) stageLines.push_back(out_);
        if (!err_.empty()) errors.push_back(err_);
        out_.clear();
        err_.clear();
    }
    if (!stageLines.empty()) stage_ = stageLines.back();
    for (const std::string& line : errors)
        if (!line.empty()) lastError_ = line;
    if (gone) {
        ended_ = true;
        finished_ = std::chrono::steady_clock::now();
        exitStatus_ = process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : -1;
    }
    return ended_;
}

std::string CardChild::cause() const {
    if (!startError_.empty()) return startError_;
    if (succeeded()) return std::string();
    if (!lastError_.empty()) return lastError_;
    if (exitStatus_ < 0) return "t6-card ended abnormally while rebuilding this card.";
    return "t6-card ended with status " + std::to_string(exitStatus_) + " and said nothing.";
}

double CardChild::seconds() const {
    const auto end = ended_ ? finished_ : std::chrono::steady_clock::now();
    return std::chrono::duration<double>(end - begun_).count();
}
