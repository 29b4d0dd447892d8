// A stand-in for starting children and taking memory: it records each start and answers with
// the statuses a test scripts, since a real child's status and a failed allocation cannot be
// arranged from inside a test.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct recorded_start {
    std::wstring file;
    std::wstring first;
    std::wstring second;
};

struct process_script {
    std::vector<int> statuses;            // one per start, in order
    int error_on_failure = 0;             // error number set when a status is -1
    std::function<void(size_t)> on_start; // runs during start n, before it returns
    bool memory_fails = false;
};

void script_process(const process_script& script);
const std::vector<recorded_start>& recorded_starts();
