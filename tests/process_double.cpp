#include "tests/process_double.h"

#include <errno.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

process_script script;
std::vector<recorded_start> starts;

} // namespace

void script_process(const process_script& next) {
    script = next;
    starts.clear();
}

const std::vector<recorded_start>& recorded_starts() {
    return starts;
}

void* memory_take(size_t bytes) {
    if (script.memory_fails) {
        errno = ENOMEM;
        return nullptr;
    }
    return malloc(bytes);
}

void memory_release(void* block) {
    free(block);
}

int spawn_and_wait(const wchar_t* file, const wchar_t* first, const wchar_t* second) {
    size_t n = starts.size();
    starts.push_back({file, first, second});
    if (script.on_start) {
        script.on_start(n);
    }
    if (n >= script.statuses.size()) {
        ADD_FAILURE() << "started more often than scripted";
        return 0;
    }
    if (script.statuses[n] == -1) {
        errno = script.error_on_failure;
    }
    return script.statuses[n];
}

void end_process(int status) {
    ADD_FAILURE() << "the process was ended with " << status;
    abort();
}
