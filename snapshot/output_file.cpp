#include "snapshot/output_file.hpp"

#include <string>

#include "snapshot/render.hpp"

namespace vtsnap {

bool writeSnapshot(const Screen& screen, const OutputFile& file, bool useColor) {
    return rewriteSnapshot(renderSnapshot(screen, useColor), file);
}

bool rewriteSnapshot(std::string_view snapshot, const OutputFile& file) {
    if (!file.seekToStart()) return false;
    const auto length = static_cast<std::uint32_t>(snapshot.size());
    const WriteResult wrote = file.write(snapshot.data(), length);
    // A short write leaves the old tail beyond it; do not cut there.
    if (!wrote.ok || wrote.written != length) return false;
    if (!file.truncateHere()) return false;
    file.flush();  // the content is right even if it is not on disk yet
    return true;
}

}  // namespace vtsnap
