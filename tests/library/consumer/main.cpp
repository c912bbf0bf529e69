// Feeds a few bytes through the installed library and prints what it reads
// back: a line, a cell, the cursor and the file.
#include <cstdio>
#include <string>

#include <vtsnap/vtsnap.hpp>

int main() {
    vtsnap::Emulator screen(20, 3);
    screen.feed("hi\x1b[31m!\x1b[0m\r\n\xe4\xb8\xad");
    const vtsnap::Emulator::Cell cell = screen.cell(0, 2);
    const vtsnap::Emulator::Cursor cursor = screen.cursor();
    std::printf("%s|%c %d %u|%d,%d|%zu\n", screen.line(0).c_str(), static_cast<char>(cell.text[0]), cell.width,
                cell.fg, cursor.row, cursor.col, screen.file().size());
    return screen.file() == vtsnap::renderFile("hi\x1b[31m!\x1b[0m\r\n\xe4\xb8\xad", false, 20, 3) ? 0 : 1;
}
