// Test support: a private stand-in for HKEY_LOCAL_MACHINE, a scratch working directory, and
// captured standard streams.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

extern const wchar_t primary_key[];
extern const wchar_t secondary_key[];

// One value written below the stand-in machine root: its key's path, name, type and bytes. The
// path is taken literally, in the 64-bit view: primary_key is where a 64-bit runtime registers,
// secondary_key where a 32-bit one does.
struct registry_entry {
    std::wstring key;
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
};

// The bytes of a wide string, with its terminator unless told otherwise.
std::vector<BYTE> wide_bytes(const std::wstring& text, bool terminated = true);

// Points HKEY_LOCAL_MACHINE of this process at an empty scratch key, and a fresh scratch working
// directory, for the life of the test; undone in teardown.
void enter_sandbox();
void leave_sandbox();

// A test that runs in the sandbox.
class sandbox_test : public testing::Test {
  protected:
    void SetUp() override {
        enter_sandbox();
    }
    void TearDown() override {
        leave_sandbox();
    }
};
void registry_write(const registry_entry& entry);
void registry_write_all(const std::vector<registry_entry>& entries);
// A complete registration below key: CurrentVersion naming a subkey whose JavaHome is home.
std::vector<registry_entry> registration_in(const std::wstring& key, const std::wstring& home);
// The entries below primary_key, and the same again below secondary_key.
std::vector<registry_entry> in_both_views(const std::vector<registry_entry>& entries);
// The same registration in both views, so that either build finds it.
std::vector<registry_entry> registration(const std::wstring& home);

void write_file(const char* name, const std::string& bytes);
// Handles open on the key at this path below the stand-in machine root (64-bit view), not
// counting the one taken to look; 0 when there is no such key.
ULONG open_handles(const std::wstring& key);

// Output of the launcher's streams between begin_capture and the end_capture calls.
void begin_capture();
struct captured {
    std::string out;
    std::string err;
};
captured end_capture();
