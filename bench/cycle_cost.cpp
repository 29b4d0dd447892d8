// Where a launch cycle's own time goes: runs each step of a cycle (without the start) many
// times in the benchmark's working folder and prints the microseconds each takes, on standard
// error (standard output takes the steps' own lines).
#include <stdio.h>

#include <windows.h>

#include "launcher/launcher.h"
#include "platform/platform.h"

namespace {

double now_us() {
    LARGE_INTEGER count;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

} // namespace

int main() {
    const int rounds = 500;
    static wchar_t program[program_path_chars];
    static wchar_t quoted[quoted_path_chars];
    static wchar_t command[command_text_chars];
    double spent[4] = {};
    for (int i = 0; i < rounds; ++i) {
        double t0 = now_us();
        find_javaw(program, program_path_chars);
        double t1 = now_us();
        quote_path(program, quoted, quoted_path_chars);
        double t2 = now_us();
        read_command_line(command, command_text_chars);
        double t3 = now_us();
        // The same report and flush as a launch cycle's, through the same platform calls.
        out_wide(L"_wspawnl(_P_WAIT, %ls, %ls, \"%ls\", NULL)\n", program, quoted, command);
        out_flush();
        double t4 = now_us();
        spent[0] += t1 - t0;
        spent[1] += t2 - t1;
        spent[2] += t3 - t2;
        spent[3] += t4 - t3;
    }
    fprintf(stderr,
            "per cycle: find_javaw %.0f us, quote_path %.1f us, read_command_line %.0f us, "
            "report and flush %.0f us\n",
            spent[0] / rounds, spent[1] / rounds, spent[2] / rounds, spent[3] / rounds);
    return 0;
}
