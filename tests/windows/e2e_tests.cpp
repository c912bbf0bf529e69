// End-to-end tests of vtsnap.exe. Every check is made from this Windows
// process: exit codes in all 32 bits, what the tool printed, and the output
// file read while the tool still holds it open. Run it from a console (under
// Wine: from a pseudo terminal), so that the tool inherits console handles;
// --log=FILE then writes the report to FILE instead of that console.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/file_bytes.hpp"
#include "vtsnap_version.hpp"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using vtsnap::test::fileOf;
using vtsnap::test::kBom;
constexpr DWORD kRunTimeout = 30000;  // milliseconds; no run here comes near it

std::wstring widen(std::string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring ownDirectory() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full(path, length);
    return full.substr(0, full.find_last_of(L"\\/"));
}

// vtsnap.exe, the test child and this driver are built into one directory.
const std::wstring& binDirectory() {
    static const std::wstring directory = ownDirectory();
    return directory;
}

std::wstring toolPath() {
    return binDirectory() + L"\\vtsnap.exe";
}

std::wstring childPath() {
    return binDirectory() + L"\\vtsnap_test_child.exe";
}

std::wstring quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Reads the whole file through `file` from its start.
std::string readAll(HANDLE file) {
    std::string content;
    LARGE_INTEGER zero{};
    SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(file, buffer, sizeof buffer, &count, nullptr) && count > 0) content.append(buffer, count);
    return content;
}

// Opens for reading while the tool may hold the file open for writing.
HANDLE openForReading(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string readFile(const std::wstring& path) {
    const HANDLE file = openForReading(path);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string content = readAll(file);
    CloseHandle(file);
    return content;
}

bool equalsNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// One run of vtsnap.exe, started in `directory`. It inherits this process's
// console and standard handles, as from a command prompt; with
// `printedPath`, its stdout and stderr go to that file instead, and its stdin
// stays the console.
class ToolRun {
public:
    ToolRun(const std::wstring& arguments, const std::wstring& directory, const std::wstring& printedPath = L"",
            const std::wstring& tool = toolPath()) {
        std::wstring commandLine = quoted(tool);
        if (!arguments.empty()) commandLine += L" " + arguments;
        std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
        buffer.push_back(L'\0');

        STARTUPINFOW startupInfo{};
        startupInfo.cb = sizeof startupInfo;
        BOOL inherit = FALSE;
        if (!printedPath.empty()) {
            SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
            consoleInput_ = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inheritable, OPEN_EXISTING, 0, nullptr);
            printed_ = CreateFileW(printedPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            EXPECT_NE(printed_, INVALID_HANDLE_VALUE);
            startupInfo.dwFlags = STARTF_USESTDHANDLES;
            startupInfo.hStdInput = consoleInput_;
            startupInfo.hStdOutput = printed_;
            startupInfo.hStdError = printed_;
            inherit = TRUE;
        }
        started_ = CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, inherit, 0, nullptr, directory.c_str(),
                                  &startupInfo, &process_) != 0;
    }

    ~ToolRun() {
        if (started_) {
            if (WaitForSingleObject(process_.hProcess, kRunTimeout) == WAIT_TIMEOUT)
                TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        if (printed_ != INVALID_HANDLE_VALUE) CloseHandle(printed_);
        if (consoleInput_ != INVALID_HANDLE_VALUE) CloseHandle(consoleInput_);
    }

    bool started() const { return started_; }
    bool running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

    // The tool's exit code, all 32 bits; 0xDEADBEEF when it did not end in time.
    DWORD exitCode() {
        EXPECT_TRUE(started_);
        if (!started_ || WaitForSingleObject(process_.hProcess, kRunTimeout) != WAIT_OBJECT_0) return 0xDEADBEEF;
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    DWORD processId() const { return process_.dwProcessId; }

private:
    bool started_ = false;
    PROCESS_INFORMATION process_{};
    HANDLE printed_ = INVALID_HANDLE_VALUE;
    HANDLE consoleInput_ = INVALID_HANDLE_VALUE;
};

// Each test works in a directory of its own, emptied of what it uses.
class VtsnapTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring root = binDirectory() + L"\\e2e-work";
        CreateDirectoryW(root.c_str(), nullptr);
        work = root + L"\\" + widen(::testing::UnitTest::GetInstance()->current_test_info()->name());
        CreateDirectoryW(work.c_str(), nullptr);
    }

    // A path in the work directory, with no file there yet.
    std::wstring fresh(const std::wstring& name) const {
        const std::wstring path = work + L"\\" + name;
        DeleteFileW(path.c_str());
        return path;
    }

    // The child's command line: the test child at its full path, then steps.
    static std::wstring child(const std::wstring& steps) { return quoted(childPath()) + L" " + steps; }

    std::wstring work;
};

