#include "capture/run_windows.hpp"

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "capture/command_line_windows.hpp"
#include "snapshot/snapshot_file.hpp"

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

// A snapshot that runs out of memory is skipped like any failed snapshot: the
// file keeps the previous one and the child goes on undisturbed.
void takeSnapshot(const Screen& screen, const SnapshotFile& file, bool useColor, std::mutex& lock) {
    const std::lock_guard<std::mutex> guard(lock);
    try {
        writeSnapshot(screen, file, useColor);
    } catch (const std::bad_alloc&) {
    }
}

// One wait of the snapshot loop when no reader thread runs: the main thread
// drains the pipe between short waits, so the child never stalls on a full
// pipe and none of its output is lost.
DWORD waitWhileDraining(HANDLE process, HANDLE outputRead, Screen& screen, std::mutex& lock) {
    DWORD result = WAIT_TIMEOUT;
    for (DWORD waited = 0; waited < kSnapshotInterval && result == WAIT_TIMEOUT; waited += kDrainSlice) {
        drainPipe(outputRead, screen, lock);
        result = WaitForSingleObject(process, kDrainSlice);
    }
    drainPipe(outputRead, screen, lock);
    return result;
}

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
        const std::lock_guard<std::mutex> guard(*context->lock);
        context->screen->feedBytes(buffer, count);
    }
}

bool drainPipe(HANDLE pipe, Screen& screen, std::mutex& lock) {
    // Only what is there now, so that a child that never stops writing
    // cannot hold up the snapshots.
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    std::uint8_t buffer[kReadSize];
    while (available > 0) {
        DWORD count = 0;
        if (!ReadFile(pipe, buffer, std::min(available, kReadSize), &count, nullptr) || count == 0) return false;
        {
            const std::lock_guard<std::mutex> guard(lock);
            screen.feedBytes(buffer, count);
        }
        available -= std::min(available, count);
    }
    return true;
}

bool standardHandlesAreConsoles() {
    return isConsoleHandle(GetStdHandle(STD_INPUT_HANDLE)) && isConsoleHandle(GetStdHandle(STD_OUTPUT_HANDLE)) &&
           isConsoleHandle(GetStdHandle(STD_ERROR_HANDLE));
}

int runCapture() {
    // Before anything else, so that Ctrl+C cannot end a half-built run.
    SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);

    // Not imported by name: without pseudo consoles the tool ends with 1
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

    // Created or emptied before any pipe or child exists; readers may share it.
    const HANDLE outputFile = CreateFileW(options.outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (outputFile == INVALID_HANDLE_VALUE) return 1;

    HANDLE inputRead = nullptr;
    HANDLE inputWrite = nullptr;
    if (!CreatePipe(&inputRead, &inputWrite, nullptr, 0)) {
        CloseHandle(outputFile);
        return 1;
    }

    HANDLE outputRead = nullptr;
    HANDLE outputWrite = nullptr;
    if (!CreatePipe(&outputRead, &outputWrite, nullptr, 0)) {
        CloseHandle(inputRead);
        CloseHandle(inputWrite);
        CloseHandle(outputFile);
        return 1;
    }

    HPCON pseudoConsole = nullptr;
    const COORD size{kColumns, static_cast<SHORT>(options.rowCount)};
    if (FAILED(createPseudoConsole(size, inputRead, outputWrite, 0, &pseudoConsole))) {
        CloseHandle(inputRead);
        CloseHandle(inputWrite);
        CloseHandle(outputRead);
        CloseHandle(outputWrite);
        CloseHandle(outputFile);
        return 1;
    }

    // The pseudo console holds its own references to these two.
    CloseHandle(inputRead);
    CloseHandle(outputWrite);

    SIZE_T attributeListSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeListSize);
    std::vector<std::uint8_t> attributeList(attributeListSize);
    const auto list =
        attributeList.empty() ? nullptr : reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeList.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &attributeListSize)) {
        closePseudoConsole(pseudoConsole);
        CloseHandle(inputWrite);
        CloseHandle(outputRead);
        CloseHandle(outputFile);
        return 1;
    }

    // The HPCON value itself goes in as the value pointer.
    if (!UpdateProcThreadAttribute(list, 0, kProcThreadAttributePseudoConsole, pseudoConsole, sizeof(HPCON),
                                   nullptr, nullptr)) {
        DeleteProcThreadAttributeList(list);
        closePseudoConsole(pseudoConsole);
        CloseHandle(inputWrite);
        CloseHandle(outputRead);
        CloseHandle(outputFile);
        return 1;
    }

    // With any standard handle redirected, the platform would hand the
    // child the tool's own handles and its output would bypass the pseudo
    // console; null handles make it use the pseudo console's.
    STARTUPINFOEXW startupInfo{};
    startupInfo.StartupInfo.cb = sizeof(STARTUPINFOEXW);
    startupInfo.lpAttributeList = list;
    if (!standardHandlesAreConsoles()) startupInfo.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION processInfo{};
    std::vector<wchar_t> commandLineBuffer(childCommandLine.begin(), childCommandLine.end());
    commandLineBuffer.push_back(L'\0');

    // Built before the child starts, so that running out of memory ends the
    // tool before any child exists, never in the middle of a child's run.
    Screen screen(kColumns, options.rowCount);

    const BOOL created = CreateProcessW(
        nullptr, commandLineBuffer.data(), nullptr, nullptr, FALSE,
        EXTENDED_STARTUPINFO_PRESENT | CREATE_NEW_PROCESS_GROUP, nullptr,
        options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startupInfo.StartupInfo,
        &processInfo);

    DeleteProcThreadAttributeList(list);

    if (!created) {
        closePseudoConsole(pseudoConsole);
        CloseHandle(inputWrite);
        CloseHandle(outputRead);
        CloseHandle(outputFile);
        return 1;
    }

    // inputWrite stays open until the pseudo console is closed: the
    // console host ends, and takes the child with it, once its input breaks.

    std::mutex lock;
    ReaderContext context{outputRead, &screen, &lock};
    const HANDLE reader = CreateThread(nullptr, 0, readerThread, &context, 0, nullptr);
    const SnapshotFile file(reinterpret_cast<std::intptr_t>(outputFile));

    takeSnapshot(screen, file, options.useColor, lock);

    // The pass that sees the child end still writes its snapshot.
    DWORD waitResult = WAIT_TIMEOUT;
    do {
        waitResult = reader != nullptr ? WaitForSingleObject(processInfo.hProcess, kSnapshotInterval)
                                       : waitWhileDraining(processInfo.hProcess, outputRead, screen, lock);
        takeSnapshot(screen, file, options.useColor, lock);
    } while (waitResult == WAIT_TIMEOUT);

    DWORD exitCode = 0;
    GetExitCodeProcess(processInfo.hProcess, &exitCode);

    // Releases the last write end of the output pipe once the remaining
    // output has been read; the reader keeps draining meanwhile.
    closePseudoConsole(pseudoConsole);
    CloseHandle(inputWrite);

    // Without a reader thread the main thread reads the rest itself.
    if (reader != nullptr) {
        WaitForSingleObject(reader, INFINITE);
        CloseHandle(reader);
    } else {
        readerThread(&context);
    }

    // Holds every byte the pseudo console emitted.
    takeSnapshot(screen, file, options.useColor, lock);

    CloseHandle(outputRead);
    CloseHandle(processInfo.hProcess);
    CloseHandle(processInfo.hThread);
    CloseHandle(outputFile);
    return static_cast<int>(exitCode);
}

}  // namespace vtsnap
