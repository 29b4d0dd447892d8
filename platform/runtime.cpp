#include "platform/platform.h"

#include <errno.h>
#include <stdarg.h>

#include <windows.h>

FILE* text_open(const wchar_t* name) {
    return _wfopen(name, L"r,ccs=UTF-8");
}

text_read text_read_line(FILE* file, wchar_t* dst, int size) {
    bool got = fgetws(dst, size, file) != nullptr;
    // A read that failed part of the way left no whole line either.
    if (ferror(file)) {
        return text_failed;
    }
    return got ? text_line : text_end;
}

void text_close(FILE* file) {
    fclose(file);
}

// The runtime's own wide output stops at the first character outside Latin-1, losing the rest
// of the line and its line break; the line is written as UTF-8 instead. A line of the launcher
// holds at most three buffers' worth of text, well inside the room here.
void out_wide(const wchar_t* format, ...) {
    constexpr size_t room = 8192;
    static wchar_t line[room];
    static char bytes[3 * room];
    va_list args;
    va_start(args, format);
    int units = _vsnwprintf(line, room - 1, format, args);
    va_end(args);
    line[room - 1] = L'\0';
    if (units < 0) {
        units = static_cast<int>(wcslen(line));
    }
    int n = WideCharToMultiByte(CP_UTF8, 0, line, units, bytes, sizeof bytes, nullptr, nullptr);
    fwrite(bytes, 1, static_cast<size_t>(n), stdout);
}

void out_narrow(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
}

void out_line(const char* text) {
    puts(text);
}

// Standard output is buffered and standard error is not: flushing first keeps the lines in the
// order they happened where both streams go to one place. The error number is kept across the
// flush, which fails where standard output is closed or broken.
void out_error(const char* text) {
    int error = errno;
    fflush(stdout);
    errno = error;
    perror(text);
}

void out_flush() {
    fflush(stdout);
}

int error_number() {
    return errno;
}
