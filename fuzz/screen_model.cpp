#include "fuzz/screen_model.hpp"

#include <algorithm>

namespace vtsnap::model {

namespace {

constexpr ColorValue kDefault = 0xFFFFFFFFu;

Row blankRow(std::int32_t cols) {
    return Row{std::vector<char16_t>(static_cast<std::size_t>(cols), u' '),
               std::vector<CellAttr>(static_cast<std::size_t>(cols))};
}

}  // namespace

Terminal::Terminal(std::int32_t cols_, std::int32_t rows_)
    : rows(std::max(rows_, 1)), cols(std::max(cols_, 1)), grid(static_cast<std::size_t>(rows), blankRow(cols)),
      scrollBottom(rows - 1) {}

void Terminal::clampCursor() {
    if (cursorRow < 0) cursorRow = 0;
    if (cursorRow >= rows) cursorRow = rows - 1;
    if (cursorCol < 0) cursorCol = 0;
    if (cursorCol >= cols) cursorCol = cols - 1;
}

void Terminal::clearRow(std::int32_t row) {
    if (row < 0 || row >= rows) return;
    grid[static_cast<std::size_t>(row)] = blankRow(cols);
}

void Terminal::blankChars(std::int32_t row, std::int32_t from, std::int32_t to) {
    if (row < 0 || row >= rows) return;
    from = std::max(from, 0);
    to = std::min(to, cols - 1);
    for (std::int32_t c = from; c <= to; ++c) grid[static_cast<std::size_t>(row)].chars[static_cast<std::size_t>(c)] = u' ';
}

void Terminal::putChar(char16_t unit) {
    if (wrapPending) {
        cursorCol = 0;
        if (cursorRow < scrollBottom)
            ++cursorRow;
        else
            scrollUp(1);
        wrapPending = false;
    }
    if (cursorRow < 0 || cursorRow >= rows) return;
    cursorCol = std::clamp(cursorCol, 0, cols - 1);
    Row& row = grid[static_cast<std::size_t>(cursorRow)];
    row.chars[static_cast<std::size_t>(cursorCol)] = unit;
    row.attrs[static_cast<std::size_t>(cursorCol)] = currentAttr;
    if (cursorCol == cols - 1)
        wrapPending = true;
    else
        ++cursorCol;
}

void Terminal::lineFeed() {
    wrapPending = false;
    if (cursorRow < scrollBottom)
        ++cursorRow;
    else
        scrollUp(1);
}

void Terminal::scrollUp(std::int32_t n) {
    if (n < 1) return;
    n = std::min(n, scrollBottom - scrollTop + 1);
    for (std::int32_t k = 0; k < n; ++k) {
        Row top = grid[static_cast<std::size_t>(scrollTop)];
        for (std::int32_t r = scrollTop; r < scrollBottom; ++r)
            grid[static_cast<std::size_t>(r)] = grid[static_cast<std::size_t>(r + 1)];
        grid[static_cast<std::size_t>(scrollBottom)] = top;
        clearRow(scrollBottom);
    }
    cursorRow = std::max(scrollTop, std::min(cursorRow, scrollBottom));
    wrapPending = false;
}

void Terminal::scrollDown(std::int32_t n) {
    if (n < 1) return;
    n = std::min(n, scrollBottom - scrollTop + 1);
    for (std::int32_t k = 0; k < n; ++k) {
        Row bottom = grid[static_cast<std::size_t>(scrollBottom)];
        for (std::int32_t r = scrollBottom; r > scrollTop; --r)
            grid[static_cast<std::size_t>(r)] = grid[static_cast<std::size_t>(r - 1)];
        grid[static_cast<std::size_t>(scrollTop)] = bottom;
        clearRow(scrollTop);
    }
    wrapPending = false;
}

void Terminal::insertLines(std::int32_t n) {
    n = std::min(std::max(n, 1), scrollBottom - cursorRow + 1);
    if (n <= 0) return;
    for (std::int32_t k = 0; k < n; ++k) {
        for (std::int32_t j = scrollBottom; j > cursorRow; --j)
            grid[static_cast<std::size_t>(j)] = grid[static_cast<std::size_t>(j - 1)];
        clearRow(cursorRow);
    }
}

void Terminal::deleteLines(std::int32_t n) {
    n = std::min(std::max(n, 1), scrollBottom - cursorRow + 1);
    if (n <= 0) return;
    for (std::int32_t k = 0; k < n; ++k) {
        for (std::int32_t j = cursorRow; j < scrollBottom; ++j)
            grid[static_cast<std::size_t>(j)] = grid[static_cast<std::size_t>(j + 1)];
        clearRow(scrollBottom);
    }
}

void Terminal::eraseInDisplay(std::int32_t mode) {
    if (mode == 0) {
        blankChars(cursorRow, cursorCol, cols - 1);
        for (std::int32_t r = cursorRow + 1; r < rows; ++r) clearRow(r);
    } else if (mode == 1) {
        for (std::int32_t r = 0; r < cursorRow; ++r) clearRow(r);
        if (cursorRow >= 0 && cursorRow < rows) blankChars(cursorRow, 0, std::min(cursorCol, cols - 1));
    } else if (mode == 2 || mode == 3) {
        for (std::int32_t r = 0; r < rows; ++r) clearRow(r);
        cursorRow = cursorCol = 0;
        wrapPending = false;
    }
}

void Terminal::reset() {
    for (std::int32_t r = 0; r < rows; ++r) clearRow(r);
    scrollTop = 0;
    scrollBottom = rows - 1;
    cursorRow = cursorCol = savedRow = savedCol = 0;
    wrapPending = false;
    paramBytes.clear();
    clearUtf8();
    currentAttr = CellAttr{};
    state = ParserState::Ground;
}

void Terminal::feed(const std::uint8_t* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = bytes[i];
        switch (state) {
        case ParserState::Ground: ground(b); break;
        case ParserState::Escape: escape(b); break;
        case ParserState::CsiParam:
            if (b >= 0x40 && b <= 0x7E) {
                dispatch(b);
                state = ParserState::Ground;
                paramBytes.clear();
            } else if (b >= 0x20 && b <= 0x3F) {
                if (paramBytes.size() < 256) paramBytes += static_cast<char>(b);
            } else {
                state = ParserState::Ground;
                paramBytes.clear();
            }
            break;
        case ParserState::OscString:
            if (b == 0x07) state = ParserState::Ground;
            if (b == 0x1B) state = ParserState::OscEscape;
            break;
        case ParserState::OscEscape:
            state = b == '\\' ? ParserState::Ground : ParserState::OscString;
            break;
        }
    }
}

