#include "launcher/launcher.h"
#include "launcher/text.h"
#include "platform/platform.h"

namespace {

const wchar_t command_file[] = L"command_line.txt";
const wchar_t default_command[] = L"-jar Quorvel.jar --quorvel";

} // namespace

void read_command_line(wchar_t* dst, int size) {
    FILE* file = text_open(command_file);
    if (file == nullptr) {
        out_error("Unable to open command_line.txt (going with default: -jar Quorvel.jar)");
        copy_text(dst, static_cast<size_t>(size), default_command);
        return;
    }
    // A file that yields no line would otherwise hand the child whatever the buffer held.
    if (!text_read_line(file, dst, size)) {
        copy_text(dst, static_cast<size_t>(size), default_command);
    }
    out_wide(L"Going with command line: %ls\n", dst);
    text_close(file);
}
