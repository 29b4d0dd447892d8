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

// The line break that ends the first line belongs to the file, not to the command: Java splits
// its command line on blanks and tabs only, so a line feed handed on would end up inside the
// last argument (an archive name no file has). A carriage return before it goes too: text mode
// already reads CR LF as a line feed, so this is what an editor's CR CR LF leaves.
void drop_line_break(wchar_t* text) {
    size_t n = wcslen(text);
    if (n > 0 && text[n - 1] == L'\n') {
        text[--n] = L'\0';
        if (n > 0 && text[n - 1] == L'\r') {
            text[n - 1] = L'\0';
        }
    }
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
    if (got == text_line) {
        drop_line_break(dst);
    }
    // A file that yields no line would otherwise hand the child whatever the buffer held, and an
    // empty first line would start Java with no arguments, which only shows its usage.
    if (got == text_end || dst[0] == L'\0') {
        use_default(dst, size);
    }
    out_wide(L"Going with command line: %ls\n", dst);
    text_close(file);
}
