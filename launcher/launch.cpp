#include "launcher/launcher.h"
#include "platform/platform.h"

namespace {

constexpr int status_success = 0;
constexpr int status_failure = 1;
constexpr int start_failed = -1;
constexpr int error_invalid = 22; // EINVAL

void report_start_failure() {
    int error = error_number();
    out_error("Unable to execute quorvel");
    if (error == error_invalid) {
        out_line("Invalid mode?");
    }
}

wchar_t* take_chars(size_t chars) {
    return static_cast<wchar_t*>(memory_take(chars * sizeof(wchar_t)));
}

} // namespace

void quote_path(const wchar_t* path, wchar_t* out, size_t out_size) {
    if (out_size == 0) {
        return;
    }
    size_t n = 0;
    // Room is kept for the closing quote and the terminator.
    auto put = [&](wchar_t c) {
        if (n + 2 < out_size) {
            out[n++] = c;
        }
    };
    put(L'"');
    for (const wchar_t* c = path; *c != L'\0'; ++c) {
        if (*c == L'\\' || *c == L'"') {
            put(L'\\');
        }
        put(*c);
    }
    if (n + 1 < out_size) {
        out[n++] = L'"';
    }
    out[n] = L'\0';
}

next_step judge_status(int status) {
    if (status == 0) {
        return step_finish;
    }
    if (status == start_failed) {
        return step_start_failed;
    }
    return step_restart;
}

int run_cycle(wchar_t* program, wchar_t* quoted, wchar_t* command) {
    find_javaw(program, program_path_chars);
    quote_path(program, quoted, quoted_path_chars);
    read_command_line(command, command_text_chars);
    out_wide(L"_wspawnl(_P_WAIT, %ls, %ls, \"%ls\", NULL)\n", program, quoted, command);
    // The launcher's lines come before the child's own on a shared redirected stream.
    out_flush();
    return spawn_and_wait(program, quoted, command);
}

int run_launch_cycles() {
    wchar_t* program = take_chars(program_path_chars);
    wchar_t* quoted = take_chars(quoted_path_chars);
    wchar_t* command = take_chars(command_text_chars);
    int exit_status = status_failure;
    if (program == nullptr || quoted == nullptr || command == nullptr) {
        out_error("Unable to allocate the launcher's buffers");
    } else {
        for (;;) {
            int status = run_cycle(program, quoted, command);
            next_step step = judge_status(status);
            if (step == step_finish) {
                exit_status = status_success;
                break;
            }
            if (step == step_start_failed) {
                report_start_failure();
                break;
            }
            out_narrow("Return value: %d\n", status);
        }
    }
    memory_release(command);
    memory_release(quoted);
    memory_release(program);
    return exit_status;
}

void launch_loop(int argc, wchar_t** argv) {
    // The launcher has no options: arguments change nothing.
    (void)argc;
    (void)argv;
    end_process(run_launch_cycles());
}