TEST_F(VtsnapTest, AChildThatWritesAFewLinesAndExitsAtOnceIsCapturedWhole) {
    const auto out = fresh(L"out.txt");
    ToolRun run(child(L"lines 5 line") + L" " + quoted(out), work);
    EXPECT_EQ(run.exitCode(), 0u);
    EXPECT_EQ(readFile(out), fileOf({"line 1", "line 2", "line 3", "line 4", "line 5"}));
}

TEST_F(VtsnapTest, MoreLinesThanRowsLeaveTheLastRowsAndEveryLineArrives) {
    // 150 lines through a 30-row console: rows 122 to 150 and the cursor's
    // empty row remain. The exit code shows the child was not cut short.
    const auto out = fresh(L"out.txt");
    ToolRun run(L"-rows=30 " + child(L"lines 150 row exit 300") + L" " + quoted(out), work);
    EXPECT_EQ(run.exitCode(), 300u);
    std::string expected(kBom);
    for (int n = 122; n <= 150; ++n) expected += "row " + std::to_string(n) + "\r\n";
    EXPECT_EQ(readFile(out), expected);
}

TEST_F(VtsnapTest, ColoursBecomeSgrSequencesOnlyWithTheColorOption) {
    const std::wstring steps = L"color 0x0C Red color 0x1E YellowOnBlue print plain";
    const auto colored = fresh(L"colored.txt");
    ToolRun withColor(L"-color " + child(steps) + L" " + quoted(colored), work);
    EXPECT_EQ(withColor.exitCode(), 0u);
    const std::string file = readFile(colored);
    EXPECT_NE(file.find("\x1b[91mRed\x1b[0m\r\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\x1b[44mYellowOnBlue\x1b[0m\r\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\r\nplain\r\n"), std::string::npos) << file;

    const auto plain = fresh(L"plain.txt");
    ToolRun without(child(steps) + L" " + quoted(plain), work);
    EXPECT_EQ(without.exitCode(), 0u);
    EXPECT_EQ(readFile(plain), fileOf({"Red", "YellowOnBlue", "plain"}));
}

TEST_F(VtsnapTest, TheFileFollowsARunningChildAndStaysReadableMeanwhile) {
    const auto out = fresh(L"out.txt");
    ToolRun run(child(L"print \"first screen\" sleep 3000 print \"second screen\" exit 0") + L" " + quoted(out),
                work);
    ASSERT_TRUE(run.started());

    // Held open for reading across the whole run, as a watching program would.
    HANDLE reader = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 100 && reader == INVALID_HANDLE_VALUE; ++i) {
        reader = openForReading(out);
        if (reader == INVALID_HANDLE_VALUE) Sleep(20);
    }
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);

    // A read may meet a rewrite half done (Windows takes no lock for it): the
    // first screen counts once it is read whole.
    std::string whileRunning;
    for (int i = 0; i < 500 && whileRunning != fileOf({"first screen"}) && run.running(); ++i) {
        Sleep(20);
        whileRunning = readAll(reader);
    }
    EXPECT_TRUE(run.running()) << "the child ended before its first screen was seen";
    EXPECT_EQ(whileRunning, fileOf({"first screen"}));

    EXPECT_EQ(run.exitCode(), 0u);
    EXPECT_EQ(readAll(reader), fileOf({"first screen", "second screen"}));
    CloseHandle(reader);
}

TEST_F(VtsnapTest, TheChildsExitCodeIsReturnedInAll32Bits) {
    for (DWORD code : {0ul, 7ul, 300ul, 0xC0000005ul, 0xFFFFFFFFul}) {
        const auto out = fresh(L"out.txt");
        ToolRun run(child(L"exit " + std::to_wstring(code)) + L" " + quoted(out), work);
        EXPECT_EQ(run.exitCode(), code);
    }
}

