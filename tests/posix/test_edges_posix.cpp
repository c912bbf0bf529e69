// The tools where they meet the user's files, pipes and mistakes: one table of
// command lines, each run end to end on real files, FIFOs, pipes, terminals
// and sockets, with every file it names checked byte for byte afterwards.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string_view>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "snapshot/page.hpp"
#include "tests/file_bytes.hpp"
#include "tests/posix/whole_file.hpp"
#include "vtsnap_version.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using vtsnap::test::fileOf;
using vtsnap::test::kBom;

const std::string kTool = VTSNAP_BINARY;
const std::string kRender = VTSNAP_RENDER_BINARY;
constexpr auto kHangLimit = 20s;

std::string version(const std::string& tool) {
    const std::string commit = VTSNAP_COMMIT;
    return tool + " " VTSNAP_VERSION + (commit.empty() ? "" : " (commit " + commit + ")") + "\n";
}

std::string lines(int from, int to) {
    std::string text(kBom);
    for (int i = from; i <= to; ++i) text += std::to_string(i) + "\r\n";
    return text;
}

std::string note(int missing) {
    return "[vtsnap: " + std::to_string(missing) + " lines missing here: the log file could not take them]\r\n";
}

// What the test reads while the tool runs; it becomes the row's `printed`.
enum class Reader {
    None,         // standard output is /dev/null
    Stdout,       // standard output is a pipe, read to its end
    StdoutFirst5, // standard output is a pipe whose reader takes 5 bytes and goes, as `head -c5`
    Fifo,         // ./ff is a FIFO, opened for reading before the tool starts
    Tty,          // {tty} is a terminal (raw), read at its other end
};

struct Row {
    const char* what = "";
    std::string setup{};             // shell commands run in the work directory first
    std::string tool = kTool;
    std::vector<std::string> args{}; // {dir}, {tty} and {socket} are put in
    std::string environment{};       // NAME=value for the tool, {dir} put in
    std::string input{};             // a file of the work directory as standard input (default /dev/null)
    rlim_t fileLimit = RLIM_INFINITY;
    Reader reader = Reader::None;
    int exit = 0;
    std::vector<std::pair<std::string, std::optional<std::string>>> files{};  // no bytes: must not exist
    std::string printed{};           // what the reader got
    bool printedPrefixOnly = false;
    std::string message{};           // what standard error holds, when it matters
};

const std::string kScript = "printf '#!/bin/sh\\ntouch started\\necho ran\\n' > build.sh; chmod +x build.sh; ";
const std::string kScriptBytes = "#!/bin/sh\ntouch started\necho ran\n";
const std::string kStart = "touch started; seq 1 10";
const std::string kHelpStart =
    "usage: vtsnap [-rows=N] [-color] [-log=FILE] [-html=FILE] [-record=FILE] program [arguments ...] outputfile\n";

// The last page of a 120 x 2 screen that was shown `bytes`.
std::string finalPage(std::string_view bytes) {
    vtsnap::Screen screen(120, 2);
    screen.feedBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    std::string page;
    vtsnap::renderPage(page, screen, false);
    return page;
}

