// Counted-string routines: initialisation, comparison, copy and append.
#include <algorithm>

#include "kernel/rtl.h"

namespace {

constexpr USHORT kMaxAnsiString = 0xFFFF;

void TerminateIfRoom(PUNICODE_STRING string) {
    if (string->Length + sizeof(WCHAR) <= string->MaximumLength) {
        string->Buffer[string->Length / sizeof(WCHAR)] = 0;
    }
}

}  // namespace

void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
    destination->Buffer = const_cast<PWSTR>(source);
    if (source == nullptr) {
        destination->Length = destination->MaximumLength = 0;
        return;
    }
    // A longer text is cut to what a counted string can describe.
    const auto bytes =
        std::min<SIZE_T>(wcslen(source) * sizeof(WCHAR), MAX_USTRING - sizeof(WCHAR));
    destination->Length = static_cast<USHORT>(bytes);
    destination->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
}

void RtlInitAnsiString(PANSI_STRING destination, PCSTR source) {
    destination->Buffer = const_cast<PCHAR>(source);
    if (source == nullptr) {
        destination->Length = destination->MaximumLength = 0;
        return;
    }
    const auto bytes = std::min<SIZE_T>(std::strlen(source), kMaxAnsiString - 1);
    destination->Length = static_cast<USHORT>(bytes);
    destination->MaximumLength = static_cast<USHORT>(bytes + 1);
}

WCHAR RtlUpcaseUnicodeChar(WCHAR character) {
    if (character >= u'a' && character <= u'z') return static_cast<WCHAR>(character - 0x20);
    // Latin-1 lower-case letters, except the division sign and y with diaeresis.
    if (character >= 0xE0 && character <= 0xFE && character != 0xF7) {
        return static_cast<WCHAR>(character - 0x20);
    }
    if (character == 0xFF) return 0x178;
    return character;
}

LONG RtlCompareUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2,
                             BOOLEAN caseInSensitive) {
    const SIZE_T length1 = string1->Length / sizeof(WCHAR);
    const SIZE_T length2 = string2->Length / sizeof(WCHAR);
    const SIZE_T common = std::min(length1, length2);
    for (SIZE_T index = 0; index < common; ++index) {
        WCHAR a = string1->Buffer[index];
        WCHAR b = string2->Buffer[index];
        if (caseInSensitive) {
            a = RtlUpcaseUnicodeChar(a);
            b = RtlUpcaseUnicodeChar(b);
        }
        if (a != b) return static_cast<LONG>(a) - static_cast<LONG>(b);
    }
    return static_cast<LONG>(length1) - static_cast<LONG>(length2);
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2,
                              BOOLEAN caseInSensitive) {
    return string1->Length == string2->Length &&
           RtlCompareUnicodeString(string1, string2, caseInSensitive) == 0;
}

void RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
    if (source == nullptr) {
        destination->Length = 0;
        return;
    }
    const USHORT bytes = std::min(source->Length, destination->MaximumLength) & ~USHORT{1};
    if (bytes != 0) std::memmove(destination->Buffer, source->Buffer, bytes);
    destination->Length = bytes;
    TerminateIfRoom(destination);
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
    if (source == nullptr || source->Length == 0) return STATUS_SUCCESS;
    const SIZE_T total = SIZE_T{destination->Length} + source->Length;
    if (total > destination->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
    std::memmove(reinterpret_cast<UCHAR*>(destination->Buffer) + destination->Length,
                 source->Buffer, source->Length);
    destination->Length = static_cast<USHORT>(total);
    TerminateIfRoom(destination);
    return STATUS_SUCCESS;
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source) {
    if (source == nullptr) return STATUS_SUCCESS;
    const SIZE_T bytes = wcslen(source) * sizeof(WCHAR);
    if (bytes > MAX_USTRING) return STATUS_BUFFER_TOO_SMALL;
    const UNICODE_STRING text{static_cast<USHORT>(bytes), static_cast<USHORT>(bytes),
                              const_cast<PWSTR>(source)};
    return RtlAppendUnicodeStringToString(destination, &text);
}
