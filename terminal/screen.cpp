#include "terminal/screen.hpp"

#include <algorithm>
#include <string>

#include "terminal/char_width.hpp"

namespace vtsnap {

namespace {

// DEC Special Graphics: the characters 0x60-0x7E stand for while it is invoked.
constexpr char16_t kDecGraphics[31] = {
    u'\u25C6', u'\u2592', u'\u2409', u'\u240C', u'\u240D', u'\u240A', u'\u00B0', u'\u00B1',
    u'\u2424', u'\u240B', u'\u2518', u'\u2510', u'\u250C', u'\u2514', u'\u253C', u'\u23BA',
    u'\u23BB', u'\u2500', u'\u23BC', u'\u23BD', u'\u251C', u'\u2524', u'\u2534', u'\u252C',
    u'\u2502', u'\u2264', u'\u2265', u'\u03C0', u'\u2260', u'\u00A3', u'\u00B7',
};

}  // namespace

Screen::Screen(std::int32_t cols, std::int32_t rows)
    : grid_(cols, rows), scrollBottom_(grid_.rows() - 1), tabStops_(grid_.cols()) {}

void Screen::feedBytes(const std::uint8_t* bytes, std::uint64_t length) {
    decoder_.feed(bytes, bytes + length, *this);
}

// ---- Writing text --------------------------------------------------------

// The deferred wrap of a character written into the last column.
void Screen::wrapToNextLine() {
    cursorCol_ = 0;
    lineFeed();
}

// One narrow character in the invoked set, with the modes' effects. In the
// last column it leaves a wrap pending; without autowrap that only keeps the
// cursor past the margin, where the next character takes the last column
// again and tabs do not move it.
void Screen::putNarrow(char32_t c) {
    if (wrapPending_) {
        if (autoWrap_)
            wrapToNextLine();
        else
            wrapPending_ = false;
    }
    if (insertMode_) {
        // The wide character the cursor is inside is cut as by any write,
        // before the cells move. What the shift cuts at the end of the row
        // is blanked in the character's colours too, as xterm.js blanks it
        // (CSI @ blanks it in the erase colours).
        grid_.cutWide(cursorRow_, cursorCol_, currentAttr_);
        grid_.insertCells(cursorRow_, cursorCol_, 1, currentAttr_);
    }
    grid_.writeText(cursorRow_, cursorCol_, &c, 1, currentAttr_);
    joinRow_ = cursorRow_;
    joinCol_ = cursorCol_;
    if (cursorCol_ < cols() - 1)
        ++cursorCol_;
    else
        wrapPending_ = true;
}

// One wide character, with the modes' effects. One that does not fit in the
// last column wraps first and leaves that column blank, or without autowrap
// is dropped; a screen of one column has no room for one anywhere (a pending
// wrap still happens first, as for any character). A dropped one blanks the
// first half of a wide character whose second half the cursor is on, as
// xterm.js does (from past the margin the cursor is on none). A mark that
// comes after it has no character printed just before it.
void Screen::putWide(char32_t c) {
    const std::int32_t cols = this->cols();
    const bool pastMargin = wrapPending_ && !autoWrap_;
    if (wrapPending_) {
        if (autoWrap_)
            wrapToNextLine();
        else
            wrapPending_ = false;
    }
    if (cols < 2 || (cursorCol_ == cols - 1 && !autoWrap_)) {
        if (!pastMargin) grid_.splitWide(cursorRow_, cursorCol_, currentAttr_);
        joinCol_ = kDropped;
        return;
    }
    if (cursorCol_ == cols - 1) {
        const char32_t space = U' ';
        grid_.writeText(cursorRow_, cursorCol_, &space, 1, currentAttr_);
        wrapToNextLine();
    }
    if (insertMode_) {
        grid_.cutWide(cursorRow_, cursorCol_, currentAttr_);
        grid_.insertCells(cursorRow_, cursorCol_, 2, currentAttr_);
    }
    const char32_t cells[2] = {c, kWideContinuation};
    grid_.writeText(cursorRow_, cursorCol_, cells, 2, currentAttr_);
    joinRow_ = cursorRow_;
    joinCol_ = cursorCol_;
    cursorCol_ += 2;
    if (cursorCol_ == cols) {
        cursorCol_ = cols - 1;
        wrapPending_ = true;
    }
}

// Text in the invoked character set, with the modes' effects: a character at
// a time. Out of line, so that the common path below stays small.
template <class Unit>
[[gnu::noinline]] void Screen::printEach(const Unit* cells, std::size_t count) {
    const bool graphics = invokedCharset() == Charset::DecGraphics;
    auto shown = [graphics](char32_t c) {
        return graphics && c >= 0x60 && c <= 0x7E ? char32_t{kDecGraphics[c - 0x60]} : c;
    };
    for (std::size_t i = 0; i < count; ++i) {
        if (i + 1 < count && cells[i + 1] == kWideContinuation) {
            putWide(cells[i]);
            lastChar_ = cells[i++];
        } else {
            putNarrow(shown(cells[i]));
            lastChar_ = shown(cells[i]);
        }
    }
}

// The `n` cells that fill the cursor's row, when the last of them is a wide
// character's first half: that column stays blank and the character wraps
// whole. Returns the cells taken.
[[gnu::noinline]] std::int32_t Screen::fillRowBeforeWide(const char32_t* cells, std::int32_t n) {
    const std::int32_t cols = this->cols();
    if (--n > 0) grid_.writeText(cursorRow_, cursorCol_, cells, n, currentAttr_);
    if (cursorCol_ + n == 0) {
        n = 2;  // no room for it on any row
    } else {
        const char32_t space = U' ';
        grid_.writeText(cursorRow_, cols - 1, &space, 1, currentAttr_);
        wrapPending_ = true;
    }
    cursorCol_ = cols - 1;
    return n;
}

// Text as cells: with ASCII invoked, autowrap on and insert mode off, as
// nearly always, laying the same cells as putNarrow and putWide for each
// character without their per-character tests. Inline in the decoder's loop,
// where every run of text ends: a run that fits in the cursor's row takes
// one write, and marks after it join the character left of the cursor.
template <class Unit>
[[gnu::always_inline]] inline void Screen::printText(const Unit* cells, std::size_t count) {
    if (invokedCharset() == Charset::DecGraphics || !autoWrap_ || insertMode_) [[unlikely]] {
        printEach(cells, count);
        return;
    }
    // Bytes are ASCII: none of them is a wide character's.
    constexpr bool kMayBeWide = sizeof(Unit) > 1;
    lastChar_ = cells[count - 1 - (kMayBeWide && cells[count - 1] == kWideContinuation)];
    const std::int32_t cols = this->cols();
    if (wrapPending_ || count > static_cast<std::size_t>(cols - cursorCol_)) [[unlikely]] {
        printRows(cells, count);
        return;
    }
    const auto n = static_cast<std::int32_t>(count);
    grid_.writeText(cursorRow_, cursorCol_, cells, n, currentAttr_);
    cursorCol_ += n;
    if (cursorCol_ == cols) {
        cursorCol_ = cols - 1;
        wrapPending_ = true;
    }
    joinCol_ = kLeftOfCursor;
}

// Text that wraps, or starts with a wrap pending: a row at a time.
template <class Unit>
[[gnu::noinline]] void Screen::printRows(const Unit* cells, std::size_t count) {
    constexpr bool kMayBeWide = sizeof(Unit) > 1;
    const bool endsWide = kMayBeWide && cells[count - 1] == kWideContinuation;
    const std::int32_t cols = this->cols();
    while (count > 0) {
        if (wrapPending_) wrapToNextLine();
        auto n = static_cast<std::int32_t>(std::min<std::size_t>(count, static_cast<std::size_t>(cols - cursorCol_)));
        if constexpr (kMayBeWide) {
            if (static_cast<std::size_t>(n) < count && cells[n] == kWideContinuation) [[unlikely]] {
                n = fillRowBeforeWide(cells, n);
                cells += n;
                count -= static_cast<std::size_t>(n);
                continue;
            }
        }
        grid_.writeText(cursorRow_, cursorCol_, cells, n, currentAttr_);
        cursorCol_ += n;
        cells += n;
        count -= static_cast<std::size_t>(n);
        if (cursorCol_ == cols) {
            cursorCol_ = cols - 1;
            wrapPending_ = true;
        }
    }
    joinRow_ = cursorRow_;
    joinCol_ = (wrapPending_ ? cursorCol_ : cursorCol_ - 1) - endsWide;
    if (joinCol_ < 0) joinCol_ = kDropped;  // a wide character found no room
}

// The cell of the character that a mark joins: the one printed just before
// it, or after anything else the one left of the cursor. False when there is
// none.
bool Screen::joinTarget(std::int32_t& row, std::int32_t& col) const {
    row = joinRow_;
    col = joinCol_;
    if (lastChar_ != 0 && col >= 0) return true;
    row = cursorRow_;
    col = wrapPending_ ? cursorCol_ : cursorCol_ - 1;
    if (col < 0) return false;
    if (grid_.rowChars(row)[col] == kWideContinuation) --col;
    return true;
}

void Screen::joinMark(char32_t mark) {
    std::int32_t row, col;
    if (joinTarget(row, col)) grid_.addMark(row, col, mark);
}

// Both inline in the decoder's loop, which this file instantiates.
[[gnu::always_inline]] inline void Screen::printAscii(const std::uint8_t* text, std::size_t count) {
    printText(text, count);
}

[[gnu::always_inline]] inline void Screen::printCells(const char32_t* cells, std::size_t count) { printText(cells, count); }

// Room for cells in the cursor's row, when it is blank and text takes
// printText's inline way there: the decoder then writes its cells in place
// rather than into a buffer that printText copies, and keeps them within the
// row (what goes beyond comes through printCells).
[[gnu::always_inline]] inline char32_t* Screen::cellRoom(std::size_t& room) {
    if (invokedCharset() == Charset::DecGraphics || !autoWrap_ || insertMode_ || wrapPending_) [[unlikely]]
        return nullptr;
    std::int32_t cells = 0;
    char32_t* out = grid_.blankRowCells(cursorRow_, cursorCol_, cells);
    room = static_cast<std::size_t>(cells);
    return out;
}

// The cells written where cellRoom said, as printText's inline way takes them.
[[gnu::always_inline]] inline void Screen::printedCells(const char32_t* cells, std::size_t count) {
    const auto n = static_cast<std::int32_t>(count);
    grid_.wroteText(cursorRow_, cursorCol_, n, currentAttr_);
    lastChar_ = cells[n - 1 - (cells[n - 1] == kWideContinuation)];
    cursorCol_ += n;
    if (cursorCol_ == cols()) {
        cursorCol_ = cols() - 1;
        wrapPending_ = true;
    }
    joinCol_ = kLeftOfCursor;
}

// One character, by the cells it takes. A character that is never shown
// leaves no trace: what comes after it joins what came before.
void Screen::print(char32_t c) {
    const char32_t cells[2] = {c, kWideContinuation};
    switch (charWidth(c)) {
    case 1: printText(cells, 1); break;
    case 2: printText(cells, 2); break;
    case 0: joinMark(c); break;
    default: break;
    }
}

void Screen::putChar(char32_t c) { print(c); }

void Screen::repeatLast(std::int32_t n) {
    if (lastChar_ == 0) return;
    const char32_t c = lastChar_;
    // The character comes again with the marks that joined it.
    std::u32string marks;
    std::int32_t row, col;
    if (joinCol_ != kDropped && joinTarget(row, col) && (grid_.rowChars(row)[col] & kHasMarks))
        for (const CellMarks& m : grid_.rowMarks(row))
            if (m.col == col) marks = m.marks;
    for (std::int32_t i = 0; i < n; ++i) {
        print(c);
        for (char32_t mark : marks) joinMark(mark);
    }
}

// ---- Lines and scrolling -----------------------------------------------------

// The region scrolls when the cursor is on its bottom row. Elsewhere, below
// the region included, the cursor moves down and stops at the last row.
void Screen::lineFeed() {
    wrapPending_ = false;
    if (cursorRow_ == scrollBottom_)
        scrollUp(1);
    else if (cursorRow_ < rows() - 1)
        ++cursorRow_;
}

void Screen::reverseIndex() {
    wrapPending_ = false;
    if (cursorRow_ == scrollTop_)
        scrollDown(1);
    else if (cursorRow_ > 0)
        --cursorRow_;
}

// Out of line and cold, so that without a sink a scroll costs one branch.
// A blank row goes as what it shows: spaces.
[[gnu::noinline, gnu::cold]] void Screen::reportRowsLeaving(std::int32_t n) {
    for (std::int32_t r = 0; r < n; ++r)
        rowSink_->rowScrolledOff(grid_.rowChars(r), grid_.rowIsPlain(r) ? nullptr : grid_.rowAttrs(r), grid_.rowMarks(r),
                                 cols());
}

// Scrolling moves the region's rows, never the cursor, and keeps a pending wrap.
void Screen::scrollUp(std::int32_t n) {
    if (n < 1) return;
    n = std::min(n, scrollBottom_ - scrollTop_ + 1);
    // Rows leave the top of the screen only when the region starts there.
    if (rowSink_ != nullptr && scrollTop_ == 0) [[unlikely]]
        reportRowsLeaving(n);
    grid_.scrollRowsUp(scrollTop_, scrollBottom_, n, eraseAttr());
}

void Screen::scrollDown(std::int32_t n) {
    if (n < 1) return;
    n = std::min(n, scrollBottom_ - scrollTop_ + 1);
    grid_.scrollRowsDown(scrollTop_, scrollBottom_, n, eraseAttr());
}

bool Screen::cursorInRegion() const { return cursorRow_ >= scrollTop_ && cursorRow_ <= scrollBottom_; }

// Lines from the cursor row to the region's bottom move, and the cursor goes
// to the first column; outside the region nothing moves.
void Screen::insertLines(std::int32_t n) {
    wrapPending_ = false;
    if (!cursorInRegion()) return;
    n = std::min(std::max(n, 1), scrollBottom_ - cursorRow_ + 1);
    grid_.scrollRowsDown(cursorRow_, scrollBottom_, n, eraseAttr());
    cursorCol_ = 0;
}

void Screen::deleteLines(std::int32_t n) {
    wrapPending_ = false;
    if (!cursorInRegion()) return;
    n = std::min(std::max(n, 1), scrollBottom_ - cursorRow_ + 1);
    // Deleting from the top row pushes rows out at the top, as a scroll does.
    if (rowSink_ != nullptr && scrollTop_ == 0 && cursorRow_ == 0) [[unlikely]]
        reportRowsLeaving(n);
    grid_.scrollRowsUp(cursorRow_, scrollBottom_, n, eraseAttr());
    cursorCol_ = 0;
}

// ---- Erasing and editing -------------------------------------------------------

void Screen::blankChars(std::int32_t row, std::int32_t from, std::int32_t to) {
    grid_.blankCells(row, from, to, eraseAttr());
}

void Screen::eraseInDisplay(std::int32_t mode) {
    switch (mode) {
    case 0:
        if (cursorRow_ == 0 && cursorCol_ == 0) {
            grid_.clearAll(eraseAttr());
            break;
        }
        blankChars(cursorRow_, cursorCol_, cols() - 1);
        grid_.clearRows(cursorRow_ + 1, rows() - 1, eraseAttr());
        break;
    case 1:
        grid_.clearRows(0, cursorRow_ - 1, eraseAttr());
        blankChars(cursorRow_, 0, cursorCol_);
        break;
    case 2:
        grid_.clearAll(eraseAttr());
        break;
    default:
        break;  // 3 erases saved lines elsewhere; there are none here
    }
}

void Screen::eraseInLine(std::int32_t mode) {
    if (mode == 0)
        blankChars(cursorRow_, cursorCol_, cols() - 1);
    else if (mode == 1)
        blankChars(cursorRow_, 0, cursorCol_);
    else if (mode == 2)
        blankChars(cursorRow_, 0, cols() - 1);
}

// Character insertion, deletion and erasure end a pending wrap; the cursor
// stays in the last column.
void Screen::insertChars(std::int32_t n) {
    wrapPending_ = false;
    grid_.insertCells(cursorRow_, cursorCol_, n, eraseAttr());
}

void Screen::deleteChars(std::int32_t n) {
    wrapPending_ = false;
    grid_.deleteCells(cursorRow_, cursorCol_, n, eraseAttr());
}

void Screen::eraseChars(std::int32_t n) {
    wrapPending_ = false;
    blankChars(cursorRow_, cursorCol_, cursorCol_ + n - 1);
}

// ---- Cursor motion -------------------------------------------------------------

// Rows count from the top of the screen, or of the scroll region in origin
// mode, which also keeps the cursor inside the region.
void Screen::moveTo(std::int32_t row, std::int32_t col) {
    if (originMode_)
        cursorRow_ = std::clamp(scrollTop_ + row, scrollTop_, scrollBottom_);
    else
        cursorRow_ = std::clamp(row, 0, rows() - 1);
    cursorCol_ = std::clamp(col, 0, cols() - 1);
    wrapPending_ = false;
}

void Screen::home() {
    cursorRow_ = originMode_ ? scrollTop_ : 0;
    cursorCol_ = 0;
    wrapPending_ = false;
}

// Up and down stop at the region's edge when the cursor starts inside the
// region or beyond that edge; from the other side they stop at the screen's.
void Screen::cursorUp(std::int32_t n) {
    cursorRow_ = std::max(cursorRow_ - n, cursorRow_ >= scrollTop_ ? scrollTop_ : 0);
    wrapPending_ = false;
}

void Screen::cursorDown(std::int32_t n) {
    cursorRow_ = std::min(cursorRow_ + n, cursorRow_ <= scrollBottom_ ? scrollBottom_ : rows() - 1);
    wrapPending_ = false;
}

void Screen::cursorForward(std::int32_t n) {
    cursorCol_ = std::min(cursorCol_ + n, cols() - 1);
    wrapPending_ = false;
}

// From a pending wrap too: BS there lands on the column before the last.
void Screen::cursorBackward(std::int32_t n) {
    cursorCol_ = std::max(cursorCol_ - n, 0);
    wrapPending_ = false;
}

void Screen::setColumn(std::int32_t col) {
    cursorCol_ = std::clamp(col, 0, cols() - 1);
    wrapPending_ = false;
}

void Screen::carriageReturn() {
    cursorCol_ = 0;
    wrapPending_ = false;
}

void Screen::nextLine() {
    lineFeed();
    cursorCol_ = 0;
}

// HT and CHT stop at the last column, CBT at the first, when no stop is
// left. A pending wrap stays pending: the cursor is past the last stop.

void Screen::tabBackward(std::int32_t n) {
    if (wrapPending_) return;
    for (; n > 0 && cursorCol_ > 0; --n) cursorCol_ = tabStops_.previous(cursorCol_);
}

// HTS sets a stop at the cursor's column; TBC 0 clears it, TBC 3 clears
// every stop, other values nothing.
void Screen::setTabStop() { tabStops_.set(cursorCol_); }

void Screen::clearTabStops(std::int32_t mode) {
    if (mode == 0)
        tabStops_.clear(cursorCol_);
    else if (mode == 3)
        tabStops_.clearAll();
}

// ---- Cursor state ----------------------------------------------------------------

void Screen::saveCursor() {
    saved_ = {cursorRow_, cursorCol_, currentAttr_, g0_, g1_, invoked_, originMode_};
}

void Screen::restoreCursor() {
    cursorRow_ = std::clamp(saved_.row, 0, rows() - 1);
    cursorCol_ = std::clamp(saved_.col, 0, cols() - 1);
    currentAttr_ = saved_.attr;
    g0_ = saved_.g0;
    g1_ = saved_.g1;
    invoked_ = saved_.invoked;
    originMode_ = saved_.originMode;
    wrapPending_ = false;
}


void Screen::reset() {
    grid_.clearAll(CellAttr{});
    currentAttr_ = CellAttr{};
    cursorRow_ = cursorCol_ = 0;
    scrollTop_ = 0;
    scrollBottom_ = rows() - 1;
    tabStops_.reset();
    wrapPending_ = false;
    autoWrap_ = true;
    insertMode_ = false;
    originMode_ = false;
    g0_ = g1_ = Charset::Ascii;
    invoked_ = 0;
    saved_ = SavedState{};
    endText();
    if (updateOpen_) {
        updateOpen_ = false;
        if (updateObserver_ != nullptr) updateObserver_->updateEnded();
    }
}

}  // namespace vtsnap
