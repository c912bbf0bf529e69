#include "capture/run_posix.hpp"

int main(int argc, char** argv) {
    return vtsnap::runCapture(argc, argv);
}
