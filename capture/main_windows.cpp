#include <new>

#include "capture/run_windows.hpp"

int main() {
    // Every allocation of a run is made before the child starts, so running
    // out of memory here ends a run that has not begun: a set-up failure.
    try {
        return vtsnap::runCapture();
    } catch (const std::bad_alloc&) {
        return 1;
    }
}