const std::vector<Row>& rows() {
    static const std::vector<Row> table = {
        // One file as output and log: nothing emptied, nothing started, and no
        // file left that the run created.
        {.what = "output and log the same name", .setup = "printf keep > same.txt",
         .args = {"-rows=3", "-log=same.txt", "sh", "-c", kStart, "same.txt"},
         .exit = 1, .files = {{"same.txt", "keep"}, {"started", {}}}},
        {.what = "the log through a symbolic link", .setup = "printf keep > same.txt; ln -s same.txt link.txt",
         .args = {"-rows=3", "-log=link.txt", "sh", "-c", kStart, "./same.txt"},
         .exit = 1, .files = {{"same.txt", "keep"}, {"started", {}}}},
        {.what = "the log through a hard link", .setup = "printf keep > same.txt; ln same.txt hard.txt",
         .args = {"-log=hard.txt", "sh", "-c", kStart, "same.txt"},
         .exit = 1, .files = {{"same.txt", "keep"}, {"started", {}}}},
        {.what = "one new file by two names",
         .args = {"-log=new.txt", "sh", "-c", kStart, "./new.txt"},
         .exit = 1, .files = {{"new.txt", {}}, {"started", {}}}},
        {.what = "the null device as both",
         .args = {"-log=/dev/null", "sh", "-c", kStart, "/dev/null"},
         .exit = 0, .files = {{"started", ""}}},

        // The recording follows the same rules.
        {.what = "output and recording the same name", .setup = "printf keep > same.txt",
         .args = {"-record=./same.txt", "sh", "-c", kStart, "same.txt"},
         .exit = 1, .files = {{"same.txt", "keep"}, {"started", {}}}},
        {.what = "log and recording the same file", .setup = "printf keep > same.txt; ln -s same.txt link.txt",
         .args = {"-log=same.txt", "-record=link.txt", "sh", "-c", kStart, "out.txt"},
         .exit = 1, .files = {{"same.txt", "keep"}, {"out.txt", {}}, {"started", {}}}},
        {.what = "the recording in a missing directory", .setup = "printf old > out.txt",
         .args = {"-record=missing/run.cast", "sh", "-c", kStart, "out.txt"},
         .exit = 1, .files = {{"out.txt", "old"}, {"started", {}}}},
        {.what = "the program as recording", .setup = kScript + "printf old > out.txt",
         .args = {"-record=build.sh", "./build.sh", "out.txt"},
         .exit = 1, .files = {{"build.sh", kScriptBytes}, {"out.txt", "old"}, {"started", {}}}},
        {.what = "the recording to a FIFO with no reader", .setup = "mkfifo ff; printf old > out.txt",
         .args = {"-record=ff", "sh", "-c", kStart, "out.txt"},
         .exit = 1, .files = {{"out.txt", "old"}, {"started", {}}}},
        {.what = "the recording to a pipe",
         .args = {"-rows=2", "-record=/dev/stdout", "seq", "1", "3", "o.txt"}, .reader = Reader::Stdout,
         .exit = 0, .files = {{"o.txt", fileOf({"3"})}},
         .printed = "{\"version\": 2, \"width\": 120, \"height\": 2, \"timestamp\": ", .printedPrefixOnly = true},
        {.what = "the recording's reader takes 5 bytes and goes",
         .args = {"-rows=3", "-record=/dev/stdout", "sh", "-c", "seq 1 100; sleep 1; echo end", "o.txt"},
         .reader = Reader::StdoutFirst5,
         .exit = 0, .files = {{"o.txt", fileOf({"100", "end"})}}, .printed = "{\"ver"},
        {.what = "the null device as log, recording and output",
         .args = {"-log=/dev/null", "-record=/dev/null", "sh", "-c", kStart, "/dev/null"},
         .exit = 0, .files = {{"started", ""}}},
        {.what = "the recording on /dev/full",
         .args = {"-record=/dev/full", "seq", "1", "3", "out.txt"},
         .exit = 1, .files = {{"out.txt", lines(1, 3)}}},
        {.what = "the recording on /dev/full, the program ending with 5",
         .args = {"-record=/dev/full", "sh", "-c", "seq 1 3; exit 5", "out.txt"},
         .exit = 5, .files = {{"out.txt", lines(1, 3)}}},

        // The program's own file as output or log.
        {.what = "the program as output", .setup = kScript,
         .args = {"./build.sh", "./build.sh"},
         .exit = 1, .files = {{"build.sh", kScriptBytes}, {"started", {}}}},
        {.what = "the program as log", .setup = kScript + "printf old > out.txt",
         .args = {"-log=./build.sh", "./build.sh", "out.txt"},
         .exit = 1, .files = {{"build.sh", kScriptBytes}, {"out.txt", "old"}, {"started", {}}}},
        {.what = "the program found on PATH", .setup = kScript,
         .args = {"build.sh", "build.sh"}, .environment = "PATH={dir}:/usr/bin:/bin",
         .exit = 1, .files = {{"build.sh", kScriptBytes}, {"started", {}}}},
        {.what = "the program through a symbolic link", .setup = kScript + "ln -s build.sh run.sh",
         .args = {"./run.sh", "build.sh"},
         .exit = 1, .files = {{"build.sh", kScriptBytes}, {"started", {}}}},

        // The page follows the output's rules: a regular file, apart from the others.
        {.what = "output and page the same name", .setup = "printf keep > same.txt",
         .args = {"-html=./same.txt", "sh", "-c", kStart, "same.txt"},
         .exit = 1, .files = {{"same.txt", "keep"}, {"started", {}}}},
        {.what = "log and page one file by two names", .setup = "printf keep > same.txt; ln same.txt hard.txt",
         .args = {"-log=same.txt", "-html=hard.txt", "sh", "-c", kStart, "out.txt"},
         .exit = 1, .files = {{"same.txt", "keep"}, {"out.txt", {}}, {"started", {}}}},
        {.what = "recording and page the same name", .setup = "printf keep > same.txt",
         .args = {"-record=same.txt", "-html=./same.txt", "sh", "-c", kStart, "out.txt"},
         .exit = 1, .files = {{"same.txt", "keep"}, {"out.txt", {}}, {"started", {}}}},
        {.what = "the program as page", .setup = kScript,
         .args = {"-html=build.sh", "./build.sh", "out.txt"},
         .exit = 1, .files = {{"build.sh", kScriptBytes}, {"out.txt", {}}, {"started", {}}}},
        {.what = "the page in a missing directory", .setup = "printf old > out.txt",
         .args = {"-html=no/p.html", "sh", "-c", kStart, "out.txt"},
         .exit = 1, .files = {{"out.txt", "old"}, {"started", {}}}},
        {.what = "the page a FIFO with a reader", .setup = "mkfifo ff; printf old > out.txt",
         .args = {"-html=ff", "sh", "-c", kStart, "out.txt"}, .reader = Reader::Fifo,
         .exit = 1, .files = {{"out.txt", "old"}, {"started", {}}}},
        {.what = "the page a terminal", .setup = "printf old > out.txt",
         .args = {"-html={tty}", "sh", "-c", kStart, "out.txt"}, .reader = Reader::Tty,
         .exit = 1, .files = {{"out.txt", "old"}, {"started", {}}}},
        {.what = "the page emptied, then the last screen without refresh", .setup = "printf 'longer old page' > p.html",
         .args = {"-rows=2", "-html=p.html", "seq", "1", "3", "o.txt"},
         .exit = 0, .files = {{"o.txt", fileOf({"3"})}, {"p.html", finalPage("1\r\n2\r\n3\r\n")}}},
        {.what = "the page and the output on /dev/null",
         .args = {"-html=/dev/null", "seq", "1", "3", "/dev/null"},
         .exit = 0},
        {.what = "the page beyond the file size limit",
         .args = {"-rows=300", "-html=p.html", "seq", "1", "10", "out.txt"}, .fileLimit = 1024,
         .exit = 1, .files = {{"out.txt", lines(1, 10)}}},
        // vtsnap-render: one file as two of the input, the output, the log and
        // the page is refused before anything is emptied.
        {.what = "vtsnap-render's log on its input", .setup = "printf 'a\\nb' > in.txt", .tool = kRender,
         .args = {"-log=./in.txt", "in.txt", "o.txt"},
         .exit = 1, .files = {{"in.txt", "a\nb"}, {"o.txt", {}}}},
        {.what = "vtsnap-render's output on its input by another name", .setup = "printf ab > in.txt; ln -s in.txt l.txt",
         .tool = kRender, .args = {"in.txt", "l.txt"},
         .exit = 1, .files = {{"in.txt", "ab"}}},
        {.what = "vtsnap-render's page and output one new file", .setup = "printf ab > in.txt", .tool = kRender,
         .args = {"-html=o.txt", "in.txt", "./o.txt"},
         .exit = 1, .files = {{"in.txt", "ab"}, {"o.txt", {}}}},
        // Standard input, FIFOs and /dev/stdin are files like any other, and
        // new names are compared once they exist: refused, every file as it was.
        {.what = "vtsnap-render's log on its standard input", .setup = "printf 'a\\nb' > in.txt", .tool = kRender,
         .args = {"-log=in.txt", "-", "o.txt"}, .input = "in.txt",
         .exit = 1, .files = {{"in.txt", "a\nb"}, {"o.txt", {}}},
         .message = "vtsnap-render: standard input and -log=in.txt are one file\n"},
        {.what = "vtsnap-render's output on its standard input", .setup = "printf ab > in.txt", .tool = kRender,
         .args = {"-", "in.txt"}, .input = "in.txt",
         .exit = 1, .files = {{"in.txt", "ab"}}, .message = "standard input and in.txt are one file"},
        {.what = "vtsnap-render's page on its standard input", .setup = "printf ab > in.txt", .tool = kRender,
         .args = {"-html=in.txt", "-", "o.txt"}, .input = "in.txt",
         .exit = 1, .files = {{"in.txt", "ab"}, {"o.txt", {}}}},
        {.what = "vtsnap-render's log on /dev/stdin", .setup = "printf ab > in.txt", .tool = kRender,
         .args = {"-log=/dev/stdin", "-", "o.txt"}, .input = "in.txt",
         .exit = 1, .files = {{"in.txt", "ab"}, {"o.txt", {}}},
         .message = "standard input and -log=/dev/stdin are one file"},
        {.what = "vtsnap-render's log and its output through a dangling link",
         .setup = "printf ab > in.txt; ln -s target.txt link.txt", .tool = kRender,
         .args = {"-log=target.txt", "in.txt", "link.txt"},
         .exit = 1, .files = {{"in.txt", "ab"}, {"target.txt", {}}},
         .message = "link.txt and -log=target.txt are one file"},
        {.what = "vtsnap-render's output through a dangling link and its log",
         .setup = "printf ab > in.txt; ln -s target.txt link.txt", .tool = kRender,
         .args = {"-log=link.txt", "in.txt", "target.txt"},
         .exit = 1, .files = {{"in.txt", "ab"}, {"target.txt", {}}}},
        {.what = "vtsnap-render's log on its input, a FIFO",
         .setup = "printf ab > in.txt; mkfifo p; (cat < in.txt > p &)", .tool = kRender,
         .args = {"-log=p", "p", "o.txt"},
         .exit = 1, .files = {{"in.txt", "ab"}, {"o.txt", {}}}, .message = "p and -log=p are one file"},
        // `-` is standard input or output only as vtsnap-render's operands.
        {.what = "vtsnap-render's page to -", .setup = "printf ab > in.txt", .tool = kRender,
         .args = {"-html=-", "in.txt", "o.txt"}, .reader = Reader::Stdout,
         .exit = 1, .files = {{"o.txt", {}}}, .message = "-html=-: `-` names no file here"},
        {.what = "vtsnap-render's log to -", .setup = "printf ab > in.txt", .tool = kRender,
         .args = {"-log=-", "in.txt", "o.txt"}, .reader = Reader::Stdout,
         .exit = 1, .files = {{"-", {}}, {"o.txt", {}}}},
        {.what = "vtsnap-render's page and output to -", .setup = "printf ab > in.txt", .tool = kRender,
         .args = {"-html=-", "in.txt", "-"}, .reader = Reader::Stdout,
         .exit = 1},
        {.what = "vtsnap-render's output to -", .setup = "printf ab > in.txt", .tool = kRender,
         .args = {"-cols=120", "-rows=2", "in.txt", "-"}, .reader = Reader::Stdout,
         .exit = 0, .printed = fileOf({"ab"})},
        {.what = "vtsnap's log to -", .args = {"-log=-", "seq", "1", "3", "o.txt"}, .reader = Reader::Stdout,
         .exit = 1, .files = {{"-", {}}, {"o.txt", {}}}},
        {.what = "vtsnap's output to -", .args = {"seq", "1", "3", "-"}, .reader = Reader::Stdout,
         .exit = 1, .files = {{"-", {}}}},
        // A refused run leaves none of the files it created.
        {.what = "vtsnap's new files, the program as output", .setup = kScript,
         .args = {"-html=new1.html", "-record=new.cast", "-log=new.log", "./build.sh", "./build.sh"},
         .exit = 1,
         .files = {{"build.sh", kScriptBytes}, {"new1.html", {}}, {"new.cast", {}}, {"new.log", {}}, {"started", {}}}},
        {.what = "vtsnap-render's new output and page, a bad recording",
         .setup = "printf '{\"version\": 2, \"width\": 9, \"height\": 2}\\nnot json\\n' > in.cast",
         .tool = kRender, .args = {"-html=p.html", "in.cast", "o.txt"},
         .exit = 1, .files = {{"o.txt", {}}, {"p.html", {}}}},
        {.what = "vtsnap-render's output and page as they were, a bad recording",
         .setup = "printf '{\"version\": 2, \"width\": 9, \"height\": 2}\\nnot json\\n' > in.cast; "
                  "printf old > o.txt; printf page > p.html",
         .tool = kRender, .args = {"-html=p.html", "in.cast", "o.txt"},
         .exit = 1, .files = {{"o.txt", "old"}, {"p.html", "page"}}},
        // A program that cannot be started, a mistyped option above all, leaves the output as it was.
        {.what = "a mistyped option taken for the program", .setup = "printf keep > o.txt",
         .args = {"-row=5", "ls", "o.txt"}, .exit = 1, .files = {{"o.txt", "keep"}},
         .message = "vtsnap: cannot start -row=5: not found on PATH (it begins with '-': a mistyped option?"},
        {.what = "a mistyped long option taken for the program", .setup = "printf keep > o.txt",
         .args = {"--rows=5", "-color=yes", "ls", "o.txt"}, .exit = 1, .files = {{"o.txt", "keep"}},
         .message = "vtsnap: cannot start --rows=5: not found on PATH (it begins with '-'"},
        {.what = "a program not found, a new output", .args = {"no-such-program-vtsnap", "o.txt"},
         .exit = 1, .files = {{"o.txt", {}}},
         .message = "vtsnap: cannot start no-such-program-vtsnap: not found on PATH\n"},
        {.what = "a program that is not executable", .setup = "printf 'echo hi' > plain.sh; printf keep > o.txt",
         .args = {"./plain.sh", "o.txt"},
         .exit = 1, .files = {{"o.txt", "keep"}},
         .message = "vtsnap: cannot start ./plain.sh: not an executable file\n"},

        {.what = "vtsnap-render's log and output on /dev/null", .setup = "printf ab > in.txt", .tool = kRender,
         .args = {"-log=/dev/null", "in.txt", "/dev/null"},
         .exit = 0, .files = {{"in.txt", "ab"}}},
        {.what = "vtsnap-render's page", .setup = "printf 'a\\033[31mb' > in.txt", .tool = kRender,
         .args = {"-html=p.html", "-cols=120", "-rows=2", "in.txt", "o.txt"},
         .exit = 0, .files = {{"o.txt", fileOf({"ab"})}, {"p.html", finalPage("a\x1b[31mb")}}},

        // A log whose reader goes: the run goes on, with the program's code.
        // Logs to a pipe, a FIFO and a terminal stream the transcript.
        {.what = "the log's reader takes 5 bytes and goes",
         .args = {"-rows=3", "-log=/dev/stdout", "sh", "-c", "seq 1 100; sleep 1; echo end; exit 9", "o.txt"},
         .reader = Reader::StdoutFirst5,
         .exit = 9, .files = {{"o.txt", fileOf({"100", "end"})}}, .printed = std::string(kBom) + "1\r"},
        {.what = "the log's reader goes, the program ends with 0",
         .args = {"-rows=3", "-log=/dev/stdout", "sh", "-c", "seq 1 100; sleep 1; echo end", "o.txt"},
         .reader = Reader::StdoutFirst5,
         .exit = 0, .files = {{"o.txt", fileOf({"100", "end"})}}, .printed = std::string(kBom) + "1\r"},
        {.what = "the log to a pipe",
         .args = {"-rows=2", "-log=/dev/stdout", "seq", "1", "3", "o.txt"}, .reader = Reader::Stdout,
         .exit = 0, .files = {{"o.txt", fileOf({"3"})}}, .printed = lines(1, 3)},
        {.what = "the log to a FIFO with a reader", .setup = "mkfifo ff",
         .args = {"-log=ff", "seq", "1", "3", "o.txt"}, .reader = Reader::Fifo,
         .exit = 0, .files = {{"o.txt", lines(1, 3)}}, .printed = lines(1, 3)},
        {.what = "the log to a terminal",
         .args = {"-log={tty}", "seq", "1", "3", "o.txt"}, .reader = Reader::Tty,
         .exit = 0, .files = {{"o.txt", lines(1, 3)}}, .printed = lines(1, 3)},
        {.what = "the log to a FIFO with no reader", .setup = "mkfifo ff; printf old > out.txt",
         .args = {"-log=ff", "sh", "-c", kStart, "out.txt"},
         .exit = 1, .files = {{"out.txt", "old"}, {"started", {}}}},

        // An output that cannot be rewritten in place: refused at once.
        {.what = "the output a FIFO with no reader", .setup = "mkfifo ff",
         .args = {"sh", "-c", kStart, "ff"},
         .exit = 1, .files = {{"started", {}}}},
        {.what = "the output a FIFO with a reader", .setup = "mkfifo ff",
         .args = {"sh", "-c", kStart, "ff"}, .reader = Reader::Fifo,
         .exit = 1, .files = {{"started", {}}}},
        {.what = "the output a pipe",
         .args = {"sh", "-c", kStart, "/dev/stdout"}, .reader = Reader::Stdout,
         .exit = 1, .files = {{"started", {}}}},
        {.what = "the output a terminal",
         .args = {"sh", "-c", kStart, "{tty}"}, .reader = Reader::Tty,
         .exit = 1, .files = {{"started", {}}}},
        {.what = "the output a socket",
         .args = {"sh", "-c", kStart, "{socket}"},
         .exit = 1, .files = {{"started", {}}}},
        {.what = "the output /dev/full",
         .args = {"sh", "-c", kStart, "/dev/full"},
         .exit = 1, .files = {{"started", {}}}},
        {.what = "the output /dev/null, for the log alone",
         .args = {"-rows=2", "-log=log.txt", "seq", "1", "3", "/dev/null"},
         .exit = 0, .files = {{"log.txt", lines(1, 3)}}},

        // A last write that fails: 1 where the program ended with 0. The log
        // ends with whole lines and a line telling of the rest.
        {.what = "the last screen beyond the file size limit",
         .args = {"-rows=300", "seq", "1", "1000", "out.txt"}, .fileLimit = 1024,
         .exit = 1, .files = {{"out.txt", lines(702, 1000).substr(0, 1024)}}},
        {.what = "the log beyond the file size limit",
         .args = {"-rows=5", "-log=log.txt", "seq", "1", "3000", "out.txt"}, .fileLimit = 4096,
         .exit = 1, .files = {{"out.txt", lines(2997, 3000)}, {"log.txt", lines(1, 826) + note(2174)}}},
        {.what = "the log on /dev/full",
         .args = {"-log=/dev/full", "seq", "1", "3", "out.txt"},
         .exit = 1, .files = {{"out.txt", lines(1, 3)}}},
        {.what = "the log on /dev/full, the program ending with 5",
         .args = {"-log=/dev/full", "sh", "-c", "seq 1 3; exit 5", "out.txt"},
         .exit = 5, .files = {{"out.txt", lines(1, 3)}}},

        // --help and --version alone; a program of that name otherwise.
        {.what = "vtsnap --help", .args = {"--help"}, .reader = Reader::Stdout,
         .exit = 0, .printed = kHelpStart, .printedPrefixOnly = true},
        {.what = "vtsnap --version", .args = {"--version"}, .reader = Reader::Stdout,
         .exit = 0, .printed = version("vtsnap")},
        {.what = "a program named --help", .setup = "printf '#!/bin/sh\\necho ran\\n' > ./--help; chmod +x ./--help",
         .args = {"--help", "out.txt"}, .environment = "PATH={dir}:/usr/bin:/bin", .reader = Reader::Stdout,
         .exit = 0, .files = {{"out.txt", fileOf({"ran"})}}},
        {.what = "vtsnap-render --help", .tool = kRender, .args = {"--help"}, .reader = Reader::Stdout,
         .exit = 0,
         .printed = "usage: vtsnap-render [-rows=N] [-cols=N] [-color] [-chunk=N] [-log=FILE] [-html=FILE] "
                    "[-at=SECONDS] INPUT OUTPUT\n",
         .printedPrefixOnly = true},
        {.what = "vtsnap-render --version", .tool = kRender, .args = {"--version"}, .reader = Reader::Stdout,
         .exit = 0, .printed = version("vtsnap-render")},
    };
    return table;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != text.npos; at += to.size())
        text.replace(at, from.size(), to);
}