TEST_F(VtsnapTest, AProgramThatDoesNotExistCreatesNoFileAndSaysSo) {
    const auto out = fresh(L"out.txt");
    const auto printed = fresh(L"printed.txt");
    ToolRun run(quoted(work + L"\\no-such-program.exe") + L" arg " + quoted(out), work, printed);
    EXPECT_EQ(run.exitCode(), 1u);
    EXPECT_FALSE(fileExists(out));
    const std::string message = readFile(printed);
    EXPECT_EQ(message.rfind("vtsnap: cannot start ", 0), 0u) << message;
    EXPECT_NE(message.find("no-such-program.exe: not found\r\n"), std::string::npos) << message;
}

TEST_F(VtsnapTest, AnOutputFileInAMissingDirectoryStartsNoChild) {
    const auto marker = fresh(L"child-ran.txt");
    const auto printed = fresh(L"printed.txt");
    ToolRun run(child(L"touch " + quoted(marker)) + L" " + quoted(work + L"\\missing\\out.txt"), work, printed);
    EXPECT_EQ(run.exitCode(), 1u);
    EXPECT_FALSE(fileExists(marker));
    EXPECT_EQ(readFile(printed).rfind("vtsnap: ", 0), 0u);
}

TEST_F(VtsnapTest, AnUnusableCommandLineEndsWith1AndCreatesNoFile) {
    const auto out = fresh(L"out.txt");
    const auto printed = fresh(L"printed.txt");
    const std::wstring unusable[] = {L"-color " + quoted(out), quoted(out), L"-rows=5 -color", L""};
    for (const std::wstring& arguments : unusable) {
        ToolRun run(arguments, work, printed);
        EXPECT_EQ(run.exitCode(), 1u) << std::string(arguments.begin(), arguments.end());
        EXPECT_FALSE(fileExists(out));
        EXPECT_EQ(readFile(printed), "");
    }
}

TEST_F(VtsnapTest, TheChildStartsInTheDirectoryOfItsProgramPath) {
    // A full path: the child runs where its program lies.
    const auto full = fresh(L"full.txt");
    ToolRun fromFull(child(L"cwd") + L" " + quoted(full), work);
    EXPECT_EQ(fromFull.exitCode(), 0u);
    const std::string fullFile = readFile(full);
    EXPECT_TRUE(fullFile.find("cwd=") != std::string::npos) << fullFile;
    const auto fullLine = fullFile.substr(fullFile.find("cwd=") + 4);
    EXPECT_TRUE(equalsNoCase(widen(fullLine.substr(0, fullLine.find('\r'))), binDirectory())) << fullFile;

    // A relative path: its directory is taken from the tool's own.
    const std::wstring sub = work + L"\\sub";
    CreateDirectoryW(sub.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(childPath().c_str(), (sub + L"\\child.exe").c_str(), FALSE));
    const auto relative = fresh(L"relative.txt");
    ToolRun fromRelative(L"sub\\child.exe cwd relative.txt", work);
    EXPECT_EQ(fromRelative.exitCode(), 0u);
    const std::string relativeFile = readFile(relative);
    EXPECT_TRUE(relativeFile.find("cwd=") != std::string::npos) << relativeFile;
    const auto relativeLine = relativeFile.substr(relativeFile.find("cwd=") + 4);
    EXPECT_TRUE(equalsNoCase(widen(relativeLine.substr(0, relativeLine.find('\r'))), sub)) << relativeFile;

    // No directory part: the child shares the tool's current directory.
    const auto bare = fresh(L"bare.txt");
    ToolRun fromBare(L"vtsnap_test_child.exe cwd bare.txt", work);
    EXPECT_EQ(fromBare.exitCode(), 0u);
    const std::string bareFile = readFile(bare);
    EXPECT_TRUE(bareFile.find("cwd=") != std::string::npos) << bareFile;
    const auto bareLine = bareFile.substr(bareFile.find("cwd=") + 4);
    EXPECT_TRUE(equalsNoCase(widen(bareLine.substr(0, bareLine.find('\r'))), work)) << bareFile;
}

