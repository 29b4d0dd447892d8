#include "tests/support.h"

#include <direct.h>
#include <stdio.h>

#include <winternl.h>

#include <gtest/gtest.h>

#include "tests/registry_value.h"

const wchar_t primary_key[] = L"SOFTWARE\\JavaSoft\\Java Runtime Environment";
const wchar_t secondary_key[] = L"SOFTWARE\\Wow6432Node\\JavaSoft\\Java Runtime Environment";

namespace {

const wchar_t scratch_root[] = L"QuorvelLauncherTests";
HKEY machine = nullptr;
wchar_t original_dir[MAX_PATH];
wchar_t sandbox_dir[MAX_PATH];

std::wstring scratch_name() {
    return std::wstring(scratch_root) + L"\\" + std::to_wstring(GetCurrentProcessId());
}

void remove_tree(const wchar_t* dir) {
    std::wstring pattern = std::wstring(dir) + L"\\*";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::wstring path = std::wstring(dir) + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(path.c_str());
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(dir);
}

} // namespace

std::vector<BYTE> wide_bytes(const std::wstring& text, bool terminated) {
    size_t bytes = (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t);
    const BYTE* start = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(start, start + bytes);
}

void enter_sandbox() {
    RegDeleteTreeW(HKEY_CURRENT_USER, scratch_name().c_str());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, scratch_name().c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &machine, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine), ERROR_SUCCESS);
    // As on any 64-bit Windows: its presence makes 32-bit programs see the 32-bit view.
    registry_write({L"SOFTWARE\\Wow6432Node", L"", REG_SZ, {}});

    GetCurrentDirectoryW(MAX_PATH, original_dir);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    swprintf(sandbox_dir, MAX_PATH, L"%lsquorvel-test-%lu", temp, GetCurrentProcessId());
    remove_tree(sandbox_dir);
    ASSERT_TRUE(CreateDirectoryW(sandbox_dir, nullptr));
    ASSERT_TRUE(SetCurrentDirectoryW(sandbox_dir));
}

void leave_sandbox() {
    SetCurrentDirectoryW(original_dir);
    remove_tree(sandbox_dir);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(machine);
    RegDeleteTreeW(HKEY_CURRENT_USER, scratch_name().c_str());
}

void registry_write(const registry_entry& entry) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(machine, entry.key.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (!entry.name.empty()) {
        DWORD stored = 0;
        EXPECT_EQ(set_value_exactly(key, entry.name.c_str(), entry.type, entry.data, &stored),
                  ERROR_SUCCESS);
        EXPECT_EQ(stored, entry.data.size())
            << "bytes stored for " << testing::PrintToString(entry.name);
    }
    RegCloseKey(key);
}

void registry_write_all(const std::vector<registry_entry>& entries) {
    for (const registry_entry& entry : entries) {
        registry_write(entry);
    }
}

std::vector<registry_entry> registration_in(const std::wstring& key, const std::wstring& home) {
    return {{key, L"CurrentVersion", REG_SZ, wide_bytes(L"1.8")},
            {key + L"\\1.8", L"JavaHome", REG_SZ, wide_bytes(home)}};
}

std::vector<registry_entry> in_both_views(const std::vector<registry_entry>& entries) {
    const std::wstring primary = primary_key;
    std::vector<registry_entry> both = entries;
    for (const registry_entry& entry : entries) {
        if (entry.key.rfind(primary, 0) == 0) {
            registry_entry copy = entry;
            copy.key = secondary_key + entry.key.substr(primary.size());
            both.push_back(copy);
        }
    }
    return both;
}

std::vector<registry_entry> registration(const std::wstring& home) {
    return in_both_views(registration_in(primary_key, home));
}

void write_file(const char* name, const std::string& bytes) {
    FILE* file = fopen(name, "wb");
    ASSERT_NE(file, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

// Wine's GetProcessHandleCount answers 0, and its walk of the system's handle list crashes the
// Wine server when another process has just been created, so the handles are counted on the key.
ULONG open_handles(const std::wstring& key) {
    HKEY probe = nullptr;
    if (RegOpenKeyExW(machine, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &probe) !=
        ERROR_SUCCESS) {
        return 0;
    }
    PUBLIC_OBJECT_BASIC_INFORMATION info = {};
    NTSTATUS status = NtQueryObject(probe, ObjectBasicInformation, &info, sizeof info, nullptr);
    RegCloseKey(probe);
    if (status != 0) {
        ADD_FAILURE() << "the key's handles cannot be counted";
        return 0;
    }
    return info.HandleCount - 1;
}

void begin_capture() {
    fflush(stdout);
    fflush(stderr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
}

captured end_capture() {
    fflush(stdout);
    fflush(stderr);
    captured result;
    result.out = testing::internal::GetCapturedStdout();
    result.err = testing::internal::GetCapturedStderr();
    return result;
}
