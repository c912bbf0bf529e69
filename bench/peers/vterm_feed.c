/* Feeds a recorded stream to libvterm with its screen layer, in 4096-byte
 * blocks, and prints the best MB/s of five passes. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <vterm.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    FILE* f = fopen(argv[1], "rb");
    if (!f) return 1;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    char* data = malloc(size);
    if (fread(data, 1, size, f) != (size_t)size) return 1;
    int rows = argc > 2 ? atoi(argv[2]) : 100;
    VTerm* vt = vterm_new(rows, 120);
    vterm_set_utf8(vt, 1);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
    double best = 0;
    for (int pass = 0; pass < 5; ++pass) {
        double start = now();
        for (long at = 0; at < size; at += 4096)
            vterm_input_write(vt, data + at, size - at < 4096 ? size - at : 4096);
        vterm_screen_flush_damage(screen);
        double mbs = size / (now() - start) / 1e6;
        if (mbs > best) best = mbs;
    }
    printf("%.1f\n", best);
    vterm_free(vt);
    return 0;
}
