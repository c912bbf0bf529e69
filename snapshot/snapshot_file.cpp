#include "snapshot/snapshot_file.hpp"

#include <string>

#include "snapshot/render.hpp"

namespace vtsnap {

bool writeSnapshot(const Screen& screen, const SnapshotFile& file, bool useColor) {
    return rewriteSnapshot(renderSnapshot(screen, useColor), file);
}

bool rewriteSnapshot(std::string_view snapshot, const SnapshotFile& file) {
    if (!file.seekToStart()) return false;
    const auto length = static_cast<std::uint32_t>(snapshot.size());
    std::uint32_t written = 0;
    if (!file.write(snapshot.data(), length, written)) return false;
    // A short write leaves the old tail beyond it; do not cut there.
    if (written != length) return false;
    if (!file.truncateHere()) return false;
    file.flush();  // the content is right even if it is not on disk yet
    return true;
}

}  // namespace vtsnap