TEST_F(VtsnapTest, WithItsOwnOutputRedirectedNothingOfTheChildLandsThere) {
    // Redirected standard handles must not be handed to the child: its
    // output belongs to the pseudo console. What the child writes to the
    // console reaches the file.
    const auto out = fresh(L"out.txt");
    const auto printed = fresh(L"printed.txt");
    ToolRun run(child(L"print to-stdout conout to-console exit 9") + L" " + quoted(out), work, printed);
    EXPECT_EQ(run.exitCode(), 9u);
    EXPECT_EQ(readFile(printed), "");
    EXPECT_NE(readFile(out).find("to-console\r\n"), std::string::npos) << readFile(out);
}

// -log: every row that scrolled off, then the last screen, in order.
TEST_F(VtsnapTest, TheLogHoldsEveryLineShownInOrder) {
    const auto out = fresh(L"out.txt");
    const auto log = fresh(L"all.txt");
    ToolRun run(L"-rows=10 -log=" + quoted(log) + L" " + child(L"lines 100000 row") + L" " + quoted(out), work);
    EXPECT_EQ(run.exitCode(), 0u);
    std::string all(kBom), last(kBom);
    for (int n = 1; n <= 100000; ++n) all += "row " + std::to_string(n) + "\r\n";
    for (int n = 99992; n <= 100000; ++n) last += "row " + std::to_string(n) + "\r\n";
    EXPECT_TRUE(readFile(log) == all) << "the log does not hold rows 1 to 100000";
    EXPECT_EQ(readFile(out), last);
}

TEST_F(VtsnapTest, AProgressBarEndsAsOneLineOfTheLog) {
    const auto out = fresh(L"out.txt");
    const auto log = fresh(L"log.txt");
    ToolRun run(L"-rows=2 -LOG=" + quoted(log) + L" " + child(L"print building progress 5 print next") + L" " +
                    quoted(out),
                work);
    EXPECT_EQ(run.exitCode(), 0u);
    EXPECT_EQ(readFile(log), fileOf({"building", "step 5/5 done", "next"}));
}

TEST_F(VtsnapTest, AFloodLosesNoLineOfTheLog) {
    const auto out = fresh(L"out.txt");
    const auto log = fresh(L"log.txt");
    ToolRun run(L"-rows=5 -log=" + quoted(log) + L" " + child(L"lines 300000 flood") + L" " + quoted(out), work);
    EXPECT_EQ(run.exitCode(), 0u);
    std::string all(kBom);
    for (int n = 1; n <= 300000; ++n) all += "flood " + std::to_string(n) + "\r\n";
    EXPECT_TRUE(readFile(log) == all) << "the log does not hold lines 1 to 300000";
}

TEST_F(VtsnapTest, ALogThatCannotBeCreatedStartsNoChild) {
    const auto out = fresh(L"out.txt");
    const auto marker = fresh(L"child-ran.txt");
    const auto printed = fresh(L"printed.txt");
    ToolRun run(L"-log=" + quoted(work + L"\\missing\\log.txt") + L" " + child(L"touch " + quoted(marker)) + L" " +
                    quoted(out),
                work, printed);
    EXPECT_EQ(run.exitCode(), 1u);
    EXPECT_FALSE(fileExists(marker));
    EXPECT_FALSE(fileExists(out));
    EXPECT_EQ(readFile(printed).rfind("vtsnap: ", 0), 0u);
}

// -record: the pseudo console's output as asciicast, which vtsnap-render
// replays to the screen file of the live run.
TEST_F(VtsnapTest, TheRecordingReplaysToTheLiveScreen) {
    const auto out = fresh(L"out.txt");
    const auto cast = fresh(L"run.cast");
    const auto replay = fresh(L"replay.txt");
    ToolRun run(L"-rows=10 -Record=" + quoted(cast) + L" " + child(L"color 0x0C Red lines 3000 row") + L" " +
                    quoted(out),
                work);
    EXPECT_EQ(run.exitCode(), 0u);
    const std::string recording = readFile(cast);
    const std::string header = R"({"version": 2, "width": 120, "height": 10, "timestamp": )";
    EXPECT_EQ(recording.substr(0, header.size()), header) << recording.substr(0, 200);
    EXPECT_NE(recording.find("\n[0."), std::string::npos) << "no output event";
    EXPECT_EQ(recording.back(), '\n');
    ToolRun render(quoted(cast) + L" " + quoted(replay), work, L"", binDirectory() + L"\\vtsnap-render.exe");
    EXPECT_EQ(render.exitCode(), 0u);
    std::string last(kBom);
    for (int n = 2992; n <= 3000; ++n) last += "row " + std::to_string(n) + "\r\n";
    EXPECT_EQ(readFile(out), last);
    EXPECT_EQ(readFile(replay), last);
}

