#include "snapshot/output_file.hpp"

#include <string>

#include "snapshot/render.hpp"

namespace vtsnap {

bool writeSnapshot(const Screen& screen, const OutputFile& file, bool useColor) {
    return rewriteSnapshot(renderSnapshot(screen, useColor), file);
}

namespace {

// The write and the cut, under the lock that readers wait for.
bool rewriteInPlace(std::string_view snapshot, const OutputFile& file) {
    if (!file.seekToStart()) return false;
    const auto length = static_cast<std::uint32_t>(snapshot.size());
    const WriteResult wrote = file.write(snapshot.data(), length);
    // A short write leaves the old tail beyond it; do not cut there.
    if (!wrote.ok || wrote.written != length) return false;
    return file.truncateHere();
}

}  // namespace

bool rewriteSnapshot(std::string_view snapshot, const OutputFile& file) {
    const bool locked = file.lockForRewrite();
    const bool rewritten = rewriteInPlace(snapshot, file);
    if (locked) file.unlockAfterRewrite();
    if (rewritten) file.flush();  // the content is right even if it is not on disk yet
    return rewritten;
}

}  // namespace vtsnap
