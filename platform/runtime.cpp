#include "platform/platform.h"

#include <errno.h>
#include <stdarg.h>

FILE* text_open(const wchar_t* name) {
    return _wfopen(name, L"r,ccs=UTF-8");
}

bool text_read_line(FILE* file, wchar_t* dst, int size) {
    return fgetws(dst, size, file) != nullptr;
}

void text_close(FILE* file) {
    fclose(file);
}

void out_wide(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    vwprintf(format, args);
    va_end(args);
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

void out_error(const char* text) {
    perror(text);
}

void out_flush() {
    fflush(stdout);
}

int error_number() {
    return errno;
}
