#include <string>

#include <gtest/gtest.h>

#include "launcher/launcher.h"
#include "tests/support.h"

namespace {

const std::wstring fallback = L"c:\\windows\\system32\\javaw.exe";
const std::string fallback_line = "Unable to find installed JRE, going with fallback.\n";
const std::wstring suffix = L"\\bin\\javaw.exe";

std::vector<registry_entry> operator+(std::vector<registry_entry> a,
                                      const std::vector<registry_entry>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<BYTE> odd_bytes(const std::wstring& text) {
    std::vector<BYTE> bytes = wide_bytes(text, false);
    bytes.push_back('x');
    return bytes;
}

// What a case leaves in the program path: the 64-bit build reads the 64-bit view first, the
// 32-bit build sees only the 32-bit view, through either key.
struct locate_case {
    const char* name;
    std::vector<registry_entry> registry;
    std::wstring path64;
    std::wstring path32;
};

constexpr bool build_is_64_bit = sizeof(void*) == 8;

using find_javaw_test = sandbox_test;

// Runs find_javaw into a buffer full of leftovers, and checks its result, its one line, and that
// it left no key open.
void expect_located(const locate_case& c) {
    SCOPED_TRACE(c.name);
    const std::wstring& expected = build_is_64_bit ? c.path64 : c.path32;
    registry_write_all(c.registry);
    wchar_t dst[program_path_chars];
    wmemset(dst, L'#', program_path_chars);
    begin_capture();
    find_javaw(dst, program_path_chars);
    captured output = end_capture();
    EXPECT_EQ(std::wstring(dst), expected);
    EXPECT_EQ(output.out, expected == fallback ? fallback_line : "");
    EXPECT_EQ(output.err, "");
    // Every key the lookup can open is one the case wrote.
    for (const registry_entry& entry : c.registry) {
        EXPECT_EQ(open_handles(entry.key), 0u)
            << "left open: " << testing::PrintToString(entry.key);
    }
}

void expect_all_located(const std::vector<locate_case>& cases) {
    for (const locate_case& c : cases) {
        expect_located(c);
        leave_sandbox();
        enter_sandbox();
    }
}

// A key opened as the lookup opens it, in the build's own view, shows in one of the two counts.
TEST_F(find_javaw_test, open_handles_sees_a_key_left_open) {
    registry_write_all(registration(L"C:\\jre"));
    auto both = [] { return open_handles(primary_key) + open_handles(secondary_key); };
    EXPECT_EQ(both(), 0u);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, primary_key, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(both(), 1u);
    RegCloseKey(key);
    EXPECT_EQ(both(), 0u);
}

TEST_F(find_javaw_test, lookup_order_views_and_every_fallback_step) {
    const std::wstring p = primary_key;
    const std::wstring s = secondary_key;
    const std::wstring jre64 = L"C:\\Java\\jre64" + suffix;
    const std::wstring jre32 = L"C:\\Java\\jre32" + suffix;
    const std::vector<registry_entry> only32 = registration_in(s, L"C:\\Java\\jre32");
    expect_all_located({
        {"nothing registered", {}, fallback, fallback},
        {"64-bit runtime only", registration_in(p, L"C:\\Java\\jre64"), jre64, fallback},
        {"32-bit runtime only", only32, jre32, jre32},
        {"both runtimes", registration_in(p, L"C:\\Java\\jre64") + only32, jre64, jre32},
        {"primary without CurrentVersion; secondary never read",
         std::vector<registry_entry>{{p, L"", REG_SZ, {}}} + only32, fallback, jre32},
        {"primary without JavaHome; secondary never read",
         std::vector<registry_entry>{{p, L"CurrentVersion", REG_SZ, wide_bytes(L"1.8")},
                                     {p + L"\\1.8", L"", REG_SZ, {}}} +
             only32,
         fallback, jre32},
        {"CurrentVersion names no subkey",
         in_both_views({{p, L"CurrentVersion", REG_SZ, wide_bytes(L"11")},
                        {p + L"\\1.8", L"JavaHome", REG_SZ, wide_bytes(L"C:\\jre")}}),
         fallback, fallback},
        // A real version name and its terminator, padded to 5010 bytes: only the 4096-byte
        // limit on the read makes this fall back.
        {"CurrentVersion longer than 4096 bytes",
         in_both_views({{p, L"CurrentVersion", REG_SZ,
                         wide_bytes(std::wstring(L"1.8\0", 4) + std::wstring(2500, L'v'))},
                        {p + L"\\1.8", L"JavaHome", REG_SZ, wide_bytes(L"C:\\jre")}}),
         fallback, fallback},
        {"registration key without CurrentVersion", in_both_views({{p, L"", REG_SZ, {}}}), fallback,
         fallback},
    });
}

// A registration in both views whose CurrentVersion is "1.8" and whose JavaHome is as given.
std::vector<registry_entry> home_value(DWORD type, const std::vector<BYTE>& data) {
    const std::wstring p = primary_key;
    return in_both_views({{p, L"CurrentVersion", REG_SZ, wide_bytes(L"1.8")},
                          {p + L"\\1.8", L"JavaHome", type, data}});
}

TEST_F(find_javaw_test, home_capacity_is_1024_bytes_not_characters) {
    const std::wstring home511 = L"C:\\" + std::wstring(508, L'j');
    const std::wstring home512 = L"C:\\" + std::wstring(509, L'j');
    expect_all_located({
        {"511 characters and terminator", registration(home511), home511 + suffix,
         home511 + suffix},
        {"512 characters and terminator", registration(home512), fallback, fallback},
        {"512 characters without terminator: 1024 bytes",
         home_value(REG_SZ, wide_bytes(home512, false)), home512 + suffix, home512 + suffix},
    });
    registry_write_all(registration(home511));
    wchar_t dst[program_path_chars];
    find_javaw(dst, program_path_chars);
    EXPECT_EQ(wcslen(dst), 525u);
}

TEST_F(find_javaw_test, stored_data_is_taken_as_is_and_terminated) {
    const std::wstring p = primary_key;
    const std::wstring jre = L"C:\\jre" + suffix;
    expect_all_located({
        {"home without terminator", home_value(REG_SZ, wide_bytes(L"C:\\jre", false)), jre, jre},
        {"home with an odd byte count", home_value(REG_SZ, odd_bytes(L"C:\\jre")), jre, jre},
        {"home as REG_EXPAND_SZ, unexpanded",
         home_value(REG_EXPAND_SZ, wide_bytes(L"%ProgramFiles%\\Java")),
         L"%ProgramFiles%\\Java" + suffix, L"%ProgramFiles%\\Java" + suffix},
        {"home as REG_BINARY", home_value(REG_BINARY, wide_bytes(L"D:\\rt", false)),
         L"D:\\rt" + suffix, L"D:\\rt" + suffix},
        {"home ending in a backslash, not normalised", home_value(REG_SZ, wide_bytes(L"C:\\jre\\")),
         L"C:\\jre\\" + suffix, L"C:\\jre\\" + suffix},
        {"empty home", home_value(REG_SZ, {}), suffix, suffix},
        {"CurrentVersion without terminator",
         in_both_views({{p, L"CurrentVersion", REG_SZ, wide_bytes(L"1.8", false)},
                        {p + L"\\1.8", L"JavaHome", REG_SZ, wide_bytes(L"C:\\jre")}}),
         jre, jre},
        {"CurrentVersion as REG_DWORD holding two characters",
         in_both_views({{p, L"CurrentVersion", REG_DWORD, wide_bytes(L"17", false)},
                        {p + L"\\17", L"JavaHome", REG_SZ, wide_bytes(L"C:\\jre")}}),
         jre, jre},
    });
}

TEST_F(find_javaw_test, a_small_buffer_is_never_overrun) {
    registry_write_all(registration(L"C:\\jre"));
    wchar_t dst[64];
    wmemset(dst, L'#', 64);
    begin_capture();
    find_javaw(dst, 20);
    end_capture();
    EXPECT_EQ(std::wstring(dst), fallback.substr(0, 19));
    for (size_t i = 20; i < 64; ++i) {
        EXPECT_EQ(dst[i], L'#') << i;
    }
}

} // namespace
