#include "launcher/launcher.h"
#include "launcher/text.h"
#include "platform/platform.h"

namespace {

const wchar_t primary_key[] = L"SOFTWARE\\JavaSoft\\Java Runtime Environment";
const wchar_t secondary_key[] = L"SOFTWARE\\Wow6432Node\\JavaSoft\\Java Runtime Environment";
const wchar_t javaw_suffix[] = L"\\bin\\javaw.exe";
const wchar_t fallback_path[] = L"c:\\windows\\system32\\javaw.exe";

// The version name may take 4096 bytes of an 8192-byte buffer, leaving room for a terminator.
constexpr unsigned long version_bytes = 4096;
constexpr size_t version_chars = 4096;

// Reads a string value into dst, taking whatever was stored as whole UTF-16 units and
// terminating them, since the registry does not guarantee a terminator.
bool read_string(registry_key key, const wchar_t* name, wchar_t* dst, unsigned long bytes,
                 size_t dst_chars) {
    unsigned long count = bytes;
    if (registry_read(key, name, dst, &count) != 0) {
        return false;
    }
    size_t units = count / sizeof(wchar_t);
    if (units >= dst_chars) {
        return false;
    }
    dst[units] = L'\0';
    return true;
}

// Opens the primary registration or, only when that key is missing, the secondary one.
bool open_registration(registry_key* out) {
    return registry_open(registry_machine(), primary_key, out) == 0 ||
           registry_open(registry_machine(), secondary_key, out) == 0;
}

// Reads the current version's home folder from an opened registration into dst.
bool read_home(registry_key registration, wchar_t* dst, unsigned size) {
    wchar_t version[version_chars];
    if (!read_string(registration, L"CurrentVersion", version, version_bytes, version_chars)) {
        return false;
    }
    registry_key version_key = nullptr;
    if (registry_open(registration, version, &version_key) != 0) {
        return false;
    }
    bool found = read_string(version_key, L"JavaHome", dst, size, size);
    registry_close(version_key);
    return found;
}

bool locate_registered(wchar_t* dst, unsigned size) {
    registry_key registration = nullptr;
    if (!open_registration(&registration)) {
        return false;
    }
    bool found = read_home(registration, dst, size);
    registry_close(registration);
    return found && append_text(dst, size, javaw_suffix);
}

} // namespace

void find_javaw(wchar_t* dst, unsigned size) {
    if (locate_registered(dst, size)) {
        return;
    }
    out_wide(L"Unable to find installed JRE, going with fallback.\n");
    copy_text(dst, size, fallback_path);
}
