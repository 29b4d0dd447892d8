// A stand-in for javaw.exe. Every start appends one record to starts.log beside the program: its
// own path, its working directory, its whole command line and then each argument after the
// program's name as its C runtime splits them (as Java's launcher splits its own, on blanks and
// tabs only). It then carries out the line of standin.txt (beside the program) for this start,
// or the last line when there are fewer: commands separated by " ; ", each one of
//   exit N             end with status N (a signed decimal)
//   crash              write through a null pointer
//   sleep MS           wait
//   print TEXT         write TEXT and a line break to standard output
//   show               write the command line it was started with to standard output
//   speak TEXT         write "TEXT: stdout, C runtime", "TEXT: stderr, C runtime", "TEXT: stdout,
//                      handle" and "TEXT: stderr, handle", each on its stream, through the C
//                      runtime and through the standard handle (as a Java runtime writes)
//   command TEXT       rewrite command_line.txt in the working directory with TEXT
//   javahome VIEW TEXT set JavaHome of the registered version "1.8" (VIEW 64 or 32) to TEXT
// In TEXT, \n stands for a line feed and \\ for a backslash.
//
// Started as "standin --hold FILE" it opens FILE without sharing, writes "held" and keeps it
// open until its standard input ends. Started as "standin --bare none|broken PROGRAM" it starts
// PROGRAM in its own working directory with no standard streams at all, or with standard output
// and standard error a pipe nobody reads, waits for it and ends with its status. Started as
// "standin --spawn PROGRAM" it starts PROGRAM through the C runtime's own start-and-wait and, when
// that fails, reports it as the launcher words a start failure and ends with 1.
#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include <windows.h>

#include "tests/whole/utf8.h"

namespace {

std::wstring own_folder() {
    wchar_t path[4096];
    DWORD n = GetModuleFileNameW(nullptr, path, 4096);
    std::wstring folder(path, n);
    return folder.substr(0, folder.rfind(L'\\'));
}

// Backslashes, tabs, carriage returns and line feeds escaped, so a record stays on one line.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string read_all(const std::wstring& path) {
    std::string data;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        return data;
    }
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) {
        data.append(chunk, n);
    }
    fclose(file);
    return data;
}

void write_all(const std::wstring& path, const std::string& data, const wchar_t* mode) {
    FILE* file = _wfopen(path.c_str(), mode);
    if (file == nullptr) {
        fprintf(stderr, "standin: cannot write %s\n", utf8(path).c_str());
        exit(90);
    }
    fwrite(data.data(), 1, data.size(), file);
    fclose(file);
}

std::vector<std::string> lines_of(const std::string& data) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) {
            end = data.size();
        }
        std::string line = data.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Appends this start's record; returns how many starts came before it.
size_t record_start(const std::wstring& folder, int argc, wchar_t** argv) {
    std::wstring log = folder + L"\\starts.log";
    size_t before = lines_of(read_all(log)).size();
    wchar_t path[4096];
    DWORD n = GetModuleFileNameW(nullptr, path, 4096);
    wchar_t cwd[4096];
    DWORD m = GetCurrentDirectoryW(4096, cwd);
    std::string record = escaped(utf8(std::wstring(path, n))) + "\t" +
                         escaped(utf8(std::wstring(cwd, m))) + "\t" +
                         escaped(utf8(GetCommandLineW()));
    for (int i = 1; i < argc; ++i) {
        record += '\t';
        record += escaped(utf8(argv[i]));
    }
    record += "\n";
    write_all(log, record, L"ab");
    return before;
}

void set_java_home(const std::string& view, const std::string& home) {
    const wchar_t* key = view == "32"
                             ? L"SOFTWARE\\Wow6432Node\\JavaSoft\\Java Runtime Environment\\1.8"
                             : L"SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8";
    HKEY opened = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                        nullptr, &opened, nullptr) != 0) {
        exit(91);
    }
    std::wstring value = wide(home);
    RegSetValueExW(opened, L"JavaHome", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(opened);
}