void Terminal::ground(std::uint8_t b) {
    if (b == 0x1B) {
        clearUtf8();
        state = ParserState::Escape;
    } else if (b == 0x07) {
    } else if (b == 0x08) {
        clearUtf8();
        if (cursorCol > 0) --cursorCol;
        wrapPending = false;
    } else if (b == 0x0D) {
        clearUtf8();
        cursorCol = 0;
        wrapPending = false;
    } else if (b == 0x0A) {
        clearUtf8();
        lineFeed();
    } else if (b == 0x09) {
        clearUtf8();
        cursorCol = std::min(cols - 1, (cursorCol / 8) * 8 + 8);
        wrapPending = false;
    } else if (b < 0x20) {
        clearUtf8();
    } else if (utf8Pending > 0) {
        if ((b & 0xC0) == 0x80) {
            utf8Value = (utf8Value << 6) | (b & 0x3Fu);
            if (--utf8Pending == 0) {
                const std::uint32_t v = utf8Value;
                utf8Value = 0;
                emit(v);
            }
        } else {
            clearUtf8();
        }
    } else if (b <= 0x7F) {
        putChar(b);
    } else if ((b & 0xE0) == 0xC0) {
        utf8Value = b & 0x1Fu;
        utf8Pending = 1;
    } else if ((b & 0xF0) == 0xE0) {
        utf8Value = b & 0x0Fu;
        utf8Pending = 2;
    } else if ((b & 0xF8) == 0xF0) {
        utf8Value = b & 0x07u;
        utf8Pending = 3;
    }
}

