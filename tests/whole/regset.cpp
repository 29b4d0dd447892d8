// Writes the registry for a whole-program test, in either view regardless of its own build.
// Reads lines from standard input, fields separated by tabs:
//   clear                          remove the JavaSoft keys from both views
//   VIEW  KEY  NAME  TYPE  HEX     set value NAME of HKLM\KEY (created if need be) to the bytes
//   VIEW  KEY                      create HKLM\KEY
// VIEW is 64 or 32; TYPE is the registry type's number; HEX the data, two digits a byte.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <windows.h>

#include "tests/registry_value.h"
#include "tests/whole/utf8.h"

namespace {

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t end = line.find('\t', start);
        fields.push_back(line.substr(start, end - start));
        if (end == std::string::npos) {
            return fields;
        }
        start = end + 1;
    }
}

REGSAM view_flag(const std::string& view) {
    return view == "32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

// Deletes a key and all below it, named in the 64-bit view whatever this program's own view.
bool delete_tree(const wchar_t* path) {
    HKEY key = nullptr;
    LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key);
    if (r == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    if (r != 0) {
        return false;
    }
    r = RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    return r == 0 && RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY, 0) == 0;
}

int clear() {
    const wchar_t* keys[] = {L"SOFTWARE\\JavaSoft", L"SOFTWARE\\Wow6432Node\\JavaSoft"};
    for (const wchar_t* key : keys) {
        if (!delete_tree(key)) {
            fprintf(stderr, "regset: cannot clear %ls\n", key);
            return 1;
        }
    }
    return 0;
}

int apply(const std::vector<std::string>& f) {
    HKEY key = nullptr;
    LONG r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(f[1]).c_str(), 0, nullptr, 0,
                             KEY_ALL_ACCESS | view_flag(f[0]), nullptr, &key, nullptr);
    if (r != 0) {
        fprintf(stderr, "regset: cannot create %s (%ld)\n", f[1].c_str(), r);
        return 1;
    }
    DWORD stored = 0;
    DWORD bytes = 0;
    if (f.size() >= 5) {
        std::vector<BYTE> data;
        for (size_t i = 0; i + 1 < f[4].size(); i += 2) {
            data.push_back(static_cast<BYTE>(strtoul(f[4].substr(i, 2).c_str(), nullptr, 16)));
        }
        bytes = static_cast<DWORD>(data.size());
        r = set_value_exactly(key, wide(f[2]).c_str(), strtoul(f[3].c_str(), nullptr, 10), data,
                              &stored);
    }
    RegCloseKey(key);
    if (r != 0) {
        fprintf(stderr, "regset: cannot set %s (%ld)\n", f[2].c_str(), r);
        return 1;
    }
    if (stored != bytes) {
        fprintf(stderr, "regset: %s stored as %lu bytes, not %lu\n", f[2].c_str(), stored, bytes);
        return 1;
    }
    return 0;
}

} // namespace

int main() {
    char buffer[65536];
    while (fgets(buffer, sizeof buffer, stdin) != nullptr) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        std::vector<std::string> f = fields_of(line);
        int r = f[0] == "clear" ? clear() : apply(f);
        if (r != 0) {
            return r;
        }
    }
    return 0;
}
