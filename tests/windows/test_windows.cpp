// Windows pieces against the real platform: the command line as the platform
// splits it, the snapshot file rewritten in place, and reading the pseudo
// console's output pipe.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "capture/command_line_windows.hpp"
#include "capture/run_windows.hpp"
#include "snapshot/render.hpp"
#include "snapshot/output_file.hpp"
#include "tests/render_stream.hpp"

namespace vtsnap {
namespace {

using test::feed;
using test::fileOf;
using test::kBom;

std::wstring childLine(const wchar_t* commandLine) {
    auto parsed = parseCommandLine(commandLine);
    if (!parsed) return L"<unusable>";
    std::wstring line = buildChildCommandLine(parsed->args, parsed->line.programIndex);
    LocalFree(parsed->argv);
    return line;
}

std::wstring workingDirectoryOf(const wchar_t* commandLine) {
    auto parsed = parseCommandLine(commandLine);
    if (!parsed) return L"<unusable>";
    LocalFree(parsed->argv);
    return parsed->line.workingDirectory;
}

TEST(WindowsCommandLine, QuotesComeOffWhenSplitAndBackOnForTheChild) {
    auto parsed = parseCommandLine(LR"(C:\vtsnap.exe -rows=40 -COLOR "C:\Program Files\app\app.exe" -x "a b" "C:\my out.txt")");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->line.rowCount, 40);
    EXPECT_TRUE(parsed->line.useColor);
    EXPECT_EQ(parsed->line.programPath, LR"(C:\Program Files\app\app.exe)");
    EXPECT_EQ(parsed->line.outputPath(), LR"(C:\my out.txt)");
    EXPECT_EQ(parsed->line.workingDirectory, LR"(C:\Program Files\app)");
    EXPECT_EQ(buildChildCommandLine(parsed->args, parsed->line.programIndex),
              LR"("C:\Program Files\app\app.exe" -x "a b")");
    LocalFree(parsed->argv);
}

TEST(WindowsCommandLine, ThePlatformsSplittingRulesApplyAsTheyAre) {
    // Escaped quotes and doubled backslashes are the platform's business.
    EXPECT_EQ(childLine(LR"(vtsnap "D:\tools/x\app.exe" say\"hi\" "tail\\" out.txt)"),
              LR"(D:\tools/x\app.exe say"hi" tail\)");
    EXPECT_EQ(workingDirectoryOf(LR"(vtsnap "D:\tools/x\app.exe" out.txt)"), LR"(D:\tools/x)");
    EXPECT_EQ(workingDirectoryOf(LR"(vtsnap D:\app.exe out.txt)"), L"D:");
    EXPECT_EQ(workingDirectoryOf(LR"(vtsnap D:app.exe out.txt)"), L"");
}

TEST(WindowsCommandLine, UnusableLinesAreRefused) {
    EXPECT_FALSE(parseCommandLine(L"vtsnap"));
    EXPECT_FALSE(parseCommandLine(L"vtsnap -color out.txt"));
    EXPECT_FALSE(parseCommandLine(L"vtsnap prog"));
    EXPECT_FALSE(parseCommandLine(L"vtsnap -rows=5 -color"));
}

// A file in the temp directory, opened the way the run opens its output.
class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t directory[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, directory);
        path = std::wstring(directory) + L"vtsnap-snapshot-file-test.txt";
        handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        CloseHandle(handle);
        DeleteFileW(path.c_str());
    }

    std::string content() const {
        const HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string bytes;
        char buffer[4096];
        DWORD count = 0;
        while (ReadFile(reader, buffer, sizeof buffer, &count, nullptr) && count > 0) bytes.append(buffer, count);
        CloseHandle(reader);
        return bytes;
    }

    OutputFile file() const { return OutputFile(reinterpret_cast<std::intptr_t>(handle)); }

    std::wstring path;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