std::optional<std::string> readFile(const fs::path& path) {
    if (!fs::exists(fs::symlink_status(path))) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Reads what `fd` holds now; false once it has reached its end.
bool readAvailable(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
}

struct Outcome {
    int exitCode = -1;
    int signal = 0;
    std::string printed;
};

class EdgeRun {
public:
    explicit EdgeRun(const Row& row) : row_(row) {
        std::string pattern = (fs::temp_directory_path() / "vtsnap-edge-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) dir_ = fs::canonical(pattern);
    }
    ~EdgeRun() {
        for (int fd : {readEnd_, tty_, ttySlave_, socket_})
            if (fd >= 0) close(fd);
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
    }

    const fs::path& dir() const { return dir_; }

    Outcome run() {
        Outcome outcome;
        if (!row_.setup.empty()) {
            const std::string command = "cd '" + dir_.string() + "' && " + row_.setup;
            if (std::system(command.c_str()) != 0) {
                ADD_FAILURE() << "setup failed: " << row_.setup;
                return outcome;
            }
        }
        std::vector<std::string> args{row_.tool};
        for (std::string arg : row_.args) {
            if (arg.find("{tty}") != arg.npos) replaceAll(arg, "{tty}", openTerminal());
            if (arg.find("{socket}") != arg.npos) replaceAll(arg, "{socket}", bindSocket());
            replaceAll(arg, "{dir}", dir_.string());
            args.push_back(arg);
        }
        std::string environment = row_.environment;
        replaceAll(environment, "{dir}", dir_.string());

        int out = -1;
        if (row_.reader == Reader::Stdout || row_.reader == Reader::StdoutFirst5) {
            int ends[2];
            if (pipe2(ends, O_CLOEXEC) != 0) return outcome;
            readEnd_ = ends[0];
            out = ends[1];
        }
        // Opened before the tool starts, so that the tool finds a reader there.
        if (row_.reader == Reader::Fifo) readEnd_ = open((dir_ / "ff").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (row_.reader == Reader::Tty) readEnd_ = tty_;
        if (readEnd_ >= 0) fcntl(readEnd_, F_SETFL, fcntl(readEnd_, F_GETFL) | O_NONBLOCK);

        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(dir_.c_str()) != 0) _exit(120);
            // As a shell starts a command: a reader that goes ends a writer that does not see to it.
            signal(SIGPIPE, SIG_DFL);
            const int null = open("/dev/null", O_RDWR);
            dup2(row_.input.empty() ? null : open(row_.input.c_str(), O_RDONLY), 0);
            dup2(out >= 0 ? out : null, 1);
            const int errors = open((dir_ / ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (errors >= 0) dup2(errors, 2);
            if (!environment.empty()) putenv(environment.data());
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = row_.fileLimit;
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(121);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(122);
        }
        if (out >= 0) close(out);

        const auto limit = Clock::now() + kHangLimit;
        bool open = readEnd_ >= 0;
        int status = 0;
        for (;;) {
            if (open) {
                pollfd ready{readEnd_, POLLIN, 0};
                poll(&ready, 1, 5);
                open = readAvailable(readEnd_, outcome.printed);
                // As `head -c5`: five bytes, then the reader is gone.
                if (row_.reader == Reader::StdoutFirst5 && outcome.printed.size() >= 5) {
                    outcome.printed.resize(5);
                    close(readEnd_);
                    readEnd_ = -1;
                    open = false;
                }
                // A FIFO or a terminal reads as ended before the tool has opened it.
                if (row_.reader == Reader::Fifo || row_.reader == Reader::Tty) open = true;
            } else {
                std::this_thread::sleep_for(2ms);
            }
            if (waitpid(pid, &status, WNOHANG) == pid) break;
            if (Clock::now() > limit) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                ADD_FAILURE() << "the tool did not end";
                break;
            }
        }
        if (readEnd_ >= 0) {
            readAvailable(readEnd_, outcome.printed);
            if (readEnd_ != tty_) close(readEnd_);
            readEnd_ = -1;
        }
        if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
        return outcome;
    }

private:
    // A terminal in raw mode, so that the bytes written to it come out as they are.
    std::string openTerminal() {
        tty_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (tty_ < 0 || grantpt(tty_) != 0 || unlockpt(tty_) != 0) return "no-terminal";
        const std::string name = ptsname(tty_);
        ttySlave_ = open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios mode{};
        tcgetattr(ttySlave_, &mode);
        cfmakeraw(&mode);
        tcsetattr(ttySlave_, TCSANOW, &mode);
        return name;
    }

    std::string bindSocket() {
        const std::string path = (dir_ / "sock").string();
        socket_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(socket_, 1) != 0)
            ADD_FAILURE() << "cannot make a socket at " << path;
        return path;
    }

    const Row& row_;
    fs::path dir_;
    int readEnd_ = -1;
    int tty_ = -1;
    int ttySlave_ = -1;
    int socket_ = -1;
};

TEST(EdgeTest, EveryCommandLineOfTheTable) {
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.what);
        EdgeRun run(row);
        ASSERT_FALSE(run.dir().empty());
        const Outcome outcome = run.run();
        EXPECT_EQ(outcome.signal, 0);
        EXPECT_EQ(outcome.exitCode, row.exit);
        const std::string printed =
            row.printedPrefixOnly ? outcome.printed.substr(0, row.printed.size()) : outcome.printed;
        EXPECT_EQ(printed, row.printed);
        for (const auto& [name, bytes] : row.files) EXPECT_EQ(readFile(run.dir() / name), bytes) << name;
        const std::string errors = readFile(run.dir() / ".stderr").value_or("");
        if (!row.message.empty()) {
            EXPECT_NE(errors.find(row.message), std::string::npos) << errors;
        }
    }
}


