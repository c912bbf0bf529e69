// Carries out one complete control sequence. The final byte alone selects the
// action: private markers and intermediates do not change it, and nothing is
// ever answered (status and attribute requests are ignored like mode changes).
#include <algorithm>
#include <cstring>

#include "terminal/screen.hpp"

namespace vtsnap {

void Screen::dispatchCsi(std::uint8_t final) {
    const ParamList list = parseParams();
    const std::int32_t mode = list[0];
    const std::int32_t n = list[0] == 0 ? 1 : list[0];
    const std::int32_t m = (list.size() < 2 || list[1] == 0) ? 1 : list[1];

    switch (final) {
    case '@': {  // ICH: cells right of the cursor move right, the gap is cleared
        const std::int32_t k = std::min(n, cols);
        char16_t* text = rowChars(cursorRow);
        CellAttr* attr = rowAttrs(cursorRow);
        const std::int32_t moved = std::max(cols - cursorCol - k, 0);
        std::memmove(text + cursorCol + k, text + cursorCol, sizeof(char16_t) * static_cast<std::size_t>(moved));
        std::memmove(attr + cursorCol + k, attr + cursorCol, sizeof(CellAttr) * static_cast<std::size_t>(moved));
        const std::int32_t clearEnd = std::min(cursorCol + k, cols);
        std::fill(text + cursorCol, text + clearEnd, u' ');
        std::fill(attr + cursorCol, attr + clearEnd, CellAttr{});
        break;
    }
    case 'A':
        cursorRow = std::max(cursorRow - n, scrollTop);
        wrapPending = false;
        break;
    case 'B':
    case 'e':
        cursorRow = std::min(cursorRow + n, scrollBottom);
        wrapPending = false;
        break;
    case 'C':
    case 'a':
        cursorCol = std::min(cursorCol + n, cols - 1);
        wrapPending = false;
        break;
    case 'D':
        cursorCol = std::max(cursorCol - n, 0);
        wrapPending = false;
        break;
    case 'E':
        cursorRow = std::min(cursorRow + n, scrollBottom);
        cursorCol = 0;
        wrapPending = false;
        break;
    case 'F':
        cursorRow = std::max(cursorRow - n, scrollTop);
        cursorCol = 0;
        wrapPending = false;
        break;
    case 'G':
    case '`':
        cursorCol = std::min(n, cols) - 1;
        wrapPending = false;
        break;
    case 'H':
    case 'f':
    case 'd':  // VPA takes the column too, like CUP
        // Rows count from the top of the scroll region, then clamp to the screen.
        cursorRow = scrollTop + n - 1;
        cursorCol = m - 1;
        clampCursor();
        wrapPending = false;
        break;
    case 'J':
        eraseInDisplay(mode);
        break;
    case 'K':
        if (mode == 0)
            blankChars(cursorRow, cursorCol, cols - 1);
        else if (mode == 1)
            blankChars(cursorRow, 0, cursorCol);
        else if (mode == 2)
            clearRow(cursorRow);
        break;
    case 'L':
        insertLines(n);
        break;
    case 'M':
        deleteLines(n);
        break;
    case 'P': {  // DCH: cells right of the cursor move left, the end is cleared
        const std::int32_t k = std::min(n, cols - cursorCol);
        char16_t* text = rowChars(cursorRow);
        CellAttr* attr = rowAttrs(cursorRow);
        const std::int32_t moved = cols - cursorCol - k;
        std::memmove(text + cursorCol, text + cursorCol + k, sizeof(char16_t) * static_cast<std::size_t>(moved));
        std::memmove(attr + cursorCol, attr + cursorCol + k, sizeof(CellAttr) * static_cast<std::size_t>(moved));
        std::fill(text + cols - k, text + cols, u' ');
        std::fill(attr + cols - k, attr + cols, CellAttr{});
        break;
    }
    case 'S':
        scrollUp(n);
        break;
    case 'T':
        scrollDown(n);
        break;
    case 'X':
        blankChars(cursorRow, cursorCol, cursorCol + n - 1);
        break;
    case 'm':
        selectGraphicRendition(list);
        break;
    case 'r': {
        // A region of fewer than two rows means the whole screen.
        std::int32_t top = n;
        std::int32_t bottom = std::max(top, m);
        top = std::min(top, rows);
        bottom = std::min(bottom, rows);
        if (top < bottom) {
            scrollTop = top - 1;
            scrollBottom = bottom - 1;
        } else {
            scrollTop = 0;
            scrollBottom = rows - 1;
        }
        cursorRow = scrollTop;
        cursorCol = 0;
        wrapPending = false;
        break;
    }
    case 's':
        savedRow = cursorRow;
        savedCol = cursorCol;
        break;
    case 'u':
        cursorRow = savedRow;
        cursorCol = savedCol;
        clampCursor();
        wrapPending = false;
        break;
    default:
        break;
    }
}

}  // namespace vtsnap
