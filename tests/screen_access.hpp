// For tests and the fuzzer only: the screen's state, and operations that a
// program reaches only through the bytes it writes. Code outside terminal/
// uses the Screen's public operations.
#pragma once

#include <cstdint>

#include "terminal/screen.hpp"

namespace vtsnap::test {

struct ScreenAccess {
    Screen& s;

    CellAttr cellAttr(std::int32_t row, std::int32_t col) const { return s.cellAttr(row, col); }
    std::int32_t cursorRow() const { return s.cursorRow_; }
    std::int32_t cursorCol() const { return s.cursorCol_; }
    bool wrapPending() const { return s.wrapPending_; }
    std::int32_t scrollTop() const { return s.scrollTop_; }
    std::int32_t scrollBottom() const { return s.scrollBottom_; }
    CellAttr currentAttr() const { return s.currentAttr_; }
    std::int32_t nextTabStop(std::int32_t col) const { return s.tabStops_.next(col); }
    ParserState parserState() const { return s.decoder_.state(); }

    void putChar(char32_t c) const { s.putChar(c); }
    void scrollUp(std::int32_t n) const { s.scrollUp(n); }
    void scrollDown(std::int32_t n) const { s.scrollDown(n); }
    void insertLines(std::int32_t n) const { s.insertLines(n); }
    void deleteLines(std::int32_t n) const { s.deleteLines(n); }
    void insertChars(std::int32_t n) const { s.insertChars(n); }
    void eraseInDisplay(std::int32_t mode) const { s.eraseInDisplay(mode); }
};

inline ScreenAccess inspect(Screen& screen) { return {screen}; }
// Reading only, on a screen the caller holds as const.
inline ScreenAccess inspect(const Screen& screen) { return {const_cast<Screen&>(screen)}; }

}  // namespace vtsnap::test
