#include "tools/card_board.h"

#include "disk/drive_probe.h"
#include "tools/os_services.h"

#include <algorithm>
#include <cstdio>

int CardBoard::add(const std::string& name, const std::string& status) {
    cards_.push_back({name, status});
    changed_ = true;
    return static_cast<int>(cards_.size()) - 1;
}

void CardBoard::setStatus(int card, const std::string& status) {
    Card& entry = cards_.at(static_cast<std::size_t>(card));
    if (entry.status == status) return;
    entry.status = status;
    changed_ = true;
}

void CardBoard::line(int card, const std::string& text) {
    if (terminal_) return;
    out_ << cards_.at(static_cast<std::size_t>(card)).name << ": " << text << '\n';
}

void CardBoard::draw() {
    if (!terminal_) {
        out_.flush();
        return;
    }
    if (!changed_) return;
    std::size_t width = 0;
    for (const Card& card : cards_) width = std::max(width, card.name.size());
    // Back to the first line drawn, then every line anew (ESC[2K clears it);
    // a line is cut to the terminal's width, since a wrapped one would throw
    // the count of lines to go back off.
    if (drawn_ > 0) out_ << "\x1b[" << drawn_ << 'A';
    const std::size_t columns = static_cast<std::size_t>(std::max(terminalColumns() - 1, 20));
    for (const Card& card : cards_) {
        const std::string text = card.name + std::string(width - card.name.size() + 2, ' ') + card.status;
        out_ << "\r\x1b[2K" << text.substr(0, columns) << '\n';
    }
    out_.flush();
    drawn_ = static_cast<int>(cards_.size());
    changed_ = false;
}

std::string tableText(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t column = 0; column < row.size(); ++column) {
            if (widths.size() <= column) widths.push_back(0);
            widths[column] = std::max(widths[column], row[column].size());
        }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t column = 0; column < row.size(); ++column) {
            line += row[column];
            if (column + 1 < row.size()) line += std::string(widths[column] - row[column].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line + '\n';
    }
    return text;
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

std::string sizeText(int64_t bytes) {
    if (bytes <= 0) return "-";
    const DriveCapacity capacity = driveCapacity(bytes);
    return std::to_string(capacity.whole) + " " + capacity.unit;
}
