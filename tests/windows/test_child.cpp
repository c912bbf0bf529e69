// A console program for the end-to-end tests. Its arguments are steps run in
// order:
//   print TEXT       TEXT and a line end on standard output
//   conout TEXT      TEXT and a line end on the console itself (CONOUT$)
//   lines N PREFIX   N lines "PREFIX 1" .. "PREFIX N"
//   color ATTR TEXT  TEXT in console attribute ATTR (e.g. 0x0C), then a line end
//   progress N       "step 1/N" redrawn with CR up to "step N/N", then " done" and a line end
//   sleep MS         pause
//   cwd              the current directory as a line
//   touch PATH       create an empty file
//   exit CODE        end with CODE (any 32-bit value, 0x.. allowed)
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void writeOut(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

unsigned long number(const char* text) {
    return std::strtoul(text, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        const bool hasArg = i + 1 < argc;
        if (step == "print" && hasArg) {
            writeOut(std::string(argv[++i]) + "\r\n");
        } else if (step == "conout" && hasArg) {
            const HANDLE console = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, 0, nullptr);
            const std::string text = std::string(argv[++i]) + "\r\n";
            DWORD written = 0;
            WriteFile(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            CloseHandle(console);
        } else if (step == "lines" && i + 2 < argc) {
            const unsigned long count = number(argv[++i]);
            const std::string prefix = argv[++i];
            std::string text;
            for (unsigned long n = 1; n <= count; ++n) text += prefix + " " + std::to_string(n) + "\r\n";
            writeOut(text);
        } else if (step == "color" && i + 2 < argc) {
            const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
            SetConsoleTextAttribute(out, static_cast<WORD>(number(argv[++i])));
            writeOut(argv[++i]);
            SetConsoleTextAttribute(out, FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE);
            writeOut("\r\n");
        } else if (step == "progress" && hasArg) {
            const unsigned long count = number(argv[++i]);
            for (unsigned long n = 1; n <= count; ++n) {
                writeOut("\rstep " + std::to_string(n) + "/" + std::to_string(count));
                Sleep(20);
            }
            writeOut(" done\r\n");
        } else if (step == "sleep" && hasArg) {
            Sleep(number(argv[++i]));
        } else if (step == "cwd") {
            char directory[MAX_PATH] = {};
            GetCurrentDirectoryA(MAX_PATH, directory);
            writeOut(std::string("cwd=") + directory + "\r\n");
        } else if (step == "touch" && hasArg) {
            CloseHandle(CreateFileA(argv[++i], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        } else if (step == "exit" && hasArg) {
            ExitProcess(static_cast<UINT>(number(argv[++i])));
        } else {
            return 2;  // a step the tests do not know
        }
    }
    return 0;
}
