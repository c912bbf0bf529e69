// Carries out one complete control sequence, chosen by (marker,
// intermediates, final). Nothing is ever answered: status and attribute
// requests are ignored like every sequence not named here.
#include <algorithm>

#include "terminal/screen.hpp"

namespace vtsnap {

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

// DECSTBM: a missing or zero bottom, or one past the screen, is the last row.
// A region of fewer than two rows is refused and changes nothing.
void Screen::setScrollRegion(const CsiParams& params) {
    const std::int32_t top = std::max(params.nth(0), 1);
    std::int32_t bottom = params.nth(1);
    if (bottom == 0 || bottom > rows()) bottom = rows();
    if (bottom <= top) return;
    scrollTop_ = top - 1;
    scrollBottom_ = bottom - 1;
    home();
}

void Screen::setModes(const CsiSequence& sequence, bool on) {
    const CsiParams& params = sequence.params;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (params.isSub(i)) continue;
        const std::int32_t mode = params[i];
        if (sequence.marker == 0) {
            if (mode == 4) insertMode_ = on;
        } else if (mode == 6) {
            originMode_ = on;
            home();
        } else if (mode == 7) {
            autoWrap_ = on;
        } else if (mode == 2026) {
            if (on && !updateOpen_) ++updateNumber_;
            updateOpen_ = on;
        }
    }
}

void Screen::dispatchCsi(const CsiSequence& sequence) {
    if (sequence.intermediates != 0) return;
    const CsiParams& params = sequence.params;
    if (sequence.final == 'm' && sequence.marker == 0) {
        selectGraphicRendition(params);  // the most frequent by far
        return;
    }
    const std::int32_t first = params.nth(0);
    if (sequence.marker == '?') {
        switch (sequence.final) {
        case 'J': eraseInDisplay(first); break;
        case 'K': eraseInLine(first); break;
        case 'h': setModes(sequence, true); break;
        case 'l': setModes(sequence, false); break;
        default: break;
        }
        return;
    }
    if (sequence.marker != 0) return;

    // A missing or zero count or position counts as 1.
    const std::int32_t n = std::max(first, 1);
    const auto m = [&params] { return std::max(params.nth(1), 1); };

    switch (sequence.final) {
    case '@':
        insertChars(n);
        break;
    case 'A':
        cursorUp(n);
        break;
    case 'B':
    case 'e':
        cursorDown(n);
        break;
    case 'C':
    case 'a':
        cursorCol_ = std::min(cursorCol_ + n, cols() - 1);
        wrapPending_ = false;
        break;
    case 'D':
        cursorCol_ = std::max(cursorCol_ - n, 0);
        wrapPending_ = false;
        break;
    case 'E':
        cursorDown(n);
        cursorCol_ = 0;
        break;
    case 'F':
        cursorUp(n);
        cursorCol_ = 0;
        break;
    case 'G':
    case '`':
        cursorCol_ = std::min(n, cols()) - 1;
        wrapPending_ = false;
        break;
    case 'I':  // CHT and CBT: tab stops every 8 columns, as HT uses; like
               // HT, they leave a pending wrap as it is
        if (!wrapPending_) cursorCol_ = std::min(cols() - 1, (cursorCol_ / 8 + std::min(n, cols())) * 8);
        break;
    case 'Z':
        if (!wrapPending_) cursorCol_ = std::max(0, ((cursorCol_ + 7) / 8 - std::min(n, cols())) * 8);
        break;
    case 'H':
    case 'f':
        moveTo(n - 1, m() - 1);
        break;
    case 'd':
        moveTo(n - 1, cursorCol_);
        break;
    case 'J':
        eraseInDisplay(first);
        break;
    case 'K':
        eraseInLine(first);
        break;
    case 'L':
        insertLines(n);
        break;
    case 'M':
        deleteLines(n);
        break;
    case 'P':
        deleteChars(n);
        break;
    case 'S':
        scrollUp(n);
        break;
    case 'T':
        scrollDown(n);
        break;
    case 'X':
        eraseChars(n);
        break;
    case 'b':
        repeatLast(n);
        break;
    case 'h':
        setModes(sequence, true);
        break;
    case 'l':
        setModes(sequence, false);
        break;
    case 'm':
        selectGraphicRendition(params);
        break;
    case 'r':
        setScrollRegion(params);
        break;
    case 's':
        saveCursor();
        break;
    case 'u':
        restoreCursor();
        break;
    default:
        break;
    }
}

}  // namespace vtsnap
