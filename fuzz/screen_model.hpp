// A plain model of the terminal, written from the rules rather than from the
// Screen: one container per row in screen order, every multi-line operation
// done one line at a time, no fast paths, a cell that carries its own marks,
// and a decoder of its own that takes one byte at a time. The fuzzer holds
// the Screen to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/screen.hpp"

namespace vtsnap::model {

// A character takes the cells its width says: a wide one is a cell with the
// character followed by a second half, which shows nothing of its own and has
// the same colours. Marks (combining and zero-width characters) take no cell:
// they stay with the character they joined.
struct Cell {
    Cell() = default;
    Cell(char32_t c, CellAttr a) : ch(c), attr(a) {}
    static Cell secondHalfIn(CellAttr a) {
        Cell cell(0, a);
        cell.secondHalf = true;
        return cell;
    }

    char32_t ch = U' ';  // 0 in a second half
    CellAttr attr;
    std::u32string marks;
    bool secondHalf = false;
};

using Row = std::vector<Cell>;

class Terminal {
public:
    Terminal(std::int32_t cols, std::int32_t rows);

    void feed(const std::uint8_t* bytes, std::size_t length);

    // Empty when the Screen shows the same state; else what differs first.
    std::string differences(const Screen& screen) const;

    const Row& row(std::int32_t r) const { return grid[static_cast<std::size_t>(r)]; }

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
    void control(std::uint8_t b);
    bool abandonedBy(std::uint8_t b);
    void escapeByte(std::uint8_t b);
    void csiByte(std::uint8_t b);
    void stringByte(std::uint8_t b);
    void startEscape();
    void sequenceEnded() { endText(); }
    void escDispatch(std::uint8_t final);
    std::vector<Param> params() const;
    void csiDispatch(std::uint8_t final);
    void setMode(const Param& p, bool on);
    void graphicRendition(const std::vector<Param>& list);

    // The terminal's operations.
    CellAttr eraseAttr() const { return CellAttr{kDefaultColor, currentAttr.bg}; }
    void clearRow(std::int32_t row, CellAttr fill);
    void blank(std::int32_t row, std::int32_t from, std::int32_t to);

    // Text. A character by its width: 1 and 2 take cells, 0 joins the one
    // before, and a character never shown (-1) leaves no trace.
    void print(char32_t c);
    void printNarrow(char32_t c);
    void printWide(char32_t c);
    void joinMark(char32_t mark);
    void endText() {
        lastGraphic = 0;
        joined = false;
    }
    void wrapIfPending();
    // Puts `cell` in place of the one at `col`, whose other half, if it was
    // half of a wide character, becomes a blank in `attr`.
    void overwrite(Row& row, std::int32_t col, Cell cell, CellAttr attr);
    void insertForText(std::int32_t n);
    void insertChars(std::int32_t n, CellAttr fill);
    void deleteChars(std::int32_t n);
    void repeat(std::int32_t n);
    void lineFeed();
    void scrollUp(std::int32_t n);
    void scrollDown(std::int32_t n);
    void insertLines(std::int32_t n);
    void deleteLines(std::int32_t n);
    void eraseInDisplay(std::int32_t mode);
    void eraseInLine(std::int32_t mode);
    void moveToRow(std::int32_t n);
    std::int32_t nextStop(std::int32_t col) const;
    std::int32_t previousStop(std::int32_t col) const;
    void defaultTabStops();
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
    std::vector<bool> tabStop;  // a column at a time, for every row
    Set g[2] = {Set::Ascii, Set::Ascii};
    int invoked = 0;
    Saved saved;
    // For REP: the last character (0: none) and the marks that joined it.
    char32_t lastGraphic = 0;
    std::u32string lastMarks;
    // Where that character starts, while a mark that comes next joins it:
    // it took cells, and nothing but marks came after it.
    bool joined = false;
    std::int32_t joinedRow = 0, joinedCol = 0;

    ParserState state = ParserState::Ground;
    std::string intermediates;  // of an escape sequence
    std::string sequence;       // parameter and intermediate bytes of a control sequence
    std::uint32_t utf8Value = 0;
    int utf8Length = 0;  // bytes of the character being read; 0: none
    int utf8Seen = 0;
};

}  // namespace vtsnap::model
