#include <string>

#include <gtest/gtest.h>

#include "launcher/launcher.h"

namespace {

struct quote_case {
    const wchar_t* path;
    const wchar_t* quoted;
};

TEST(quote_path, wraps_in_quotes_and_escapes_every_backslash_and_quote) {
    const quote_case cases[] = {
        {L"c:\\windows\\system32\\javaw.exe", L"\"c:\\\\windows\\\\system32\\\\javaw.exe\""},
        {L"", L"\"\""},
        {L"C:\\Program Files\\Java\\jre\\bin\\javaw.exe",
         L"\"C:\\\\Program Files\\\\Java\\\\jre\\\\bin\\\\javaw.exe\""},
        {L"a\"b", L"\"a\\\"b\""},
        {L"\\\\server\\share\\", L"\"\\\\\\\\server\\\\share\\\\\""},
        {L"C:\\Jäva\\β\\javaw.exe", L"\"C:\\\\Jäva\\\\β\\\\javaw.exe\""},
    };
    for (const quote_case& c : cases) {
        wchar_t out[quoted_path_chars];
        quote_path(c.path, out, quoted_path_chars);
        EXPECT_EQ(std::wstring(out), c.quoted) << c.path;
    }
}

TEST(quote_path, fallback_path_becomes_34_characters) {
    wchar_t out[quoted_path_chars];
    quote_path(L"c:\\windows\\system32\\javaw.exe", out, quoted_path_chars);
    EXPECT_EQ(wcslen(out), 34u);
}

TEST(quote_path, longest_registered_path_fits_the_buffer) {
    // 525 characters of backslashes: the worst a located path can hold.
    std::wstring path(525, L'\\');
    wchar_t out[quoted_path_chars];
    quote_path(path.c_str(), out, quoted_path_chars);
    EXPECT_EQ(wcslen(out), 2u + 2u * 525u);
    EXPECT_EQ(out[0], L'"');
    EXPECT_EQ(out[2u * 525u + 1u], L'"');
}

TEST(quote_path, never_writes_past_a_small_buffer) {
    for (size_t capacity = 1; capacity <= 8; ++capacity) {
        wchar_t out[16];
        wmemset(out, L'#', 16);
        quote_path(L"a\\b\\c", out, capacity);
        EXPECT_LT(wcsnlen(out, 16), capacity);
        for (size_t i = capacity; i < 16; ++i) {
            EXPECT_EQ(out[i], L'#') << "capacity " << capacity << ", index " << i;
        }
    }
}

} // namespace
