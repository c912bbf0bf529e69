// A plain model of the terminal, written from the rules rather than from the
// Screen: one container per row in screen order, every multi-line operation
// done one line at a time, no fast paths, and a decoder of its own that takes
// one byte at a time. The fuzzer holds the Screen to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/screen.hpp"

namespace vtsnap::model {

struct Cell {
    char16_t ch = u' ';
    CellAttr attr;
};

using Row = std::vector<Cell>;

class Terminal {
public:
    Terminal(std::int32_t cols, std::int32_t rows);

    void feed(const std::uint8_t* bytes, std::size_t length);

    // Empty when the Screen shows the same state; else what differs first.
    std::string differences(const Screen& screen) const;

private:
    // A parameter of a control sequence: its value and the sub-parameters
    // that follow it after ':'.
    struct Param {
        std::int32_t value = 0;
        std::vector<std::int32_t> subs;
    };

    enum class Set : std::uint8_t { Ascii, DecGraphics };

    // What the cursor save keeps.
    struct Saved {
        std::int32_t row = 0, col = 0;
        CellAttr attr;
        Set g0 = Set::Ascii, g1 = Set::Ascii;
        int invoked = 0;
        bool originMode = false;
    };

    // Decoding.
    void byte(std::uint8_t b);
    void ground(std::uint8_t b);
    void text(std::uint8_t b);
    void printCodePoint(std::uint32_t v);
    void control(std::uint8_t b);
    bool abandonedBy(std::uint8_t b);
    void escapeByte(std::uint8_t b);
    void csiByte(std::uint8_t b);
    void stringByte(std::uint8_t b);
    void startEscape();
    void sequenceEnded() { lastGraphic = 0; }
    void escDispatch(std::uint8_t final);
    std::vector<Param> params() const;
    void csiDispatch(std::uint8_t final);
    void setMode(const Param& p, bool on);
    void graphicRendition(const std::vector<Param>& list);

    // The terminal's operations.
    CellAttr eraseAttr() const { return CellAttr{kDefaultColor, currentAttr.bg}; }
    void clearRow(std::int32_t row, CellAttr fill);
    void blank(std::int32_t row, std::int32_t from, std::int32_t to);
    void putChar(char16_t unit);
    void lineFeed();
    void scrollUp(std::int32_t n);
    void scrollDown(std::int32_t n);
    void insertLines(std::int32_t n);
    void deleteLines(std::int32_t n);
    void eraseInDisplay(std::int32_t mode);
    void eraseInLine(std::int32_t mode);
    void moveToRow(std::int32_t n);
    void home();
    void save();
    void restore();
    void reset();

    std::int32_t rows;
    std::int32_t cols;
    std::vector<Row> grid;
    CellAttr currentAttr;
    std::int32_t cursorRow = 0, cursorCol = 0;
    bool wrapPending = false;
    std::int32_t scrollTop = 0, scrollBottom = 0;
    bool autoWrap = true, insertMode = false, originMode = false;
    Set g[2] = {Set::Ascii, Set::Ascii};
    int invoked = 0;
    Saved saved;
    std::uint32_t lastGraphic = 0;  // for REP; 0: none

    ParserState state = ParserState::Ground;
    std::string intermediates;  // of an escape sequence
    std::string sequence;       // parameter and intermediate bytes of a control sequence
    std::uint32_t utf8Value = 0;
    int utf8Length = 0;  // bytes of the character being read; 0: none
    int utf8Seen = 0;
};

}  // namespace vtsnap::model