TEST_F(OutputFileTest, EachSnapshotReplacesTheWholeFileInPlace) {
    Screen screen(120, 10);
    EXPECT_TRUE(writeSnapshot(screen, file(), false));
    EXPECT_EQ(content(), kBom);

    feed(screen, "a longer first screen\r\nwith two lines");
    EXPECT_TRUE(writeSnapshot(screen, file(), false));
    EXPECT_EQ(content(), fileOf({"a longer first screen", "with two lines"}));

    // Shorter than before: no stale tail remains.
    feed(screen, "\x1b[2J\x1b[Hshort");
    EXPECT_TRUE(writeSnapshot(screen, file(), false));
    EXPECT_EQ(content(), fileOf({"short"}));
    EXPECT_TRUE(writeSnapshot(screen, file(), false));
    EXPECT_EQ(content(), fileOf({"short"}));

    feed(screen, "\x1b[2J");
    EXPECT_TRUE(writeSnapshot(screen, file(), false));
    EXPECT_EQ(content(), kBom);
}

TEST_F(OutputFileTest, AReaderHoldingTheFileOpenDoesNotStopTheRewrite) {
    const HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    Screen screen(120, 10);
    feed(screen, "\x1b[31mred\x1b[m and plain");
    EXPECT_TRUE(writeSnapshot(screen, file(), true));
    EXPECT_EQ(content(), fileOf({"\x1b[31mred\x1b[39m and plain"}));
    CloseHandle(reader);
}

TEST_F(OutputFileTest, AFailedWriteReportsFalse) {
    // A handle opened for reading only cannot be written.
    CloseHandle(handle);
    handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    Screen screen(120, 10);
    feed(screen, "text");
    EXPECT_FALSE(writeSnapshot(screen, file(), false));
    EXPECT_EQ(content(), "");
}

// An anonymous pipe, as the pseudo console's output arrives in one.
struct Pipe {
    Pipe() { CreatePipe(&read, &write, nullptr, 0); }
    ~Pipe() {
        if (read) CloseHandle(read);
        if (write) CloseHandle(write);
    }
    void send(std::string_view bytes) const {
        DWORD written = 0;
        WriteFile(write, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    void closeWriteEnd() {
        CloseHandle(write);
        write = nullptr;
    }
    HANDLE read = nullptr;
    HANDLE write = nullptr;
};

// Takes no snapshot here, so it needs no output file.
CaptureLoop loopWithoutFiles(std::int32_t rows) {
    return CaptureLoop(rows, OutputFiles{}, false);
}

TEST(OutputPipe, TheReaderDecodesEveryBlockUntilThePipeBreaks) {
    Pipe pipe;
    CaptureLoop loop = loopWithoutFiles(30);
    ReaderContext context{pipe.read, &loop};
    const HANDLE reader = CreateThread(nullptr, 0, readerThread, &context, 0, nullptr);
    ASSERT_NE(reader, nullptr);
    pipe.send("\x1b[31");  // a sequence split across two blocks
    Sleep(50);
    pipe.send("mred\x1b[m\r\n");
    std::string many;
    for (int i = 0; i < 2000; ++i) many += "x";  // wraps over many rows, more than one read
    pipe.send(many);
    pipe.closeWriteEnd();
    ASSERT_EQ(WaitForSingleObject(reader, 5000), WAIT_OBJECT_0);
    CloseHandle(reader);
    const std::string file = renderSnapshot(loop.screen(), true);
    EXPECT_TRUE(file.starts_with(std::string(kBom) + "\x1b[31mred\x1b[0m\r\nxxx")) << file;
    EXPECT_EQ(std::count(file.begin(), file.end(), 'x'), 2000);
}

TEST(OutputPipe, DrainingWithoutAThreadTakesWhatIsThereAndNeverBlocks) {
    Pipe pipe;
    CaptureLoop loop = loopWithoutFiles(10);
    EXPECT_TRUE(decodeWaitingOutput(pipe.read, loop));  // empty: returns at once
    pipe.send("first ");
    pipe.send("second");
    EXPECT_TRUE(decodeWaitingOutput(pipe.read, loop));
    EXPECT_EQ(renderSnapshot(loop.screen(), false), fileOf({"first second"}));
    pipe.closeWriteEnd();
    EXPECT_FALSE(decodeWaitingOutput(pipe.read, loop));
}

}  // namespace
}  // namespace vtsnap
