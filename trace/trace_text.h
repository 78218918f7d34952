// Bounded text helpers of the trace facility: every write stops at the buffer's end and leaves it terminated.
// The shared records hold UTF-16 (char16_t); formatting works on wchar_t (UTF-16 on Windows, UTF-32 elsewhere).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace qvtrace {

// Length of s up to its terminator, at most cap (a field written by another process may lack the terminator).
size_t BoundedLength(const char16_t* s, size_t cap);
size_t BoundedLength(const wchar_t* s, size_t cap);

// printf-style (C99 wide conventions) into buf of cap characters; always terminated, cut when too long.
void FormatWide(wchar_t* buf, size_t cap, const wchar_t* format, ...);
void FormatWideV(wchar_t* buf, size_t cap, const wchar_t* format, va_list args);

// Whether the text (at most cap characters) ends in a line end.
bool EndsWithNewline(const wchar_t* text, size_t cap);

// Appends text to the terminated buf of cap characters, cutting what does not fit.
void AppendWide(wchar_t* buf, size_t cap, const wchar_t* text);

// Converts at most srcCap units of a (possibly unterminated) UTF-16 field into buf of cap characters.
void Utf16ToWide(const char16_t* src, size_t srcCap, wchar_t* buf, size_t cap);

// Appends wide text to the UTF-16 field dst of cap units (terminated when it was terminated before; a field
// without terminator is treated as full and cut to cap - 1). A pair of surrogates is never split.
void AppendUtf16(char16_t* dst, size_t cap, const wchar_t* text);

// As AppendUtf16 for a field whose first used units are known not to hold a terminator and dst[used] to be
// one (used < cap); returns the new length.
size_t AppendUtf16At(char16_t* dst, size_t cap, size_t used, const wchar_t* text);

// Copies wide text into the UTF-16 field dst of cap units, cut and terminated.
void CopyToUtf16(char16_t* dst, size_t cap, const wchar_t* text);

// UTF-8 for the POSIX outputs and the control tool; invalid units become U+FFFD.
std::string WideToUtf8(const wchar_t* text);
std::wstring Utf8ToWide(const std::string& text);

}  // namespace qvtrace