// -html: the last page of the live run is the one vtsnap-render makes from
// the run's recording, and has no refresh; its rows carry the program's colour.
TEST_F(VtsnapTest, TheLastPageIsTheRecordingsPage) {
    const auto out = fresh(L"out.txt");
    const auto page = fresh(L"page.html");
    const auto cast = fresh(L"run.cast");
    const auto replay = fresh(L"replay.txt");
    const auto replayPage = fresh(L"replay.html");
    ToolRun run(L"-rows=10 -Html=" + quoted(page) + L" -record=" + quoted(cast) + L" " +
                    child(L"lines 300 row color 0x0C Red") + L" " + quoted(out),
                work);
    EXPECT_EQ(run.exitCode(), 0u);
    ToolRun render(L"-html=" + quoted(replayPage) + L" " + quoted(cast) + L" " + quoted(replay), work, L"",
                   binDirectory() + L"\\vtsnap-render.exe");
    EXPECT_EQ(render.exitCode(), 0u);
    const std::string live = readFile(page);
    EXPECT_EQ(live.rfind("<!DOCTYPE html>", 0), 0u) << live.substr(0, 200);
    EXPECT_EQ(live.find("http-equiv=\"refresh\""), std::string::npos);
    EXPECT_NE(live.find("row 300"), std::string::npos);
    EXPECT_NE(live.find("class=\"f9\">Red<"), std::string::npos) << live;
    EXPECT_EQ(live, readFile(replayPage));
    EXPECT_EQ(readFile(out), readFile(replay));
}

