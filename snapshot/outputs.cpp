#include "snapshot/outputs.hpp"

#include <cstdio>
#include <system_error>
#include <vector>

#include "snapshot/page.hpp"
#include "snapshot/render.hpp"

namespace vtsnap {

void renderScreenFile(std::string& out, const Screen& screen, bool useColor, bool /*live*/) {
    appendAscii(out, kByteOrderMark);
    renderRows(out, screen, useColor);
}

void renderPageFile(std::string& out, const Screen& screen, bool /*useColor*/, bool live) {
    renderPage(out, screen, live);
}

std::string shownPath(const std::filesystem::path& path) {
    const std::u8string bytes = path.u8string();
    return std::string(bytes.begin(), bytes.end());
}

namespace {

// How a file is named on the command line: "-log=run.txt", or the operand.
std::string shownOption(Output output, const std::filesystem::path& path) {
    return std::string(kindOf(output).option) + shownPath(path);
}

// Files whose identity says whether two names are one: a device or the null
// device may be named any number of times.
bool compared(FileKind kind) { return kind == FileKind::Regular || kind == FileKind::Stream; }

}  // namespace

Outputs::~Outputs() { closeAll(); }

void Outputs::closeAll() {
    for (Opened& entry : opened_) {
        if (entry.open && entry.owned) closeFile(entry.file.handle);
        entry.open = false;
    }
}

std::optional<OutputFile> Outputs::file(Output output) const {
    const Opened& entry = opened_[indexOf(output)];
    if (!entry.open || entry.file.kind == FileKind::Null) return std::nullopt;
    return OutputFile(entry.file.handle);
}

bool Outputs::empty(Output output) const {
    const Opened& entry = opened_[indexOf(output)];
    return !entry.open || entry.file.kind != FileKind::Regular || emptyFile(entry.file.handle);
}

void Outputs::discard(Output output) {
    Opened& entry = opened_[indexOf(output)];
    if (!entry.open) return;
    if (entry.owned) closeFile(entry.file.handle);
    entry.open = false;
    if (!entry.file.created) return;
    // Through whatever link the name went, and only while the name still
    // leads to the file this run created.
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(entry.path, error);
    if (error) return;
    const std::optional<FileIdentity> now = identityOfPath(target);
    if (now && *now == entry.file.identity) std::filesystem::remove(target, error);
}

bool Outputs::open(const OutputRequest& request) {
    const auto refuse = [&](const std::string& message) {
        std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(request.tool.size()), request.tool.data(),
                     message.c_str());
        for (const OutputKind& kind : kOutputs) discard(kind.output);
        return false;
    };

    // Names first: nothing is created for a command line refused by them.
    for (const OutputKind& kind : kOutputs) {
        const auto& path = request.paths[indexOf(kind.output)];
        if (!path) continue;
        if (path->native() == std::filesystem::path("-").native()) {
            if (kind.output == Output::Screen && request.screenMayBeStandardOutput) continue;
            return refuse(shownOption(kind.output, *path) +
                          ": `-` names no file here, and standard output is not taken");
        }
        if (namesReservedDevice(*path))
            return refuse(shownOption(kind.output, *path) +
                          ": a device name, not a file (only NUL is taken, for no file)");
    }

    // One file as two of them would be destroyed or mixed up. Each is
    // compared once it is open (or created), so that links and names in
    // another case are caught; one the platform will not open twice is
    // compared by the file its name leads to.
    struct Named {
        std::string shown;
        FileIdentity identity;
    };
    std::vector<Named> named;
    const auto namedAs = [&](const FileIdentity& identity) -> const Named* {
        for (const Named& other : named)
            if (other.identity == identity) return &other;
        return nullptr;
    };
    if (request.input) {
        const std::optional<NativeFile> input = describeHandle(*request.input);
        if (input && compared(input->kind)) named.push_back({request.inputName, input->identity});
    }
    for (const OutputKind& kind : kOutputs) {
        const auto& path = request.paths[indexOf(kind.output)];
        if (!path) continue;
        Opened& entry = opened_[indexOf(kind.output)];
        entry.path = *path;
        const bool standardOutput = path->native() == std::filesystem::path("-").native();
        const std::string shown = standardOutput ? "standard output" : shownOption(kind.output, *path);
        if (standardOutput) {
            const std::optional<NativeFile> out = describeHandle(standardOutputHandle());
            if (!out) return refuse("standard output: not open");
            entry.file = *out;
            entry.owned = false;
        } else {
            std::string reason;
            const std::optional<NativeFile> opened = openForWriting(*path, kind.writing == Writing::Appended, reason);
            if (!opened) {
                const std::optional<FileIdentity> identity = identityOfPath(*path);
                if (const Named* other = identity ? namedAs(*identity) : nullptr)
                    return refuse(other->shown + " and " + shown + " are one file");
                return refuse(shownPath(*path) + ": " + reason);
            }
            entry.file = *opened;
            entry.owned = true;
        }
        entry.open = true;
        const FileKind fileKind = entry.file.kind;
        if (kind.writing == Writing::Rewritten && !request.writtenOnce && fileKind != FileKind::Regular &&
            fileKind != FileKind::Null)
            return refuse(shown + ": not a regular file, so it cannot be rewritten in place");
        if (!compared(fileKind)) continue;
        if (const Named* other = namedAs(entry.file.identity))
            return refuse(other->shown + " and " + shown + " are one file");
        named.push_back({shown, entry.file.identity});
    }
    // The program's own file would be destroyed.
    const std::optional<FileIdentity> program =
        request.program ? identityOfPath(*request.program) : std::nullopt;
    if (const Named* other = program ? namedAs(*program) : nullptr)
        return refuse(other->shown + " is the program's own file");
    return true;
}

}  // namespace vtsnap
