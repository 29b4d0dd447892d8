#include "platform/platform.h"

#include <errno.h>
#include <io.h>
#include <stdint.h>
#include <stdlib.h>

#include <windows.h>

namespace {

// The longest command line Windows takes, and its terminator.
constexpr size_t command_line_chars = 32768;
wchar_t command_line[command_line_chars];

struct system_error {
    DWORD code;
    int error;
};

// Microsoft's runtime library's mapping of system errors to error numbers, whole: a failed start
// is worded as Windows users see it from that library (Wine's maps some errors otherwise).
const system_error mapped_errors[] = {
    {ERROR_INVALID_FUNCTION, EINVAL},
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_INVALID_HANDLE, EBADF},
    {ERROR_ARENA_TRASHED, ENOMEM},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_INVALID_BLOCK, ENOMEM},
    {ERROR_BAD_ENVIRONMENT, E2BIG},
    {ERROR_BAD_FORMAT, ENOEXEC},
    {ERROR_INVALID_ACCESS, EINVAL},
    {ERROR_INVALID_DATA, EINVAL},
    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_CURRENT_DIRECTORY, EACCES},
    {ERROR_NOT_SAME_DEVICE, EXDEV},
    {ERROR_NO_MORE_FILES, ENOENT},
    {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_NETWORK_ACCESS_DENIED, EACCES},
    {ERROR_BAD_NET_NAME, ENOENT},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_CANNOT_MAKE, EACCES},
    {ERROR_FAIL_I24, EACCES},
    {ERROR_INVALID_PARAMETER, EINVAL},
    {ERROR_NO_PROC_SLOTS, EAGAIN},
    {ERROR_DRIVE_LOCKED, EACCES},
    {ERROR_BROKEN_PIPE, EPIPE},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_INVALID_TARGET_HANDLE, EBADF},
    {ERROR_INVALID_LEVEL, EINVAL},
    {ERROR_WAIT_NO_CHILDREN, ECHILD},
    {ERROR_CHILD_NOT_COMPLETE, ECHILD},
    {ERROR_DIRECT_ACCESS_HANDLE, EBADF},
    {ERROR_NEGATIVE_SEEK, EINVAL},
    {ERROR_SEEK_ON_DEVICE, EACCES},
    {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_NOT_LOCKED, EACCES},
    {ERROR_BAD_PATHNAME, ENOENT},
    {ERROR_MAX_THRDS_REACHED, EAGAIN},
    {ERROR_LOCK_FAILED, EACCES},
    {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_FILENAME_EXCED_RANGE, ENOENT},
    {ERROR_NESTING_NOT_ALLOWED, EAGAIN},
    {ERROR_NOT_ENOUGH_QUOTA, ENOMEM},
};

int error_from_system(DWORD code) {
    for (const system_error& e : mapped_errors) {
        if (e.code == code) {
            return e.error;
        }
    }
    // Write protection to sharing buffer; then the ways a file can fail to be a program, among
    // them ERROR_BAD_EXE_FORMAT.
    if (code >= ERROR_WRITE_PROTECT && code <= ERROR_SHARING_BUFFER_EXCEEDED) {
        return EACCES;
    }
    if (code >= ERROR_INVALID_STARTING_CODESEG && code <= ERROR_INFLOOP_IN_RELOC_CHAIN) {
        return ENOEXEC;
    }
    return EINVAL;
}

int start_failed(int error) {
    errno = error;
    return -1;
}

// "first second", as the runtime library joins a start's arguments: nothing added or quoted.
bool join_command_line(const wchar_t* first, const wchar_t* second) {
    size_t a = wcslen(first);
    size_t b = wcslen(second);
    if (a + 1 + b >= command_line_chars) {
        return false;
    }
    wmemcpy(command_line, first, a);
    command_line[a] = L' ';
    wmemcpy(command_line + a + 1, second, b + 1);
    return true;
}

// A descriptor's handle as the runtime library took it at start-up, before anything else was
// opened: it keeps a standard slot only if GetFileType knows it. A windowed program's slots may
// hold a monitor or a hot key, or a number never inherited that by now names something of ours.
// A descriptor not open gives a negative value.
HANDLE standard_handle(int descriptor) {
    intptr_t handle = _get_osfhandle(descriptor);
    return handle < 0 ? nullptr : reinterpret_cast<HANDLE>(handle);
}

// The launcher's own standard handles, named to the child outright: the runtime library's
// descriptor block holds pointer-sized handles, which a child of the other bitness misreads.
// With no standard handles at all (started from Explorer) the child starts with the defaults.
void hand_over_standard_handles(STARTUPINFOW* start) {
    start->hStdInput = standard_handle(0);
    start->hStdOutput = standard_handle(1);
    start->hStdError = standard_handle(2);
    if (start->hStdInput || start->hStdOutput || start->hStdError) {
        start->dwFlags |= STARTF_USESTDHANDLES;
    }
}

int wait_for_status(HANDLE process) {
    DWORD status = 0;
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process, &status)) {
        return start_failed(error_from_system(GetLastError()));
    }
    return static_cast<int>(status);
}

} // namespace

void* memory_take(size_t bytes) {
    return malloc(bytes);
}

void memory_release(void* block) {
    free(block);
}

int spawn_and_wait(const wchar_t* file, const wchar_t* first, const wchar_t* second) {
    if (!join_command_line(first, second)) {
        return start_failed(E2BIG);
    }
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    hand_over_standard_handles(&start);
    PROCESS_INFORMATION child = {};
    // The file as given, no search; handles inherited, environment and folder the launcher's.
    if (!CreateProcessW(file, command_line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                        &child)) {
        return start_failed(error_from_system(GetLastError()));
    }
    CloseHandle(child.hThread);
    int status = wait_for_status(child.hProcess);
    CloseHandle(child.hProcess);
    return status;
}

void end_process(int status) {
    exit(status);
}
