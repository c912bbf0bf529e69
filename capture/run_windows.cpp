#include "capture/run_windows.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/command_line_windows.hpp"
#include "snapshot/output_file.hpp"
#include "snapshot/outputs.hpp"

namespace vtsnap {
namespace {

// Not imported by name: looked up at run time, so that on a system without
// pseudo consoles the tool still starts and ends with 1. Declared here, since
// older headers lack them.
using HPCON = void*;
using CreatePseudoConsoleFn = HRESULT(WINAPI*)(COORD size, HANDLE input, HANDLE output, DWORD flags,
                                               HPCON* pseudoConsole);
using ClosePseudoConsoleFn = void(WINAPI*)(HPCON pseudoConsole);

constexpr DWORD_PTR kProcThreadAttributePseudoConsole = 0x00020016;
constexpr DWORD kDrainSlice = 50;  // milliseconds between drains without a reader thread

template <class Function>
Function lookUp(HMODULE module, const char* name) {
    // Through a plain function pointer type, which any function type may be cast to.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

bool isConsoleHandle(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// One handle, closed when it goes unless released first. Calls that fail
// give null or INVALID_HANDLE_VALUE; both count as no handle.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ~Handle() { reset(); }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    // For calls that hand a new handle back through a pointer.
    HANDLE* receive() {
        reset();
        return &handle_;
    }
    void reset() {
        if (*this) CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

class PseudoConsole {
public:
    explicit PseudoConsole(ClosePseudoConsoleFn closeFunction) : close_(closeFunction) {}
    PseudoConsole(const PseudoConsole&) = delete;
    PseudoConsole& operator=(const PseudoConsole&) = delete;
    ~PseudoConsole() { close(); }

    HPCON get() const { return console_; }
    HPCON* receive() { return &console_; }
    void close() {
        if (console_ != nullptr) close_(console_);
        console_ = nullptr;
    }

private:
    ClosePseudoConsoleFn close_;
    HPCON console_ = nullptr;
};

// The one-entry attribute list that attaches the child to the pseudo console.
class AttributeList {
public:
    AttributeList() {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        if (!buffer_.empty() && InitializeProcThreadAttributeList(list(), 1, 0, &size)) initialized_ = true;
    }
    AttributeList(const AttributeList&) = delete;
    AttributeList& operator=(const AttributeList&) = delete;
    ~AttributeList() { reset(); }

    explicit operator bool() const { return initialized_; }
    LPPROC_THREAD_ATTRIBUTE_LIST list() {
        return buffer_.empty() ? nullptr : reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
    }
    void reset() {
        if (initialized_) DeleteProcThreadAttributeList(list());
        initialized_ = false;
    }

private:
    std::vector<std::uint8_t> buffer_;
    bool initialized_ = false;
};

// The file CreateProcess runs for `program`: the path as given when it has a
// directory part, otherwise found along the usual search path; ".exe" added
// to a name without an extension. Empty when there is none.
std::optional<std::wstring> programFile(const std::wstring& program) {
    if (program.empty()) return std::nullopt;
    std::wstring path = program;
    if (program.find_first_of(L"\\/:") == std::wstring::npos) {
        std::vector<wchar_t> found(MAX_PATH);
        DWORD length = SearchPathW(nullptr, program.c_str(), L".exe", static_cast<DWORD>(found.size()), found.data(),
                                   nullptr);
        if (length >= found.size()) {
            found.resize(length + 1);
            length = SearchPathW(nullptr, program.c_str(), L".exe", static_cast<DWORD>(found.size()), found.data(),
                                 nullptr);
        }
        if (length == 0 || length >= found.size()) return std::nullopt;
        path.assign(found.data(), length);
    } else if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const std::size_t name = path.find_last_of(L"\\/:") + 1;
        if (path.find(L'.', name) == std::wstring::npos) path += L".exe";
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
    return path;
}

void reportNotStarted(const std::wstring& program, const char* reason) {
    const std::string shown = shownPath(std::filesystem::path(program));
    std::fprintf(stderr, "vtsnap: cannot start %s: %s%s\n", shown.c_str(), reason,
                 program.starts_with(L'-')
                     ? " (it begins with '-': a mistyped option? options come first, as -name=value)"
                     : "");
}

// One wait of the snapshot loop when no reader thread runs: the main thread
// drains the pipe between short waits, so the child never stalls on a full
// pipe and none of its output is lost.
DWORD waitWhileDraining(HANDLE process, DWORD milliseconds, HANDLE outputRead, CaptureLoop& loop) {
    DWORD result = WAIT_TIMEOUT;
    for (DWORD waited = 0; waited < milliseconds && result == WAIT_TIMEOUT; waited += kDrainSlice) {
        decodeWaitingOutput(outputRead, loop);
        result = WaitForSingleObject(process, kDrainSlice);
    }
    decodeWaitingOutput(outputRead, loop);
    return result;
}

// The child, its end and the reader, as the capture loop sees them.
class WindowsChildWatch final : public ChildWatch {
public:
    WindowsChildWatch(HANDLE process, ReaderContext& context, PseudoConsole& console, Handle& inputWrite)
        : process_(process), context_(context), console_(console), inputWrite_(inputWrite) {}

    // Without a reader the main thread reads while it waits.
    void startReader() { reader_ = Handle(CreateThread(nullptr, 0, readerThread, &context_, 0, nullptr)); }

    bool waitForChild(int milliseconds) override {
        const auto wait = static_cast<DWORD>(milliseconds);
        const DWORD result = reader_ ? WaitForSingleObject(process_, wait)
                                     : waitWhileDraining(process_, wait, context_.outputRead, *context_.loop);
        return result != WAIT_TIMEOUT;
    }

    void finishReading() override {
        GetExitCodeProcess(process_, &exitCode_);
        // Releases the last write end of the output pipe once the remaining
        // output has been read; the reader keeps draining meanwhile. The
        // input pipe stays open until now: the console host ends, and takes
        // the child with it, once its input breaks.
        console_.close();
        inputWrite_.reset();
        if (reader_) {
            WaitForSingleObject(reader_.get(), INFINITE);
            reader_.reset();
        } else {
            readerThread(&context_);
        }
    }

    DWORD exitCode() const { return exitCode_; }

private:
    HANDLE process_;
    ReaderContext& context_;
    PseudoConsole& console_;
    Handle& inputWrite_;
    Handle reader_;
    DWORD exitCode_ = 0;
};

}  // namespace

BOOL WINAPI consoleCtrlHandler(DWORD /*controlType*/) {
    return TRUE;  // swallowed: the run lasts exactly as long as the child
}

DWORD WINAPI readerThread(LPVOID parameter) {
    const auto* context = static_cast<const ReaderContext*>(parameter);
    std::uint8_t buffer[kReadSize];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(context->outputRead, buffer, kReadSize, &count, nullptr) || count == 0) return 0;
        context->loop->feed(buffer, count);
    }
}

bool decodeWaitingOutput(HANDLE pipe, CaptureLoop& loop) {
    // Only what is there now, so that a child that never stops writing
    // cannot hold up the snapshots.
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    std::uint8_t buffer[kReadSize];
    while (available > 0) {
        DWORD count = 0;
        if (!ReadFile(pipe, buffer, std::min<DWORD>(available, kReadSize), &count, nullptr) || count == 0)
            return false;
        loop.feed(buffer, count);
        available -= std::min(available, count);
    }
    return true;
}

bool standardHandlesAreConsoles() {
    return isConsoleHandle(GetStdHandle(STD_INPUT_HANDLE)) && isConsoleHandle(GetStdHandle(STD_OUTPUT_HANDLE)) &&
           isConsoleHandle(GetStdHandle(STD_ERROR_HANDLE));
}

int runCapture() {
    switch (aboutRequestOf(GetCommandLineW())) {
    case AboutRequest::Help: return printToStandardOutput(captureHelp());
    case AboutRequest::Version: return printToStandardOutput(versionText("vtsnap"));
    case AboutRequest::None: break;
    }

    // Before anything else, so that Ctrl+C cannot end a half-built run.
    SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);