void write_handle(DWORD which, const std::string& line) {
    DWORD written = 0;
    WriteFile(GetStdHandle(which), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void speak(const std::string& text) {
    printf("%s: stdout, C runtime\n", text.c_str());
    fflush(stdout);
    fprintf(stderr, "%s: stderr, C runtime\n", text.c_str());
    fflush(stderr);
    write_handle(STD_OUTPUT_HANDLE, text + ": stdout, handle\r\n");
    write_handle(STD_ERROR_HANDLE, text + ": stderr, handle\r\n");
}

void carry_out(const std::string& command) {
    size_t blank = command.find(' ');
    std::string verb = command.substr(0, blank);
    std::string rest = blank == std::string::npos ? "" : command.substr(blank + 1);
    if (verb == "exit") {
        fflush(stdout);
        ExitProcess(static_cast<UINT>(strtol(rest.c_str(), nullptr, 10)));
    } else if (verb == "crash") {
        fflush(stdout);
        // Through a pointer the compiler cannot see is null, so it is a real access violation.
        volatile int* volatile target = nullptr;
        *target = 1;
    } else if (verb == "sleep") {
        Sleep(static_cast<DWORD>(atoi(rest.c_str())));
    } else if (verb == "print") {
        printf("%s\n", unescaped(rest).c_str());
        fflush(stdout);
    } else if (verb == "show") {
        printf("javaw.exe started with: %s\n", utf8(GetCommandLineW()).c_str());
        fflush(stdout);
    } else if (verb == "speak") {
        speak(unescaped(rest));
    } else if (verb == "command") {
        write_all(L"command_line.txt", unescaped(rest), L"wb");
    } else if (verb == "javahome") {
        size_t split = rest.find(' ');
        set_java_home(rest.substr(0, split), unescaped(rest.substr(split + 1)));
    } else if (!verb.empty()) {
        fprintf(stderr, "standin: unknown command %s\n", verb.c_str());
        exit(92);
    }
}

int hold(const wchar_t* name) {
    HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 93;
    }
    printf("held\n");
    fflush(stdout);
    while (getchar() != EOF) {
    }
    CloseHandle(file);
    return 0;
}

int run_bare(const wchar_t* mode, const wchar_t* program) {
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    BOOL inherit = FALSE;
    if (wcscmp(mode, L"broken") == 0) {
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        HANDLE reader = nullptr;
        HANDLE writer = nullptr;
        CreatePipe(&reader, &writer, &inheritable, 0);
        CloseHandle(reader);
        start.hStdOutput = writer;
        start.hStdError = writer;
        inherit = TRUE;
    }
    std::wstring line = L"\"" + std::wstring(program) + L"\"";
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(program, line.data(), nullptr, nullptr, inherit, DETACHED_PROCESS, nullptr,
                        nullptr, &start, &child)) {
        return 94;
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    return static_cast<int>(status);
}

int spawn(const wchar_t* program) {
    int status = static_cast<int>(_wspawnl(_P_WAIT, program, L"\"x\"", L"-jar a", nullptr));
    if (status == -1) {
        perror("Unable to execute quorvel");
        return 1;
    }
    return status;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[1], L"--hold") == 0) {
        return hold(argv[2]);
    }
    if (argc == 4 && wcscmp(argv[1], L"--bare") == 0) {
        return run_bare(argv[2], argv[3]);
    }
    if (argc == 3 && wcscmp(argv[1], L"--spawn") == 0) {
        return spawn(argv[2]);
    }
    std::wstring folder = own_folder();
    size_t n = record_start(folder, argc, argv);
    std::vector<std::string> script = lines_of(read_all(folder + L"\\standin.txt"));
    if (script.empty()) {
        return 0;
    }
    std::string line = script[n < script.size() ? n : script.size() - 1];
    size_t start = 0;
    for (;;) {
        size_t end = line.find(" ; ", start);
        carry_out(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 3;
    }
    return 0;
}