// Recorded live and replayed by vtsnap-render: the same screen file, byte for
// byte, whatever the program wrote. (printf formats, in octal.)
TEST(EdgeTest, ARecordingReplaysToTheLiveScreenFile) {
    struct Case {
        const char* what;
        std::string printf;
        std::optional<std::string> live;  // the screen file, where the case says what it is
    };
    const std::vector<Case> table = {
        {"Latin-1", "caf\\351 au lait\\n", fileOf({"caf au lait"})},
        {"UTF-8", "caf\\303\\251 \\342\\202\\254 \\360\\237\\230\\200\\n", fileOf({"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"})},
        {"never UTF-8, and cut characters", "a\\377b\\300\\257c\\342\\202d\\355\\240\\200e\\n", fileOf({"abcde"})},
        {"within escape sequences", "\\033[3\\3511mred\\033[m \\033\\3517x\\033]0;t\\351\\007ok\\n", {}},
        {"a character cut at the end", "end \\360\\237\\230", fileOf({"end"})},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        Row none;
        EdgeRun place(none);
        const fs::path& dir = place.dir();
        const std::string live = "cd '" + dir.string() + "' && '" + kTool + "' -rows=3 -color -record=r.cast sh -c \"printf '" +
                                 c.printf + "'\" live.txt && '" + kRender + "' -color r.cast replay.txt";
        EXPECT_EQ(std::system(live.c_str()), 0);
        const std::optional<std::string> screen = readFile(dir / "live.txt");
        if (c.live) {
            EXPECT_EQ(screen, c.live);
        }
        EXPECT_EQ(readFile(dir / "replay.txt"), screen);
    }
}

