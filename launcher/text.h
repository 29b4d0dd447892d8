// Bounded wide-string copies: nothing is written past a buffer, whatever the source holds.
#pragma once

#include <stddef.h>
#include <wchar.h>

// Copies src into dst (capacity wide characters); false, with dst cut short but terminated,
// when src does not fit.
bool copy_text(wchar_t* dst, size_t capacity, const wchar_t* src);

// Appends src to the terminated text in dst; false, with dst unchanged, when it does not fit.
bool append_text(wchar_t* dst, size_t capacity, const wchar_t* src);
