#include "capture/about.hpp"

#include <cstdio>

#include "vtsnap_version.hpp"

namespace vtsnap {

std::string versionText(std::string_view tool) {
    std::string text(tool);
    text += " " VTSNAP_VERSION;
    constexpr std::string_view commit = VTSNAP_COMMIT;
    if (!commit.empty()) {
        text += " (commit ";
        text += commit;
        text += ')';
    }
    text += '\n';
    return text;
}

std::string_view captureHelp() {
    return "usage: vtsnap [-rows=N] [-color] [-log=FILE] [-html=FILE] [-record=FILE] program [arguments ...] "
           "outputfile\n"
           "\n"
           "Runs program on a terminal of its own, 120 columns wide, and keeps outputfile\n"
           "holding what its screen shows, as UTF-8 text: rewritten every 500 ms and once\n"
           "more after the program ends. Options come first.\n"
           "\n"
           "  -rows=N        the screen's height, 1 to 32767 (default 100)\n"
           "  -color         keep colours, as SGR sequences\n"
           "  -log=FILE      also append to FILE every line that leaves the top of the\n"
           "                 screen, then the last screen: the whole run as clean text\n"
           "  -html=FILE     also keep FILE holding the screen as a web page, in colour,\n"
           "                 rewritten with outputfile; it reloads itself while the\n"
           "                 program runs\n"
           "  -record=FILE   also record the run into FILE as asciicast v2, with its\n"
           "                 timing, for asciinema and its players: the program's\n"
           "                 output as it was, but bytes that are not UTF-8, which\n"
           "                 the screen drops, as U+FFFF, which it drops too\n"
           "  --help         this text, when it is the only argument\n"
           "  --version      the version, when it is the only argument\n"
           "\n"
           "Exit code: the program's. 1 when the run cannot be set up (a command line\n"
           "without program or output file, a file that cannot be opened or is the\n"
           "program's own, one file named twice, an output or page that cannot be\n"
           "rewritten in place), or when the program ended with 0 but the last screen,\n"
           "the last page, or the end of the log or the recording could not be written\n"
           "whole.\n";
}

int printToStandardOutput(std::string_view text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return std::fflush(stdout) == 0 && written ? 0 : 1;
}

}  // namespace vtsnap
