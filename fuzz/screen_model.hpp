// A plain model of the terminal, written from the rules rather than from the
// Screen: one container per row in screen order, every multi-line operation
// done one line at a time, no fast paths. The fuzzer holds the Screen to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/screen.hpp"

namespace vtsnap::model {

struct Row {
    std::vector<char16_t> chars;
    std::vector<CellAttr> attrs;
};

class Terminal {
public:
    Terminal(std::int32_t cols, std::int32_t rows);

    void feed(const std::uint8_t* bytes, std::size_t length);

    // Empty when the Screen is in the same state; else what differs first.
    std::string differences(const Screen& screen) const;

private:
    void ground(std::uint8_t b);
    void escape(std::uint8_t b);
    void emit(std::uint32_t v);
    void dispatch(std::uint8_t final);
    void graphicRendition(const std::vector<std::int32_t>& list);
    std::vector<std::int32_t> params() const;

    void clampCursor();
    void clearRow(std::int32_t row);
    void blankChars(std::int32_t row, std::int32_t from, std::int32_t to);
    void putChar(char16_t unit);
    void lineFeed();
    void scrollUp(std::int32_t n);
    void scrollDown(std::int32_t n);
    void insertLines(std::int32_t n);
    void deleteLines(std::int32_t n);
    void eraseInDisplay(std::int32_t mode);
    void reset();
    void clearUtf8() { utf8Value = 0, utf8Pending = 0; }

    std::int32_t rows;
    std::int32_t cols;
    std::vector<Row> grid;
    CellAttr currentAttr;
    std::int32_t cursorRow = 0, cursorCol = 0;
    std::int32_t savedRow = 0, savedCol = 0;
    std::int32_t scrollTop = 0, scrollBottom = 0;
    bool wrapPending = false;
    ParserState state = ParserState::Ground;
    std::string paramBytes;
    std::uint32_t utf8Value = 0;
    std::int32_t utf8Pending = 0;
};

}  // namespace vtsnap::model
