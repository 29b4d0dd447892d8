#include "launcher/launcher.h"
#include "launcher/text.h"
#include "platform/platform.h"

namespace {

const wchar_t command_file[] = L"command_line.txt";
const wchar_t default_command[] = L"-jar Quorvel.jar --quorvel";

void use_default(wchar_t* dst, int size) {
    copy_text(dst, static_cast<size_t>(size), default_command);
}

// The failure line first: it carries the error number of the failed step.
void fall_back(const char* failure, wchar_t* dst, int size) {
    out_error(failure);
    use_default(dst, size);
}

} // namespace

void read_command_line(wchar_t* dst, int size) {
    FILE* file = text_open(command_file);
    if (file == nullptr) {
        fall_back("Unable to open command_line.txt (going with default: -jar Quorvel.jar)", dst,
                  size);
        return;
    }
    text_read got = text_read_line(file, dst, size);
    // A read that failed (a file not saved as UTF-8, on Windows) must not drop the user's
    // options without a word.
    if (got == text_failed) {
        fall_back("Unable to read command_line.txt (going with default: -jar Quorvel.jar)", dst,
                  size);
        text_close(file);
        return;
    }
    // A file that yields no line would otherwise hand the child whatever the buffer held.
    if (got == text_end) {
        use_default(dst, size);
    }
    out_wide(L"Going with command line: %ls\n", dst);
    text_close(file);
}
