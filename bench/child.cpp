// The benchmark's child, installed as javaw.exe. Beside it, bench.txt holds the number of
// starts N and, optionally, start numbers at which to pause; count.txt counts the starts. Each
// start ends with 1, the Nth with 0. At a pause it writes paused-K beside itself and waits
// until resume-K appears there (60 s at most), so that the launcher can be looked at while it
// waits.
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <windows.h>

namespace {

wchar_t folder[4096];

void path_of(const wchar_t* name, wchar_t* out) {
    swprintf(out, 4096, L"%ls\\%ls", folder, name);
}

long read_number(const wchar_t* name) {
    wchar_t path[4096];
    path_of(name, path);
    FILE* file = _wfopen(path, L"r");
    long n = 0;
    if (file != nullptr) {
        if (fscanf(file, "%ld", &n) != 1) {
            n = 0;
        }
        fclose(file);
    }
    return n;
}

void write_number(const wchar_t* name, long n) {
    wchar_t path[4096];
    path_of(name, path);
    FILE* file = _wfopen(path, L"w");
    if (file == nullptr) {
        exit(4);
    }
    fprintf(file, "%ld\n", n);
    fclose(file);
}

bool exists(const wchar_t* name) {
    wchar_t path[4096];
    path_of(name, path);
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// Reads "N [K ...]": the number of starts, then the starts to pause at.
bool pauses_at(long start, long* total) {
    wchar_t path[4096];
    path_of(L"bench.txt", path);
    FILE* file = _wfopen(path, L"r");
    if (file == nullptr || fscanf(file, "%ld", total) != 1) {
        exit(3);
    }
    bool pause = false;
    long k = 0;
    while (fscanf(file, "%ld", &k) == 1) {
        pause = pause || k == start;
    }
    fclose(file);
    return pause;
}

void pause_here(long start) {
    wchar_t paused[64];
    wchar_t resume[64];
    swprintf(paused, 64, L"paused-%ld", start);
    swprintf(resume, 64, L"resume-%ld", start);
    write_number(paused, start);
    for (int i = 0; i < 6000 && !exists(resume); ++i) {
        Sleep(10);
    }
}

} // namespace

int wmain() {
    DWORD n = GetModuleFileNameW(nullptr, folder, 4096);
    while (n > 0 && folder[n - 1] != L'\\') {
        --n;
    }
    folder[n > 0 ? n - 1 : 0] = L'\0';
    long start = read_number(L"count.txt") + 1;
    write_number(L"count.txt", start);
    long total = 0;
    if (pauses_at(start, &total)) {
        pause_here(start);
    }
    return start >= total ? 0 : 1;
}
