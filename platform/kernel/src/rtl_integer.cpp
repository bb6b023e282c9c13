// Conversions between counted strings and 32-bit integers.
#include "kernel/rtl.h"

namespace {

constexpr bool IsValidBase(ULONG base) {
    return base == 2 || base == 8 || base == 10 || base == 16;
}

// Value of a digit character, or 36 for a character that is none.
constexpr ULONG DigitValue(WCHAR character) {
    if (character >= u'0' && character <= u'9') return character - u'0';
    if (character >= u'a' && character <= u'z') return character - u'a' + 10;
    if (character >= u'A' && character <= u'Z') return character - u'A' + 10;
    return 36;
}

// Shared by the wide and narrow entry points; `at(i)` yields character i.
template <typename CharAt>
NTSTATUS ParseInteger(SIZE_T length, CharAt at, ULONG base, PULONG value) {
    if (base != 0 && !IsValidBase(base)) return STATUS_INVALID_PARAMETER;
    SIZE_T index = 0;
    while (index < length && at(index) <= u' ' && at(index) != 0) ++index;
    bool negative = false;
    if (index < length && (at(index) == u'-' || at(index) == u'+')) {
        negative = at(index) == u'-';
        ++index;
    }
    if (base == 0) {
        base = 10;
        if (index + 1 < length && at(index) == u'0') {
            switch (at(index + 1)) {
                case u'x':
                    base = 16;
                    break;
                case u'o':
                    base = 8;
                    break;
                case u'b':
                    base = 2;
                    break;
                default:
                    break;
            }
            if (base != 10) index += 2;
        }
    }
    ULONG total = 0;
    SIZE_T digits = 0;
    for (; index < length; ++index, ++digits) {
        const ULONG digit = DigitValue(at(index));
        if (digit >= base) break;
        total = total * base + digit;
    }
    // A text without any digit is no number (the caller's value is kept).
    if (digits == 0) return STATUS_INVALID_PARAMETER;
    *value = negative ? 0u - total : total;
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING string, ULONG base, PULONG value) {
    return ParseInteger(
        string->Length / sizeof(WCHAR), [string](SIZE_T i) { return string->Buffer[i]; }, base,
        value);
}

NTSTATUS RtlCharToInteger(PCSTR string, ULONG base, PULONG value) {
    return ParseInteger(
        std::strlen(string),
        [string](SIZE_T i) { return static_cast<WCHAR>(static_cast<UCHAR>(string[i])); }, base,
        value);
}

NTSTATUS RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string) {
    if (base == 0) base = 10;
    if (!IsValidBase(base)) return STATUS_INVALID_PARAMETER;
    WCHAR digits[32];
    SIZE_T count = 0;
    do {
        const ULONG digit = value % base;
        digits[count++] = static_cast<WCHAR>(digit < 10 ? u'0' + digit : u'A' + digit - 10);
        value /= base;
    } while (value != 0);
    if (count * sizeof(WCHAR) > string->MaximumLength) return STATUS_BUFFER_OVERFLOW;
    for (SIZE_T index = 0; index < count; ++index)
        string->Buffer[index] = digits[count - 1 - index];
    string->Length = static_cast<USHORT>(count * sizeof(WCHAR));
    if (string->Length + sizeof(WCHAR) <= string->MaximumLength) string->Buffer[count] = 0;
    return STATUS_SUCCESS;
}
