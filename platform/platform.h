// Everything the launcher takes from outside its own logic: the registry and the system runtime
// library. Tests link a double of process.cpp (memory, children, the process's end) in place of
// the real one.
#pragma once

#include <stddef.h>
#include <stdio.h>
#include <wchar.h>

typedef void* registry_key;

// The machine-wide root, HKEY_LOCAL_MACHINE.
registry_key registry_machine();
// Opens parent\name for reading in the program's own registry view; 0 on success.
long registry_open(registry_key parent, const wchar_t* name, registry_key* out);
// Reads a value of any type; *bytes is the capacity going in and the data size coming out.
// 0 on success; a value larger than the capacity is a failure.
long registry_read(registry_key key, const wchar_t* name, void* data, unsigned long* bytes);
void registry_close(registry_key key);

// Opens a UTF-8 text file for reading wide characters; null (error number set) on failure.
FILE* text_open(const wchar_t* name);
// Reads through the first line feed (kept) or the end of the file, at most size - 1
// characters, and terminates them. text_end, with dst untouched, when the file ended before any
// character; text_failed (error number set) when the read failed, whatever it left in dst.
enum text_read { text_line, text_end, text_failed };
text_read text_read_line(FILE* file, wchar_t* dst, int size);
void text_close(FILE* file);

void* memory_take(size_t bytes);
void memory_release(void* block);

// Formatted wide text to standard output, written whole as UTF-8; %ls takes a wide string.
void out_wide(const wchar_t* format, ...);
// Formatted narrow text to standard output.
void out_narrow(const char* format, ...);
// The text and a line break to standard output.
void out_line(const char* text);
// The text, ": ", the runtime library's message for the current error number and a line break,
// to standard error, after what standard output holds so far.
void out_error(const char* text);
void out_flush();
int error_number();

// Starts file (as given, no search) with the command line "first second", inheriting environment
// and working directory and handed this process's standard handles (as the runtime library took
// them at start-up), whatever its bitness, and waits for it: the child's exit status, or -1
// (error number set from the system's error as Microsoft's runtime library sets it) when it
// could not be started.
int spawn_and_wait(const wchar_t* file, const wchar_t* first, const wchar_t* second);
[[noreturn]] void end_process(int status);
