// The child that the fault tests run inside the tool:
//   fault_child phases PAUSE_MS CODE     a short screen, a long one, the final one
//   fault_child ticks N PAUSE_MS CODE    N screens of changing length, then the final one
//   fault_child flood MB                 MB megabytes of mixed output as fast as it can, then the final screen
//   fault_child die SIGNAL TAIL          a line, an unfinished TAIL (csi, osc, utf8, esc), then the signal
//   fault_child lines N PAUSE_MS         numbered lines 1 to N, a pause after every thousand
// Every final screen is what fault_screens.hpp says.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "fault_screens.hpp"

namespace {

void writeAll(const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(1, data + done, size - done);
        if (n <= 0) std::_Exit(3);
        done += static_cast<std::size_t>(n);
    }
}

void writeAll(const std::string& text) { writeAll(text.data(), text.size()); }

void pause(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// One megabyte of what busy programs print: coloured lines, UTF-8, cursor
// movement, erasing, scroll regions, titles, and some bytes of noise.
std::string floodBlock() {
    std::string block;
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    };
    for (int line = 0; block.size() < (1u << 20); ++line) {
        switch (line % 8) {
        case 0: block += "\x1b[3" + std::to_string(line % 8) + "mcompiling unit " + std::to_string(line) + "\x1b[0m\r\n"; break;
        case 1: block += "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 progress " + std::to_string(line % 100) + "%\r"; break;
        case 2: block += "\x1b[2K\x1b[1G\x1b[38;5;" + std::to_string(line % 256) + "m" + std::string(100, '=') + "\x1b[m\r\n"; break;
        case 3: block += "\x1b]0;title " + std::to_string(line) + "\x07\x1b[5;20r\x1b[20;1H\n\n\x1b[r\x1b[999;1H"; break;
        case 4: block += "\x1b[48;2;" + std::to_string(line % 256) + ";10;20mcolumns\tand\ttabs\x1b[K\x1b[0m\r\n"; break;
        case 5:
            for (int i = 0; i < 64; ++i) block += static_cast<char>(next() >> 56);
            block += "\x18\x07\x07\x1b[0m\r\n";  // back to plain text whatever the noise left open
            break;
        case 6: block += "\x1b[3A\x1b[10C\x1b[1P\x1b[2@\x1b[4X\x1b[B\x1b[E\x1b[L\x1b[M\x1b" "7\x1b" "8\x1bM\x1b[S\x1b[T"; break;
        default: block += std::string(130, 'x') + "\r\n"; break;
        }
    }
    return block;
}

int phases(long pauseMs, int code) {
    writeAll(vtsnap::faults::kClear + vtsnap::faults::numberedLines(vtsnap::faults::kShortLines));
    pause(pauseMs);
    writeAll(vtsnap::faults::kClear + vtsnap::faults::numberedLines(vtsnap::faults::kLongLines));
    pause(pauseMs);
    writeAll(vtsnap::faults::kClear + vtsnap::faults::kFinalText);
    return code;
}

int ticks(long count, long pauseMs, int code) {
    for (long i = 0; i < count; ++i) {
        // Screens that grow and shrink, so the file does too.
        writeAll(vtsnap::faults::kClear + vtsnap::faults::numberedLines(1 + (i * 7) % 23));
        pause(pauseMs);
    }
    writeAll(vtsnap::faults::kClear + vtsnap::faults::kFinalText);
    return code;
}

int flood(long megabytes) {
    const std::string block = floodBlock();
    const std::size_t total = static_cast<std::size_t>(megabytes) << 20;
    // Straight from the one block, so that this process stays small whatever
    // the amount: its peak memory counts with the tool's.
    for (std::size_t done = 0; done < total; done += block.size())
        writeAll(block.data(), std::min(block.size(), total - done));
    writeAll(vtsnap::faults::kReset + vtsnap::faults::kFinalText);
    return 0;
}

int lines(long count, long pauseMs) {
    std::string chunk;
    for (long i = 1; i <= count; ++i) {
        chunk += vtsnap::faults::numberedLine(static_cast<int>(i)) + "\r\n";
        if (i % 1000 == 0 || i == count) {
            writeAll(chunk);
            chunk.clear();
            if (pauseMs > 0) pause(pauseMs);
        }
    }
    return 0;
}

int die(int signal, const std::string& tail) {
    writeAll(vtsnap::faults::kClear + vtsnap::faults::kBeforeSignal + "\r\n");
    if (tail == "csi") writeAll("\x1b[31;4");
    else if (tail == "osc") writeAll("\x1b]0;unfinished title");
    else if (tail == "utf8") writeAll("\xe2\x82");
    else if (tail == "esc") writeAll("\x1b");
    else return 2;
    raise(signal);
    pause(10000);  // only if the signal did not end the process
    return 4;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "phases" && argc == 4) return phases(std::atol(argv[2]), std::atoi(argv[3]));
    if (command == "ticks" && argc == 5) return ticks(std::atol(argv[2]), std::atol(argv[3]), std::atoi(argv[4]));
    if (command == "flood" && argc == 3) return flood(std::atol(argv[2]));
    if (command == "lines" && argc == 4) return lines(std::atol(argv[2]), std::atol(argv[3]));
    if (command == "die" && argc == 4) return die(std::atoi(argv[2]), argv[3]);
    return 2;
}