// The edges where the tool meets the user's files and mistakes, one command
// line a row, with every file named checked byte for byte afterwards.
TEST_F(VtsnapTest, EveryCommandLineOfTheTable) {
    const std::string commit = VTSNAP_COMMIT;
    const std::string version = std::string(" " VTSNAP_VERSION) + (commit.empty() ? "" : " (commit " + commit + ")");
    const std::string childBytes = readFile(childPath());
    struct Row {
        const char* what;
        std::wstring arguments;
        DWORD exit;
        std::vector<std::pair<std::wstring, std::string>> files;
        std::string printed;      // standard output
        bool printedPrefixOnly;
        std::wstring tool;
    };
    const std::wstring render = binDirectory() + L"\\vtsnap-render.exe";
    // Standard output goes to a file, so the child writes to its console (see above).
    const std::vector<Row> rows = {
        // Backslashes that end an argument the tool quotes stay backslashes.
        {"a path with a blank and a trailing backslash",
         child(LR"(conout "C:\dir with space\\" conout after)") + L" q.txt", 0,
         {{L"q.txt", fileOf({R"(C:\dir with space\)", "after"})}}, "", false, toolPath()},
        {"two trailing backslashes", child(LR"(conout "a b\\\\" conout after)") + L" q.txt", 0,
         {{L"q.txt", fileOf({R"(a b\\)", "after"})}}, "", false, toolPath()},
        {"the null device as output, for the log alone",
         L"-log=log.txt " + child(L"conout one conout two") + L" NUL", 0,
         {{L"log.txt", fileOf({"one", "two"})}}, "", false, toolPath()},
        // Refused, with a message: every file as it was, none left that the run created.
        {"output and log one file", L"-log=.\\same.txt " + child(L"print x") + L" same.txt", 1,
         {{L"same.txt", "keep"}}, "vtsnap: same.txt and -log=.\\same.txt are one file\r\n", false, toolPath()},
        {"the program as output", L"c2.exe print x c2.exe", 1, {{L"c2.exe", childBytes}},
         "vtsnap: c2.exe is the program's own file\r\n", false, toolPath()},
        {"the program as output, without .exe", L"c2 print x c2.exe", 1, {{L"c2.exe", childBytes}},
         "vtsnap: c2.exe is the program's own file\r\n", false, toolPath()},
        {"the program as log", L"-log=c2.exe c2.exe print x out.txt", 1,
         {{L"c2.exe", childBytes}, {L"out.txt", "<missing>"}}, "vtsnap: -log=c2.exe is the program's own file\r\n",
         false, toolPath()},
        {"output and recording one file", L"-record=.\\same.txt " + child(L"print x") + L" same.txt", 1,
         {{L"same.txt", "keep"}}, "vtsnap: same.txt and -record=.\\same.txt are one file\r\n", false, toolPath()},
        {"log and recording one file", L"-log=same.txt -record=.\\same.txt " + child(L"print x") + L" out.txt", 1,
         {{L"same.txt", "keep"}, {L"out.txt", "<missing>"}},
         "vtsnap: -log=same.txt and -record=.\\same.txt are one file\r\n", false, toolPath()},
        {"the program as recording", L"-record=c2.exe c2.exe print x out.txt", 1,
         {{L"c2.exe", childBytes}, {L"out.txt", "<missing>"}},
         "vtsnap: -record=c2.exe is the program's own file\r\n", false, toolPath()},
        // Only NUL, in any case, is the null device; other device names are refused.
        {"the page named AUX", L"-html=aux.html " + child(L"print x") + L" a1.txt", 1, {{L"a1.txt", "<missing>"}},
         "vtsnap: -html=aux.html: a device name, not a file (only NUL is taken, for no file)\r\n", false,
         toolPath()},
        {"the output named COM1", child(L"print x") + L" com1.txt", 1, {},
         "vtsnap: com1.txt: a device name, not a file (only NUL is taken, for no file)\r\n", false, toolPath()},
        {"the output named CON", child(L"print x") + L" CON", 1, {},
         "vtsnap: CON: a device name, not a file (only NUL is taken, for no file)\r\n", false, toolPath()},
        {"the log named lpt9 in a directory", L"-log=.\\lpt9.log " + child(L"print x") + L" o.txt", 1,
         {{L"o.txt", "<missing>"}},
         "vtsnap: -log=.\\lpt9.log: a device name, not a file (only NUL is taken, for no file)\r\n", false,
         toolPath()},
        {"the recording named Prn", L"-record=Prn " + child(L"print x") + L" o.txt", 1, {{L"o.txt", "<missing>"}},
         "vtsnap: -record=Prn: a device name, not a file (only NUL is taken, for no file)\r\n", false, toolPath()},
        {"the null device in lower case, for the log alone",
         L"-log=log.txt " + child(L"conout one conout two") + L" nul", 0,
         {{L"log.txt", fileOf({"one", "two"})}}, "", false, toolPath()},
        // A mistyped option taken for the program: nothing created, and a hint.
        {"a mistyped option", L"-row=5 cmd same.txt", 1, {{L"same.txt", "keep"}},
         "vtsnap: cannot start -row=5: not found (it begins with '-': a mistyped option? options come first, as "
         "-name=value)\r\n",
         false, toolPath()},
        {"vtsnap's log to -", L"-log=- " + child(L"print x") + L" o.txt", 1,
         {{L"-", "<missing>"}, {L"o.txt", "<missing>"}},
         "vtsnap: -log=-: `-` names no file here, and standard output is not taken\r\n", false, toolPath()},
        {"vtsnap --version", L"--version", 0, {}, "vtsnap" + version + "\r\n", false, toolPath()},
        {"vtsnap --help", L"--help", 0, {},
         "usage: vtsnap [-rows=N] [-color] [-log=FILE] [-html=FILE] [-record=FILE] program [arguments ...] "
         "outputfile\r\n",
         true, toolPath()},
        {"vtsnap-render --version", L"--version", 0, {}, "vtsnap-render" + version + "\r\n", false, render},
        {"vtsnap-render's log on its input", L"-log=.\\same.txt same.txt out.txt", 1,
         {{L"same.txt", "keep"}, {L"out.txt", "<missing>"}},
         "vtsnap-render: same.txt and -log=.\\same.txt are one file\r\n", false, render},
        {"vtsnap-render's output on its input, in other case", L"same.txt SAME.TXT", 1, {{L"same.txt", "keep"}},
         "vtsnap-render: same.txt and SAME.TXT are one file\r\n", false, render},
        {"vtsnap-render's new log and output, names in other case", L"-log=new.txt same.txt NEW.TXT", 1,
         {{L"same.txt", "keep"}, {L"new.txt", "<missing>"}},
         "vtsnap-render: NEW.TXT and -log=new.txt are one file\r\n", false, render},
        {"vtsnap-render's page to -", L"-html=- same.txt -", 1, {{L"same.txt", "keep"}},
         "vtsnap-render: -html=-: `-` names no file here, and standard output is not taken\r\n", false, render},
        {"vtsnap-render's log named CON", L"-log=con same.txt o.txt", 1, {{L"o.txt", "<missing>"}},
         "vtsnap-render: -log=con: a device name, not a file (only NUL is taken, for no file)\r\n", false, render},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        {
            const HANDLE same = CreateFileW(fresh(L"same.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD written = 0;
            WriteFile(same, "keep", 4, &written, nullptr);
            CloseHandle(same);
        }
        ASSERT_TRUE(CopyFileW(childPath().c_str(), fresh(L"c2.exe").c_str(), FALSE));
        const auto printed = fresh(L"printed.txt");
        {
            ToolRun run(row.arguments, work, printed, row.tool);
            EXPECT_EQ(run.exitCode(), row.exit);
        }
        const std::string got = readFile(printed);
        EXPECT_EQ(row.printedPrefixOnly ? got.substr(0, row.printed.size()) : got, row.printed);
        for (const auto& [name, bytes] : row.files)
            EXPECT_EQ(readFile(work + L"\\" + name), bytes) << std::string(name.begin(), name.end());
    }
}

BOOL WINAPI ignoreControlEvent(DWORD) {
    return TRUE;
}

TEST_F(VtsnapTest, CtrlCAtItsConsoleDoesNotEndTheRun) {
    // Sent to every process on this console, this one included. (Wine 8
    // cannot send Ctrl+Break, so that event is not tried here.)
    SetConsoleCtrlHandler(ignoreControlEvent, TRUE);
    const auto out = fresh(L"out.txt");
    ToolRun run(child(L"sleep 3000 print survived exit 5") + L" " + quoted(out), work);
    // The file exists once the tool's own handler is in place.
    for (int i = 0; i < 250 && !fileExists(out); ++i) Sleep(20);
    Sleep(200);
    EXPECT_TRUE(run.running());
    EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    EXPECT_EQ(run.exitCode(), 5u);
    EXPECT_EQ(readFile(out), fileOf({"survived"}));
    SetConsoleCtrlHandler(ignoreControlEvent, FALSE);
}

// A plain report for a file: the console under Wine is a pseudo terminal
// that would interleave the report with cursor sequences.
class FileReport : public ::testing::EmptyTestEventListener {
public:
    explicit FileReport(std::FILE* out) : out_(out) {}

    void OnTestStart(const ::testing::TestInfo& test) override {
        std::fprintf(out_, "[ RUN      ] %s.%s\n", test.test_suite_name(), test.name());
        std::fflush(out_);
    }
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (result.failed())
            std::fprintf(out_, "%s:%d: Failure\n%s\n", result.file_name() ? result.file_name() : "?",
                         result.line_number(), result.message());
    }
    void OnTestEnd(const ::testing::TestInfo& test) override {
        std::fprintf(out_, "[ %s ] %s.%s (%lld ms)\n", test.result()->Passed() ? "      OK" : "FAILED  ",
                     test.test_suite_name(), test.name(), static_cast<long long>(test.result()->elapsed_time()));
        std::fflush(out_);
    }
    void OnTestProgramEnd(const ::testing::UnitTest& unit) override {
        std::fprintf(out_, "[  PASSED  ] %d tests.\n", unit.successful_test_count());
        if (unit.failed_test_count() > 0) std::fprintf(out_, "[  FAILED  ] %d tests.\n", unit.failed_test_count());
        std::fflush(out_);
    }

private:
    std::FILE* out_;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::FILE* log = nullptr;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--log=", 6) == 0) log = std::fopen(argv[i] + 6, "w");
    if (log != nullptr) {
        auto& listeners = ::testing::UnitTest::GetInstance()->listeners();
        delete listeners.Release(listeners.default_result_printer());
        listeners.Append(new FileReport(log));
    }
    const int result = RUN_ALL_TESTS();
    if (log != nullptr) std::fclose(log);
    return result;
}
