// Writes the benchmark streams to files: vtsnap-streams DIR [MEGABYTES]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/streams.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: vtsnap-streams DIR [MEGABYTES]\n");
        return 2;
    }
    const std::size_t megabytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 8;
    for (auto c : vtsnap::bench::kAllStreamClasses) {
        const std::string path = std::string(argv[1]) + "/" + std::string(vtsnap::bench::streamClassName(c)) + ".vt";
        const std::string bytes = vtsnap::bench::makeStream(c, megabytes << 20);
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}
