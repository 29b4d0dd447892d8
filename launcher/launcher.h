// The launcher's own logic: locate the Java runtime, assemble its command line, start it, and
// start it again until it ends with 0 or cannot be started.
#pragma once

#include <stddef.h>
#include <wchar.h>

// Capacities of the three buffers of a launch cycle, in wide characters.
constexpr size_t program_path_chars = 1024;
constexpr size_t quoted_path_chars = 2048;
constexpr size_t command_text_chars = 1024;

// Fills dst (size wide characters) with the registered runtime's javaw.exe or, when the
// registration cannot be read, with the fallback path. The home value may take size bytes.
void find_javaw(wchar_t* dst, unsigned size);

// Writes path into out (out_size wide characters) wrapped in double quotes, with a backslash
// before every backslash and double quote. Cut short, but terminated, where out is too small.
void quote_path(const wchar_t* path, wchar_t* out, size_t out_size);

// Fills dst (size wide characters) with the first line of command_line.txt, without the line
// break that ends it, or the default where the file cannot be read or that line is empty.
void read_command_line(wchar_t* dst, int size);

// What the launcher does once a child has ended with a given status.
enum next_step { step_restart, step_finish, step_start_failed };
next_step judge_status(int status);

// One cycle: locate, quote, read, report, start and wait. Returns the child's status.
int run_cycle(wchar_t* program, wchar_t* quoted, wchar_t* command);

// Runs launch cycles until one ends the supervision; returns the launcher's exit status.
int run_launch_cycles();

// The entry's work: arguments are ignored. Never returns.
[[noreturn]] void launch_loop(int argc, wchar_t** argv);
