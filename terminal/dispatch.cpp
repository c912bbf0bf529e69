// The decoder's controls, escape sequences and control sequences, each sent
// to the Screen operation that carries it out. A new control sequence goes
// here, into the fuzz model (fuzz/screen_model.cpp) and into the differential
// generator (tests/differential/make_streams.cpp). Nothing is ever answered:
// status and attribute requests are ignored like everything not named here.
#include <algorithm>

#include "terminal/screen.hpp"

namespace vtsnap {

void Screen::execute(std::uint8_t control) {
    endText();
    switch (control) {
    case 0x08:  // BS
        cursorBackward(1);
        break;
    case '\t':
        tabForward(1);
        break;
    case '\n':
    case 0x0B:  // VT and FF move down like LF, as on every terminal
    case 0x0C:
        lineFeed();
        break;
    case '\r':
        carriageReturn();
        break;
    case 0x0E:  // SO
        invoked_ = 1;
        break;
    case 0x0F:  // SI
        invoked_ = 0;
        break;
    default:
        break;  // NUL, BEL and the rest change nothing
    }
}

void Screen::escDispatch(std::uint32_t intermediates, std::uint8_t final) {
    endText();
    if (intermediates == '(' || intermediates == ')') {
        // Designations of G0 and G1; other sets are not known here.
        Charset& set = intermediates == '(' ? g0_ : g1_;
        if (final == '0') set = Charset::DecGraphics;
        if (final == 'B') set = Charset::Ascii;
        return;
    }
    if (intermediates != 0) return;
    switch (final) {
    case '7':
        saveCursor();
        break;
    case '8':
        restoreCursor();
        break;
    case 'D':
        lineFeed();
        break;
    case 'E':
        nextLine();
        break;
    case 'H':
        setTabStop();
        break;
    case 'M':
        reverseIndex();
        break;
    case 'c':
        reset();
        break;
    default:
        break;
    }
}

void Screen::setModes(const CsiSequence& sequence, bool on) {
    const CsiParams& params = sequence.params;
    bool updateEnded = false;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (params.isSub(i)) continue;
        const std::int32_t mode = params[i];
        if (sequence.marker == 0) {
            if (mode == 4) insertMode_ = on;
        } else if (mode == 6) {
            originMode_ = on;
            home();
        } else if (mode == 7) {
            // The cursor left past the margin without autowrap takes the
            // last column again after it too.
            if (on && !autoWrap_) wrapPending_ = false;
            autoWrap_ = on;
        } else if (mode == 2026) {
            if (on && !updateOpen_) ++updateNumber_;
            updateEnded = updateOpen_ && !on;
            updateOpen_ = on;
        }
    }
    if (updateEnded && updateObserver_ != nullptr) updateObserver_->updateEnded();
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

void Screen::otherControlSequence(const CsiSequence& sequence) {
    if (sequence.intermediates != 0) return;
    const CsiParams& params = sequence.params;
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
    case '@': insertChars(n); break;
    case 'A': cursorUp(n); break;
    case 'B':
    case 'e': cursorDown(n); break;
    case 'C':
    case 'a': cursorForward(n); break;
    case 'D': cursorBackward(n); break;
    case 'E':
        cursorDown(n);
        carriageReturn();
        break;
    case 'F':
        cursorUp(n);
        carriageReturn();
        break;
    case 'G':
    case '`': setColumn(n - 1); break;
    case 'I': tabForward(n); break;
    case 'Z': tabBackward(n); break;
    case 'H':
    case 'f': moveTo(n - 1, m() - 1); break;
    case 'd': moveTo(n - 1, cursorCol_); break;
    case 'g': clearTabStops(first); break;
    case 'J': eraseInDisplay(first); break;
    case 'K': eraseInLine(first); break;
    case 'L': insertLines(n); break;
    case 'M': deleteLines(n); break;
    case 'P': deleteChars(n); break;
    case 'S': scrollUp(n); break;
    case 'T': scrollDown(n); break;
    case 'X': eraseChars(n); break;
    case 'b': repeatLast(n); break;
    case 'h': setModes(sequence, true); break;
    case 'l': setModes(sequence, false); break;
    case 'r': setScrollRegion(params); break;
    case 's': saveCursor(); break;
    case 'u': restoreCursor(); break;
    default: break;
    }
}

}  // namespace vtsnap