void Terminal::emit(std::uint32_t v) {
    if (v < 0xD800 || (v >= 0xE000 && v <= 0xFFFF)) {
        putChar(static_cast<char16_t>(v));
    } else if (v >= 0x10000 && v <= 0x10FFFF) {
        putChar(static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10)));
        putChar(static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF)));
    }
}

void Terminal::escape(std::uint8_t b) {
    state = ParserState::Ground;
    switch (b) {
    case '7': savedRow = cursorRow, savedCol = cursorCol; break;
    case '8':
        cursorRow = savedRow, cursorCol = savedCol;
        clampCursor();
        wrapPending = false;
        break;
    case 'D': lineFeed(); break;
    case 'E': lineFeed(), cursorCol = 0; break;
    case 'M':
        if (cursorRow > scrollTop)
            --cursorRow;
        else
            scrollDown(1);
        break;
    case '[': paramBytes.clear(), state = ParserState::CsiParam; break;
    case ']': state = ParserState::OscString; break;
    case 'c': reset(); break;
    default: break;
    }
}

std::vector<std::int32_t> Terminal::params() const {
    std::vector<std::int32_t> list{0};
    bool full = false;
    for (char ch : paramBytes) {
        if (ch == ';') {
            list.push_back(0);
            full = false;
        } else if (ch >= '0' && ch <= '9' && !full) {
            list.back() = list.back() * 10 + (ch - '0');
            if (list.back() > 32767) list.back() = 32767, full = true;
        }
    }
    return list;
}

void Terminal::dispatch(std::uint8_t final) {
    const std::vector<std::int32_t> list = params();
    const std::int32_t mode = list[0];
    const std::int32_t n = list[0] == 0 ? 1 : list[0];
    const std::int32_t m = list.size() < 2 || list[1] == 0 ? 1 : list[1];
    Row& row = grid[static_cast<std::size_t>(std::clamp(cursorRow, 0, rows - 1))];
    auto at = [](std::int32_t c) { return static_cast<std::size_t>(c); };
    switch (final) {
    case '@': {
        const std::int32_t k = std::min(n, cols);
        for (std::int32_t c = cols - 1; c >= cursorCol + k; --c) {
            row.chars[at(c)] = row.chars[at(c - k)];
            row.attrs[at(c)] = row.attrs[at(c - k)];
        }
        for (std::int32_t c = cursorCol; c < std::min(cursorCol + k, cols); ++c) {
            row.chars[at(c)] = u' ';
            row.attrs[at(c)] = CellAttr{};
        }
        break;
    }
    case 'P': {
        const std::int32_t k = std::min(n, cols - cursorCol);
        for (std::int32_t c = cursorCol; c <= cols - k - 1; ++c) {
            row.chars[at(c)] = row.chars[at(c + k)];
            row.attrs[at(c)] = row.attrs[at(c + k)];
        }
        for (std::int32_t c = cols - k; c < cols; ++c) {
            row.chars[at(c)] = u' ';
            row.attrs[at(c)] = CellAttr{};
        }
        break;
    }
    case 'A': cursorRow = std::max(cursorRow - n, scrollTop), wrapPending = false; break;
    case 'B':
    case 'e': cursorRow = std::min(cursorRow + n, scrollBottom), wrapPending = false; break;
    case 'C':
    case 'a': cursorCol = std::min(cursorCol + n, cols - 1), wrapPending = false; break;
    case 'D': cursorCol = std::max(cursorCol - n, 0), wrapPending = false; break;
    case 'E': cursorRow = std::min(cursorRow + n, scrollBottom), cursorCol = 0, wrapPending = false; break;
    case 'F': cursorRow = std::max(cursorRow - n, scrollTop), cursorCol = 0, wrapPending = false; break;
    case 'G':
    case '`': cursorCol = std::min(n, cols) - 1, wrapPending = false; break;
    case 'H':
    case 'f':
    case 'd':
        cursorRow = scrollTop + n - 1, cursorCol = m - 1;
        clampCursor();
        wrapPending = false;
        break;
    case 'J': eraseInDisplay(mode); break;
    case 'K':
        if (mode == 0) blankChars(cursorRow, cursorCol, cols - 1);
        if (mode == 1) blankChars(cursorRow, 0, cursorCol);
        if (mode == 2) clearRow(cursorRow);
        break;
    case 'L': insertLines(n); break;
    case 'M': deleteLines(n); break;
    case 'S': scrollUp(n); break;
    case 'T': scrollDown(n); break;
    case 'X': blankChars(cursorRow, cursorCol, cursorCol + n - 1); break;
    case 'm': graphicRendition(list); break;
    case 'r': {
        std::int32_t top = n;
        std::int32_t bottom = std::max(top, m);
        top = std::min(top, rows);
        bottom = std::min(bottom, rows);
        if (top < bottom)
            scrollTop = top - 1, scrollBottom = bottom - 1;
        else
            scrollTop = 0, scrollBottom = rows - 1;
        cursorRow = scrollTop, cursorCol = 0, wrapPending = false;
        break;
    }
    case 's': savedRow = cursorRow, savedCol = cursorCol; break;
    case 'u':
        cursorRow = savedRow, cursorCol = savedCol;
        clampCursor();
        wrapPending = false;
        break;
    default: break;
    }
}

