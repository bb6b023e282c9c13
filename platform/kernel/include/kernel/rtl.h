// Run-time library: counted-string routines, integer conversions, memory
// helpers, and the C-library string routines drivers call with Windows
// semantics (_vsnprintf) or over 16-bit characters (wcslen, wcschr).
// Character set: ANSI text is taken as Latin-1 (one byte = U+0000..U+00FF);
// case mapping covers ASCII and Latin-1.
#pragma once

#include <cstdarg>
#include <cstring>

#include "kernel/ntstatus.h"
#include "kernel/types.h"

using PCANSI_STRING = const ANSI_STRING*;

// Largest byte count a counted string can hold.
constexpr USHORT MAX_USTRING = 0xFFFE;

// ---- Memory ----------------------------------------------------------------------

inline void RtlCopyMemory(void* destination, const void* source, SIZE_T length) {
    std::memcpy(destination, source, length);
}
inline void RtlMoveMemory(void* destination, const void* source, SIZE_T length) {
    std::memmove(destination, source, length);
}
inline void RtlFillMemory(void* destination, SIZE_T length, UCHAR fill) {
    std::memset(destination, fill, length);
}
inline void RtlZeroMemory(void* destination, SIZE_T length) {
    std::memset(destination, 0, length);
}
[[nodiscard]] inline bool RtlEqualMemory(const void* a, const void* b, SIZE_T length) {
    return std::memcmp(a, b, length) == 0;
}
// The number of leading bytes that are equal.
[[nodiscard]] SIZE_T RtlCompareMemory(const void* source1, const void* source2, SIZE_T length);

// ---- Counted strings ------------------------------------------------------------

// Buffer = source (not copied); Length without, MaximumLength with the terminator.
// NULL gives an empty string with a NULL buffer.
void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source);
void RtlInitAnsiString(PANSI_STRING destination, PCSTR source);

// A counted string over a string literal, for constant names.
template <SIZE_T N>
[[nodiscard]] constexpr UNICODE_STRING RTL_CONSTANT_STRING(const WCHAR (&text)[N]) {
    static_assert(N * sizeof(WCHAR) <= MAX_USTRING);
    return UNICODE_STRING{static_cast<USHORT>((N - 1) * sizeof(WCHAR)),
                          static_cast<USHORT>(N * sizeof(WCHAR)), const_cast<PWSTR>(text)};
}

[[nodiscard]] WCHAR RtlUpcaseUnicodeChar(WCHAR character);
// <0, 0, >0 like memcmp over the characters; a prefix sorts first.
[[nodiscard]] LONG RtlCompareUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2,
                                           BOOLEAN caseInSensitive);
[[nodiscard]] BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2,
                                            BOOLEAN caseInSensitive);

// Copies as much of source as destination's MaximumLength holds, terminated when
// there is room. A NULL source empties destination.
void RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source);
// STATUS_BUFFER_TOO_SMALL (destination unchanged) when the result does not fit.
[[nodiscard]] NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source);
[[nodiscard]] NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination,
                                                      PCUNICODE_STRING source);

// With allocateDestinationString the buffer comes from pool and is released by
// RtlFreeUnicodeString; otherwise destination's buffer must hold the text
// (STATUS_BUFFER_OVERFLOW). The result is terminated when there is room.
[[nodiscard]] NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING destination,
                                                    PCANSI_STRING source,
                                                    BOOLEAN allocateDestinationString);
// Characters outside Latin-1 become '?'.
[[nodiscard]] NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING destination,
                                                    PCUNICODE_STRING source,
                                                    BOOLEAN allocateDestinationString);
void RtlFreeUnicodeString(PUNICODE_STRING unicodeString);
void RtlFreeAnsiString(PANSI_STRING ansiString);

// ---- Integer conversions --------------------------------------------------------

// Leading blanks, an optional sign and, for base 0, a prefix 0x, 0o or 0b are
// accepted; conversion stops at the first character that is not a digit of the
// base. Base 2, 8, 10, 16, or 0 (prefix, else 10). STATUS_INVALID_PARAMETER for
// another base or when no digit follows (*value unchanged then). The value wraps
// modulo 2^32 as the platform's does.
[[nodiscard]] NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING string, ULONG base, PULONG value);
[[nodiscard]] NTSTATUS RtlCharToInteger(PCSTR string, ULONG base, PULONG value);
// Base 0 means 10. STATUS_BUFFER_OVERFLOW when the digits do not fit.
[[nodiscard]] NTSTATUS RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string);

// ---- C-library string routines --------------------------------------------------

// Windows semantics: returns the length written when it is below count (the text
// is terminated), count when it fits exactly (no terminator), and -1 when it does
// not fit (count characters written, no terminator). Directives are the C
// library's; the Windows size prefixes "l" (32 bits here) and "I64" are accepted.
int _vsnprintf(char* buffer, SIZE_T count, const char* format, va_list arguments);
int _snprintf(char* buffer, SIZE_T count, const char* format, ...);

// Over 16-bit characters.
[[nodiscard]] SIZE_T wcslen(const WCHAR* text);
[[nodiscard]] const WCHAR* wcschr(const WCHAR* text, WCHAR character);
[[nodiscard]] WCHAR* wcschr(WCHAR* text, WCHAR character);
