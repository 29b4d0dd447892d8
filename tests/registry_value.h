// Registry values written with exactly the bytes a test lists, for the tests' registry writers.
#pragma once

#include <vector>

#include <windows.h>

// RegSetValueExW adds a terminator the caller left out of string data when the unit after the
// data is zero: a copy with a non-zero unit after it keeps the stored bytes exactly those given.
// Returns RegSetValueExW's result; *stored is the size the registry holds afterwards.
inline LONG set_value_exactly(HKEY key, const wchar_t* name, DWORD type,
                              const std::vector<BYTE>& data, DWORD* stored) {
    std::vector<BYTE> padded = data;
    padded.insert(padded.end(), {0xff, 0xff});
    LONG result =
        RegSetValueExW(key, name, 0, type, padded.data(), static_cast<DWORD>(data.size()));
    *stored = 0;
    RegQueryValueExW(key, name, nullptr, nullptr, nullptr, stored);
    return result;
}
