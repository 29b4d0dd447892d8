#include <string>

#include <direct.h>
#include <errno.h>
#include <string.h>

#include <gtest/gtest.h>

#include "launcher/launcher.h"
#include "tests/support.h"

namespace {

const std::wstring default_text = L"-jar Quorvel.jar --quorvel";
const std::string open_failure =
    "Unable to open command_line.txt (going with default: -jar Quorvel.jar): ";

using read_command_line_test = sandbox_test;

// Reads into a buffer full of leftovers; returns what it holds afterwards.
std::wstring read_text(captured* output) {
    wchar_t dst[command_text_chars];
    wmemset(dst, L'#', command_text_chars);
    begin_capture();
    read_command_line(dst, command_text_chars);
    *output = end_capture();
    return std::wstring(dst, wcsnlen(dst, command_text_chars));
}

struct file_case {
    const char* name;
    std::string bytes;
    std::wstring text;
    std::string report; // what follows "Going with command line: "
};

TEST_F(read_command_line_test, first_line_of_the_file_as_it_stands) {
    const std::string line1023(1023, 'a');
    const file_case cases[] = {
        {"line break not kept", "-jar Quorvel.jar --quorvel\n", L"-jar Quorvel.jar --quorvel",
         "-jar Quorvel.jar --quorvel\n"},
        {"no line break", "-Xmx1g -jar app.jar", L"-Xmx1g -jar app.jar", "-Xmx1g -jar app.jar\n"},
        {"several lines", "-jar one.jar\n-jar two.jar\n", L"-jar one.jar", "-jar one.jar\n"},
        {"CRLF not kept", "-jar a.jar\r\nnext\r\n", L"-jar a.jar", "-jar a.jar\n"},
        {"quotes and blanks kept", "-cp \"C:\\My Apps\\x.jar\"  Main\n",
         L"-cp \"C:\\My Apps\\x.jar\"  Main", "-cp \"C:\\My Apps\\x.jar\"  Main\n"},
        {"UTF-8 byte-order mark skipped", "\xEF\xBB\xBF-jar b.jar", L"-jar b.jar", "-jar b.jar\n"},
        {"UTF-16LE byte-order mark", std::string("\xFF\xFE-\0j\0a\0r\0", 10), L"-jar", "-jar\n"},
        {"1023 characters cut before the line feed", line1023 + "\n", std::wstring(1023, L'a'),
         line1023 + "\n"},
        {"longer line cut after 1023 characters", line1023 + "bcd\nnext\n",
         std::wstring(1023, L'a'), line1023 + "\n"},
        {"empty file gives the default", "", default_text, "-jar Quorvel.jar --quorvel\n"},
        {"byte-order mark alone gives the default", "\xEF\xBB\xBF", default_text,
         "-jar Quorvel.jar --quorvel\n"},
        {"empty first line gives the default", "\n-jar late.jar\n", default_text,
         "-jar Quorvel.jar --quorvel\n"},
    };
    for (const file_case& c : cases) {
        SCOPED_TRACE(c.name);
        write_file("command_line.txt", c.bytes);
        captured output;
        EXPECT_EQ(read_text(&output), c.text);
        EXPECT_EQ(output.out, "Going with command line: " + c.report);
        EXPECT_EQ(output.err, "");
    }
}

TEST_F(read_command_line_test, text_beyond_latin_reaches_the_buffer) {
    // "é", "€" and U+1F600, which needs a surrogate pair.
    write_file("command_line.txt", "-Dname=\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 -jar q.jar\n");
    captured output;
    EXPECT_EQ(read_text(&output), L"-Dname=\u00e9\u20ac\U0001F600 -jar q.jar");
    EXPECT_EQ(output.out, "Going with command line: -Dname=\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 "
                          "-jar q.jar\n")
        << "the line is reported whole, in UTF-8";
}

TEST_F(read_command_line_test, missing_file_gives_the_default_with_the_message) {
    captured output;
    EXPECT_EQ(read_text(&output), default_text);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, open_failure + strerror(ENOENT) + "\n");
}

TEST_F(read_command_line_test, folder_in_place_of_the_file_gives_the_default) {
    ASSERT_EQ(_wmkdir(L"command_line.txt"), 0);
    captured output;
    EXPECT_EQ(read_text(&output), default_text);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err.rfind(open_failure, 0), 0u) << output.err;
}

TEST_F(read_command_line_test, file_is_read_again_on_every_call) {
    captured output;
    write_file("command_line.txt", "-jar first.jar");
    EXPECT_EQ(read_text(&output), L"-jar first.jar");
    write_file("command_line.txt", "-jar second.jar");
    EXPECT_EQ(read_text(&output), L"-jar second.jar");
    ASSERT_EQ(_wremove(L"command_line.txt"), 0);
    EXPECT_EQ(read_text(&output), default_text);
}

TEST_F(read_command_line_test, file_is_closed_after_reading) {
    write_file("command_line.txt", "-jar a.jar\n");
    captured output;
    read_text(&output);
    EXPECT_EQ(_wremove(L"command_line.txt"), 0) << "the file is still open";
}

} // namespace
