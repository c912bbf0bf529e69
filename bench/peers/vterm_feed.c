/* Feeds a recorded stream to libvterm with its screen layer, in 4096-byte
 * blocks as it is read, then prints the screen's text and exits: one process
 * per measurement, like vtsnap-render.
 *   vterm_feed FILE [ROWS] */
#include <stdio.h>
#include <stdlib.h>
#include <vterm.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    FILE* f = fopen(argv[1], "rb");
    if (!f) return 1;
    int rows = argc > 2 ? atoi(argv[2]) : 100;
    VTerm* vt = vterm_new(rows, 120);
    vterm_set_utf8(vt, 1);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
    char block[4096];
    size_t got;
    while ((got = fread(block, 1, sizeof block, f)) > 0) vterm_input_write(vt, block, got);
    vterm_screen_flush_damage(screen);
    /* The text, so that the screen layer is read as our renderer reads ours. */
    static char line[120 * 4 + 1];
    for (int r = 0; r < rows; ++r) {
        VTermRect rect = {.start_row = r, .end_row = r + 1, .start_col = 0, .end_col = 120};
        size_t n = vterm_screen_get_text(screen, line, sizeof line - 1, rect);
        line[n] = '\0';
        puts(line);
    }
    vterm_free(vt);
    fclose(f);
    return 0;
}
