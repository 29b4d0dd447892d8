#include <string>

#include <gtest/gtest.h>

#include "launcher/text.h"

namespace {

struct copy_case {
    const wchar_t* src;
    size_t capacity;
    bool fits;
    const wchar_t* result;
};

TEST(copy_text, fits_or_is_cut_without_writing_past_the_buffer) {
    const copy_case cases[] = {
        {L"abc", 4, true, L"abc"},
        {L"abc", 3, false, L"ab"},
        {L"abc", 1, false, L""},
        {L"", 1, true, L""},
    };
    for (const copy_case& c : cases) {
        wchar_t buffer[8];
        wmemset(buffer, L'#', 8);
        EXPECT_EQ(copy_text(buffer, c.capacity, c.src), c.fits) << c.src << " in " << c.capacity;
        EXPECT_EQ(std::wstring(buffer), c.result);
        for (size_t i = c.capacity; i < 8; ++i) {
            EXPECT_EQ(buffer[i], L'#') << "written past the buffer at " << i;
        }
    }
}

struct append_case {
    const wchar_t* start;
    const wchar_t* tail;
    size_t capacity;
    bool fits;
    const wchar_t* result;
};

TEST(append_text, appends_only_what_fits_whole) {
    const append_case cases[] = {
        {L"ab", L"cd", 5, true, L"abcd"},
        {L"ab", L"cd", 4, false, L"ab"},
        {L"", L"", 1, true, L""},
        {L"abcd", L"e", 5, false, L"abcd"},
    };
    for (const append_case& c : cases) {
        wchar_t buffer[8];
        wmemset(buffer, L'#', 8);
        wcscpy(buffer, c.start);
        EXPECT_EQ(append_text(buffer, c.capacity, c.tail), c.fits) << c.start << "+" << c.tail;
        EXPECT_EQ(std::wstring(buffer), c.result);
    }
}

TEST(append_text, refuses_a_buffer_holding_no_terminator) {
    wchar_t buffer[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_FALSE(append_text(buffer, 4, L""));
}

} // namespace
