#include "platform/platform.h"

#include <process.h>
#include <stdlib.h>

void* memory_take(size_t bytes) {
    return malloc(bytes);
}

void memory_release(void* block) {
    free(block);
}

int spawn_and_wait(const wchar_t* file, const wchar_t* first, const wchar_t* second) {
    return static_cast<int>(_wspawnl(_P_WAIT, file, first, second, nullptr));
}

void end_process(int status) {
    exit(status);
}