    // Not imported by name: without pseudo consoles a run ends with 1
    // whatever its arguments. Both lookups first, then both tested.
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return 1;
    const auto createPseudoConsole = lookUp<CreatePseudoConsoleFn>(kernel32, "CreatePseudoConsole");
    const auto closePseudoConsole = lookUp<ClosePseudoConsoleFn>(kernel32, "ClosePseudoConsole");
    if (createPseudoConsole == nullptr || closePseudoConsole == nullptr) return 1;

    std::optional<ParsedCommandLine> parsed = parseCommandLine();
    if (!parsed) return 1;
    const CommandLine<wchar_t> options = std::move(parsed->line);

    // The argument vector is not needed past the child's command line.
    const std::wstring childCommandLine = buildChildCommandLine(parsed->args, options.programIndex);
    LocalFree(parsed->argv);
    parsed.reset();

    // A program that cannot be found leaves every file as it was.
    const std::optional<std::wstring> program = programFile(options.programPath);
    if (!program) {
        reportNotStarted(options.programPath, "not found");
        return 1;
    }

    // Every file is opened, and checked, before any is emptied, and before
    // any pipe or child exists.
    OutputRequest request;
    request.tool = "vtsnap";
    request.program = std::filesystem::path(*program);
    for (std::size_t i = 0; i < kOutputCount; ++i)
        if (options.paths[i]) request.paths[i] = std::filesystem::path(*options.paths[i]);
    Outputs outputs;
    if (!outputs.open(request)) return 1;
    for (const OutputKind& kind : kOutputs)
        if (!outputs.empty(kind.output)) return 1;

