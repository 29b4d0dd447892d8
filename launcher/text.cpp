#include "launcher/text.h"

bool copy_text(wchar_t* dst, size_t capacity, const wchar_t* src) {
    if (capacity == 0) {
        return false;
    }
    size_t i = 0;
    for (; src[i] != L'\0'; ++i) {
        if (i + 1 == capacity) {
            dst[i] = L'\0';
            return false;
        }
        dst[i] = src[i];
    }
    dst[i] = L'\0';
    return true;
}

bool append_text(wchar_t* dst, size_t capacity, const wchar_t* src) {
    size_t used = wcsnlen(dst, capacity);
    if (used == capacity || used + wcslen(src) >= capacity) {
        return false;
    }
    return copy_text(dst + used, capacity - used, src);
}
