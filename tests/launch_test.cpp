#include <climits>
#include <errno.h>
#include <string.h>
#include <string>

#include <gtest/gtest.h>

#include "launcher/launcher.h"
#include "tests/process_double.h"
#include "tests/support.h"

namespace {

const std::string fallback_line = "Unable to find installed JRE, going with fallback.\n";
const std::wstring fallback = L"c:\\windows\\system32\\javaw.exe";
const std::wstring fallback_quoted = L"\"c:\\\\windows\\\\system32\\\\javaw.exe\"";

using launch_test = sandbox_test;

struct judge_case {
    int status;
    next_step step;
};

TEST(judge_status, zero_finishes_minus_one_fails_anything_else_restarts) {
    const judge_case cases[] = {
        {0, step_finish},        {-1, step_start_failed},     {1, step_restart},
        {7, step_restart},       {-1073741819, step_restart}, {-2, step_restart},
        {INT_MIN, step_restart}, {INT_MAX, step_restart},     {259, step_restart},
    };
    for (const judge_case& c : cases) {
        EXPECT_EQ(judge_status(c.status), c.step) << c.status;
    }
}

struct run_case {
    const char* name;
    std::vector<int> statuses;
    int error;
    int exit_status;
    std::string tail_out; // what the last cycle's start report is followed by on stdout
    std::string err;
};

// One cycle's lines with no registration and command_line.txt holding "-jar app.jar".
std::string cycle_lines() {
    return fallback_line + "Going with command line: -jar app.jar\n" +
           "_wspawnl(_P_WAIT, c:\\windows\\system32\\javaw.exe, "
           "\"c:\\\\windows\\\\system32\\\\javaw.exe\", \"-jar app.jar\", NULL)\n";
}

TEST_F(launch_test, cycles_until_the_child_returns_zero_or_cannot_start) {
    const run_case cases[] = {
        {"zero the first time", {0}, 0, 0, "", ""},
        {"restarts, a crash among them, then zero", {1, 7, -1073741819, 0}, 0, 0, "", ""},
        {"start failure with EINVAL",
         {-1},
         EINVAL,
         1,
         "Invalid mode?\n",
         "Unable to execute quorvel: " + std::string(strerror(EINVAL)) + "\n"},
        {"start failure with ENOENT",
         {-1},
         ENOENT,
         1,
         "",
         "Unable to execute quorvel: " + std::string(strerror(ENOENT)) + "\n"},
        {"child returns -1 after a restart", {3, -1}, 0, 1, "", "Unable to execute quorvel: "},
    };
    write_file("command_line.txt", "-jar app.jar");
    for (const run_case& c : cases) {
        SCOPED_TRACE(c.name);
        script_process({c.statuses, c.error, nullptr, false});
        begin_capture();
        int exit_status = run_launch_cycles();
        captured output = end_capture();
        EXPECT_EQ(exit_status, c.exit_status);
        ASSERT_EQ(recorded_starts().size(), c.statuses.size());
        std::string expected;
        for (size_t i = 0; i < c.statuses.size(); ++i) {
            expected += cycle_lines();
            if (i + 1 < c.statuses.size()) {
                expected += "Return value: " + std::to_string(c.statuses[i]) + "\n";
            }
        }
        EXPECT_EQ(output.out, expected + c.tail_out);
        EXPECT_EQ(output.err.rfind(c.err, 0), 0u) << output.err;
        if (c.err.empty()) {
            EXPECT_EQ(output.err, "");
        }
    }
}

TEST_F(launch_test, child_gets_the_program_quoted_path_and_command_text) {
    registry_write_all(registration(L"C:\\Program Files\\Java\\jre"));
    write_file("command_line.txt", "-Xmx2g -jar \"My App.jar\" --quorvel\n");
    script_process({{0}, 0, nullptr, false});
    begin_capture();
    run_launch_cycles();
    captured output = end_capture();
    ASSERT_EQ(recorded_starts().size(), 1u);
    const recorded_start& start = recorded_starts()[0];
    EXPECT_EQ(start.file, L"C:\\Program Files\\Java\\jre\\bin\\javaw.exe");
    EXPECT_EQ(start.first, L"\"C:\\\\Program Files\\\\Java\\\\jre\\\\bin\\\\javaw.exe\"");
    EXPECT_EQ(start.second, L"-Xmx2g -jar \"My App.jar\" --quorvel");
    EXPECT_EQ(output.out, "Going with command line: -Xmx2g -jar \"My App.jar\" --quorvel\n"
                          "_wspawnl(_P_WAIT, C:\\Program Files\\Java\\jre\\bin\\javaw.exe, "
                          "\"C:\\\\Program Files\\\\Java\\\\jre\\\\bin\\\\javaw.exe\", "
                          "\"-Xmx2g -jar \"My App.jar\" --quorvel\", NULL)\n");
}

TEST_F(launch_test, default_command_and_fallback_path) {
    script_process({{0}, 0, nullptr, false});
    begin_capture();
    run_launch_cycles();
    end_capture();
    ASSERT_EQ(recorded_starts().size(), 1u);
    EXPECT_EQ(recorded_starts()[0].file, fallback);
    EXPECT_EQ(recorded_starts()[0].first, fallback_quoted);
    EXPECT_EQ(recorded_starts()[0].first.size(), 34u);
    EXPECT_EQ(recorded_starts()[0].second, L"-jar Quorvel.jar --quorvel");
}

TEST_F(launch_test, registry_and_file_are_read_again_before_every_start) {
    write_file("command_line.txt", "-jar old.jar\n");
    process_script script{{1, 1, 0}, 0, nullptr, false};
    script.on_start = [](size_t n) {
        if (n == 0) {
            registry_write_all(registration(L"C:\\jre-new"));
            write_file("command_line.txt", "-jar new.jar\n");
        }
        if (n == 1) {
            write_file("command_line.txt", "");
        }
    };
    script_process(script);
    begin_capture();
    EXPECT_EQ(run_launch_cycles(), 0);
    end_capture();
    const std::vector<recorded_start>& starts = recorded_starts();
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[0].file, fallback);
    EXPECT_EQ(starts[0].second, L"-jar old.jar");
    EXPECT_EQ(starts[1].file, L"C:\\jre-new\\bin\\javaw.exe");
    EXPECT_EQ(starts[1].second, L"-jar new.jar");
    EXPECT_EQ(starts[2].second, L"-jar Quorvel.jar --quorvel");
}

TEST_F(launch_test, failed_allocation_is_reported_and_ends_with_one) {
    script_process({{}, 0, nullptr, true});
    begin_capture();
    EXPECT_EQ(run_launch_cycles(), 1);
    captured output = end_capture();
    EXPECT_TRUE(recorded_starts().empty());
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err,
              "Unable to allocate the launcher's buffers: " + std::string(strerror(ENOMEM)) + "\n");
}

} // namespace