    // Declared in the order of creation, so that a failure anywhere releases
    // what exists, the pseudo console first.
    Handle inputRead, inputWrite, outputRead, outputWrite;
    if (!CreatePipe(inputRead.receive(), inputWrite.receive(), nullptr, 0)) return 1;
    if (!CreatePipe(outputRead.receive(), outputWrite.receive(), nullptr, 0)) return 1;

    PseudoConsole pseudoConsole(closePseudoConsole);
    const COORD size{static_cast<SHORT>(kColumns), static_cast<SHORT>(options.rowCount)};
    if (FAILED(createPseudoConsole(size, inputRead.get(), outputWrite.get(), 0, pseudoConsole.receive()))) return 1;

    // The pseudo console holds its own references to these two.
    inputRead.reset();
    outputWrite.reset();

    AttributeList attributes;
    if (!attributes) return 1;
    // The HPCON value itself goes in as the value pointer.
    if (!UpdateProcThreadAttribute(attributes.list(), 0, kProcThreadAttributePseudoConsole, pseudoConsole.get(),
                                   sizeof(HPCON), nullptr, nullptr))
        return 1;

    // With any standard handle redirected, the platform would hand the
    // child the tool's own handles and its output would bypass the pseudo
    // console; null handles make it use the pseudo console's.
    STARTUPINFOEXW startupInfo{};
    startupInfo.StartupInfo.cb = sizeof(STARTUPINFOEXW);
    startupInfo.lpAttributeList = attributes.list();
    if (!standardHandlesAreConsoles()) startupInfo.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    std::vector<wchar_t> commandLineBuffer(childCommandLine.begin(), childCommandLine.end());
    commandLineBuffer.push_back(L'\0');

    // Built before the child starts, so that running out of memory ends the
    // tool before any child exists, never in the middle of a child's run.
    OutputFiles files;
    for (const OutputKind& kind : kOutputs) files[indexOf(kind.output)] = outputs.file(kind.output);
    // The child inherits the tool's environment, TERM included when it is set.
    const char* term = std::getenv("TERM");
    CaptureLoop loop(options.rowCount, files, options.useColor, term ? term : "");

    PROCESS_INFORMATION processInfo{};
    const BOOL created = CreateProcessW(
        nullptr, commandLineBuffer.data(), nullptr, nullptr, FALSE,
        EXTENDED_STARTUPINFO_PRESENT | CREATE_NEW_PROCESS_GROUP, nullptr,
        options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startupInfo.StartupInfo,
        &processInfo);
    attributes.reset();
    if (!created) {
        reportNotStarted(options.programPath, "the system could not run it");
        return 1;
    }
    const Handle process(processInfo.hProcess);
    const Handle thread(processInfo.hThread);

    ReaderContext context{outputRead.get(), &loop};
    WindowsChildWatch watch(process.get(), context, pseudoConsole, inputWrite);
    watch.startReader();
    const bool filesWhole = loop.run(watch);
    // A failed file is not reported as success; a program's own failure stands.
    return watch.exitCode() == 0 && !filesWhole ? 1 : static_cast<int>(watch.exitCode());
}

}  // namespace vtsnap
