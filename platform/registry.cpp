#include "platform/platform.h"

#include <windows.h>

registry_key registry_machine() {
    return HKEY_LOCAL_MACHINE;
}

long registry_open(registry_key parent, const wchar_t* name, registry_key* out) {
    HKEY key = nullptr;
    long result = RegOpenKeyExW(static_cast<HKEY>(parent), name, 0, KEY_READ, &key);
    *out = key;
    return result;
}

long registry_read(registry_key key, const wchar_t* name, void* data, unsigned long* bytes) {
    DWORD type = 0;
    DWORD count = *bytes;
    long result = RegQueryValueExW(static_cast<HKEY>(key), name, nullptr, &type,
                                   static_cast<BYTE*>(data), &count);
    *bytes = count;
    return result;
}

void registry_close(registry_key key) {
    RegCloseKey(static_cast<HKEY>(key));
}