// A log or a recording whose reader lags far behind: a FIFO that is read only
// once the program is done. The program goes at its own pace, each line it
// prints reaches the screen file within a second, and the reader still gets
// every byte at the end.
struct LaggingReaderRow {
    const char* what;
    std::string option;  // names the FIFO ./ff
};

TEST(EdgeTest, AReaderThatLagsHoldsNeitherTheProgramNorTheScreenBack) {
    constexpr int kTicks = 6;
    const std::string script = "seq 1 100000; for i in 1 2 3 4 5 6; do echo tick $i; date +%s.%N > t$i; sleep 0.5; done";
    std::string allLines = std::string(kBom);
    for (int i = 1; i <= 100000; ++i) allLines += std::to_string(i) + "\r\n";
    for (int i = 1; i <= kTicks; ++i) allLines += "tick " + std::to_string(i) + "\r\n";
    const std::vector<LaggingReaderRow> table = {
        {"the log", "-log=ff"},
        {"the recording", "-record=ff"},
    };
    for (const LaggingReaderRow& row : table) {
        SCOPED_TRACE(row.what);
        Row none;
        EdgeRun place(none);
        const fs::path& dir = place.dir();
        ASSERT_EQ(mkfifo((dir / "ff").c_str(), 0600), 0);
        const int reader = open((dir / "ff").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0) _exit(120);
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            execl(kTool.c_str(), kTool.c_str(), "-rows=3", row.option.c_str(), "sh", "-c", script.c_str(), "st.txt",
                  static_cast<char*>(nullptr));
            _exit(122);
        }
        // The FIFO is not read while the ticks come.
        std::vector<std::optional<std::chrono::system_clock::time_point>> seen(kTicks + 1);
        const auto limit = Clock::now() + kHangLimit;
        while (!seen[kTicks] && Clock::now() < limit) {
            const std::string screen = vtsnap::test::readWhole((dir / "st.txt").string());
            for (int i = 1; i <= kTicks; ++i)
                if (!seen[i] && screen.find("tick " + std::to_string(i) + "\r\n") != screen.npos)
                    seen[i] = std::chrono::system_clock::now();
            std::this_thread::sleep_for(10ms);
        }
        std::string got;
        int status = 0;
        for (bool open = true; open;) {
            pollfd ready{reader, POLLIN, 0};
            poll(&ready, 1, 10);
            open = readAvailable(reader, got) || waitpid(pid, &status, WNOHANG) == 0;
            if (Clock::now() > limit) {
                kill(pid, SIGKILL);
                break;
            }
        }
        waitpid(pid, &status, 0);
        close(reader);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        double latest = 0;
        for (int i = 1; i <= kTicks; ++i) {
            SCOPED_TRACE("tick " + std::to_string(i));
            const std::optional<std::string> printed = readFile(dir / ("t" + std::to_string(i)));
            ASSERT_TRUE(printed && seen[i]);
            const std::chrono::duration<double> at(std::atof(printed->c_str()));
            const double late =
                std::chrono::duration<double>(seen[i]->time_since_epoch()).count() - at.count();
            EXPECT_LT(late, 1.0) << "seconds from the program's print to the screen file";
            latest = std::max(latest, late);
        }
        std::cout << row.what << " lagging: each tick in the screen file within " << latest << " s\n";
        EXPECT_EQ(readFile(dir / "st.txt"), fileOf({"tick 5", "tick 6"}));
        if (row.option.starts_with("-log")) {
            EXPECT_TRUE(got == allLines) << got.size() << " bytes, expected " << allLines.size();
        } else {
            // Every byte is there when the recording replays to the same screen.
            std::ofstream(dir / "rec.cast", std::ios::binary) << got;
            const std::string replay = "'" + kRender + "' -rows=3 '" + (dir / "rec.cast").string() + "' '" +
                                       (dir / "replay.txt").string() + "'";
            EXPECT_EQ(std::system(replay.c_str()), 0);
            EXPECT_EQ(readFile(dir / "replay.txt"), fileOf({"tick 5", "tick 6"}));
            EXPECT_TRUE(got.starts_with("{\"version\": 2, \"width\": 120, \"height\": 3,"));
        }
    }
}

}  // namespace
