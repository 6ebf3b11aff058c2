#pragma once
// What several runs side by side show on a console: on a terminal one status
// line per card, rewritten in place; elsewhere every line whole, prefixed
// with the card's name, so that a log of the output reads in order. And the
// table of results at the end.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class CardBoard {
public:
    CardBoard(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}

    // A card joins the board with its first status.
    int add(const std::string& name, const std::string& status);
    // The card's status changed; on a terminal its line is drawn again.
    // Elsewhere the status is not printed: its lines are.
    void setStatus(int card, const std::string& status);
    // A line the card printed: whole, prefixed, where no status lines are kept.
    void line(int card, const std::string& text);
    // Draws the changed status lines (a terminal), at most once per call.
    void draw();

private:
    struct Card {
        std::string name, status;
    };
    std::ostream& out_;
    bool terminal_;
    std::vector<Card> cards_;
    int drawn_ = 0;
    bool changed_ = false;
};

// Rows of text as columns, each as wide as its widest cell, the last one
// unpadded; a header row first.
std::string tableText(const std::vector<std::vector<std::string>>& rows);

// "3.4" seconds.
std::string secondsText(double seconds);

// A card's size as the drive list shows it ("512 MB"); "-" when unknown.
std::string sizeText(int64_t bytes);