void Terminal::graphicRendition(const std::vector<std::int32_t>& list) {
    const std::size_t count = list.size();
    std::size_t i = 0;
    while (i < count) {
        const std::int32_t code = list[i];
        if (code == 38 || code == 48) {
            ColorValue& target = code == 38 ? currentAttr.fg : currentAttr.bg;
            auto limited = [&](std::size_t k) { return static_cast<ColorValue>(std::min(list[k], 255)); };
            if (i + 1 < count && list[i + 1] == 5 && i + 2 < count) {
                target = limited(i + 2);
                i += 3;
            } else if (i + 1 < count && list[i + 1] == 2 && i + 4 < count) {
                target = 0x01000000u + limited(i + 2) * 65536 + limited(i + 3) * 256 + limited(i + 4);
                i += 5;
            } else {
                i += 1;
            }
            continue;
        }
        if (code == 0) currentAttr = CellAttr{};
        if (code >= 30 && code <= 37) currentAttr.fg = static_cast<ColorValue>(code - 30);
        if (code == 39) currentAttr.fg = kDefault;
        if (code >= 40 && code <= 47) currentAttr.bg = static_cast<ColorValue>(code - 40);
        if (code == 49) currentAttr.bg = kDefault;
        if (code >= 90 && code <= 97) currentAttr.fg = static_cast<ColorValue>(code - 82);
        if (code >= 100 && code <= 107) currentAttr.bg = static_cast<ColorValue>(code - 92);
        i += 1;
    }
}

std::string Terminal::differences(const Screen& s) const {
    if (s.rows != rows || s.cols != cols) return "dimensions";
    for (std::int32_t r = 0; r < rows; ++r) {
        const Row& row = grid[static_cast<std::size_t>(r)];
        for (std::int32_t c = 0; c < cols; ++c) {
            const auto at = static_cast<std::size_t>(c);
            if (s.rowChars(r)[c] != row.chars[at])
                return "text of row " + std::to_string(r) + ", column " + std::to_string(c);
            if (!(s.rowAttrs(r)[c] == row.attrs[at]))
                return "colours of row " + std::to_string(r) + ", column " + std::to_string(c);
        }
    }
    if (!(s.currentAttr == currentAttr)) return "currentAttr";
    if (s.cursorRow != cursorRow || s.cursorCol != cursorCol) return "cursor";
    if (s.savedRow != savedRow || s.savedCol != savedCol) return "saved position";
    if (s.scrollTop != scrollTop || s.scrollBottom != scrollBottom) return "scroll region";
    if (s.wrapPending != wrapPending) return "wrapPending";
    if (s.parserState != state) return "parser state";
    if (s.paramBuffer.view() != paramBytes) return "paramBuffer";
    if (s.utf8Value != utf8Value || s.utf8Pending != utf8Pending) return "UTF-8 state";
    return {};
}

}  // namespace vtsnap::model
