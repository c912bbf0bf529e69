// The byte-stream decoder: one pass over each block, one byte at a time, with
// all of its state in the Screen so that any sequence may span blocks.
#include <algorithm>
#include <cstring>

#include "terminal/screen.hpp"

namespace vtsnap {

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kBel = 0x07;

// Bytes that putChar writes as they are when no UTF-8 character is pending.
constexpr bool isAsciiText(std::uint8_t b) { return b >= 0x20 && b <= 0x7F; }

// The end of a run of ASCII text starting at `p`, eight bytes at a time: a
// word holds only text when no byte is below 0x20 and none has its top bit.
const std::uint8_t* asciiTextEnd(const std::uint8_t* p, const std::uint8_t* end) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        // Top bit of a byte set when the byte is below 0x20 (it has no top bit
        // of its own) or is 0x80 and up.
        if (((word - kOnes * 0x20) | word) & kHigh) break;
        p += 8;
    }
    while (p < end && isAsciiText(*p)) ++p;
    return p;
}

}  // namespace

void Screen::feedBytes(const std::uint8_t* bytes, std::uint64_t length) {
    std::lock_guard<std::mutex> guard(lock);
    const std::uint8_t* p = bytes;
    const std::uint8_t* const end = bytes + length;
    while (p < end) {
        const std::uint8_t b = *p;
        switch (parserState) {
        case ParserState::Ground:
            if (b >= 0x20) {
                p = feedText(p, end);
                continue;
            }
            feedControl(b);
            break;
        case ParserState::Escape:
            feedEscape(b);
            break;
        case ParserState::CsiParam:
            if (b >= 0x20 && b <= 0x3F) {
                // Parameter and intermediate bytes, collected in one go.
                do {
                    paramBuffer.push(*p);
                } while (++p < end && *p >= 0x20 && *p <= 0x3F);
                continue;
            }
            if (b >= 0x40 && b <= 0x7E) dispatchCsi(b);
            // Anything else abandons the sequence and is itself dropped.
            parserState = ParserState::Ground;
            paramBuffer.clear();
            break;
        case ParserState::OscString:
            if (b == kBel)
                parserState = ParserState::Ground;
            else if (b == kEsc)
                parserState = ParserState::OscEscape;
            break;
        case ParserState::OscEscape:
            parserState = b == '\\' ? ParserState::Ground : ParserState::OscString;
            break;
        }
        ++p;
    }
}

// C0 controls act even in the middle of a UTF-8 character; all but BEL
// abandon it.
void Screen::feedControl(std::uint8_t b) {
    if (b == kBel) return;
    clearUtf8();
    switch (b) {
    case kEsc:
        parserState = ParserState::Escape;
        break;
    case 0x08:
        if (cursorCol > 0) --cursorCol;
        wrapPending = false;
        break;
    case '\r':
        cursorCol = 0;
        wrapPending = false;
        break;
    case '\n':
        lineFeed();
        break;
    case '\t':
        cursorCol = std::min(cols - 1, (cursorCol / 8) * 8 + 8);
        wrapPending = false;
        break;
    default:
        break;  // NUL, VT, FF, SO, SI and the rest are ignored
    }
}

// Text in Ground: every byte from 0x20 up, until a control byte or the end of
// the block. The UTF-8 state lives in locals here and goes back to the Screen
// on the way out.
const std::uint8_t* Screen::feedText(const std::uint8_t* p, const std::uint8_t* end) {
    std::uint32_t value = utf8Value;
    std::int32_t pending = utf8Pending;
    while (p < end) {
        const std::uint8_t b = *p;
        if (b < 0x20) break;
        if (pending == 0) {
            if (b <= 0x7F) {
                // A lone ASCII character among others is cheaper written alone.
                if (p + 1 == end || !isAsciiText(p[1])) {
                    putChar(b);
                    ++p;
                    continue;
                }
                const std::uint8_t* runEnd = asciiTextEnd(p + 2, end);
                putAsciiRun(p, static_cast<std::size_t>(runEnd - p));
                p = runEnd;
                continue;
            }
            if ((b & 0xE0) == 0xC0) {
                value = b & 0x1Fu;
                pending = 1;
            } else if ((b & 0xF0) == 0xE0) {
                value = b & 0x0Fu;
                pending = 2;
            } else if ((b & 0xF8) == 0xF0) {
                value = b & 0x07u;
                pending = 3;
            }
            // A stray continuation byte or 0xF8-0xFF: ignored.
            ++p;
            continue;
        }
        ++p;
        if ((b & 0xC0) != 0x80) {
            value = 0;  // the interrupting byte is lost with the character
            pending = 0;
            continue;
        }
        value = (value << 6) | (b & 0x3Fu);
        if (--pending == 0) {
            emitCodePoint(value);
            value = 0;
        }
    }
    utf8Value = value;
    utf8Pending = pending;
    return p;
}

// Overlong forms are accepted on purpose; surrogates and values beyond
// U+10FFFF cannot be stored and are dropped.
inline void Screen::emitCodePoint(std::uint32_t v) {
    if (v >= 0xD800 && v <= 0xDFFF) return;
    if (v > 0x10FFFF) return;
    if (v <= 0xFFFF) {
        putChar(static_cast<char16_t>(v));
        return;
    }
    v -= 0x10000;
    putChar(static_cast<char16_t>(0xD800 + (v >> 10)));
    putChar(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
}

void Screen::feedEscape(std::uint8_t b) {
    parserState = ParserState::Ground;
    switch (b) {
    case '7':
        savedRow = cursorRow;
        savedCol = cursorCol;
        break;
    case '8':
        cursorRow = savedRow;
        cursorCol = savedCol;
        clampCursor();
        wrapPending = false;
        break;
    case 'D':
        lineFeed();
        break;
    case 'E':
        lineFeed();
        cursorCol = 0;
        break;
    case 'M':
        if (cursorRow > scrollTop)
            --cursorRow;
        else
            scrollDown(1);
        break;
    case '[':
        paramBuffer.clear();
        parserState = ParserState::CsiParam;
        break;
    case ']':
        parserState = ParserState::OscString;
        break;
    case 'c':
        reset();
        break;
    default:
        break;  // unknown: only this one byte is consumed
    }
}

}  // namespace vtsnap
