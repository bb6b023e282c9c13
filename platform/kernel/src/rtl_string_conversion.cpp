// Conversions between ANSI (Latin-1) and Unicode counted strings, and the
// release of strings the conversions allocated.
#include "kernel/rtl.h"
#include "rtl_string_storage.h"

using kernel::rtl::AllocateStringBuffer;
using kernel::rtl::FreeStringBuffer;

NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING destination, PCANSI_STRING source,
                                      BOOLEAN allocateDestinationString) {
    const SIZE_T bytes = SIZE_T{source->Length} * sizeof(WCHAR);
    if (bytes + sizeof(WCHAR) > MAX_USTRING + 1) return STATUS_INVALID_PARAMETER_2;
    if (allocateDestinationString) {
        const auto capacity = static_cast<USHORT>(bytes + sizeof(WCHAR));
        auto* buffer = static_cast<PWSTR>(AllocateStringBuffer(capacity));
        if (buffer == nullptr) return STATUS_NO_MEMORY;
        destination->Buffer = buffer;
        destination->MaximumLength = capacity;
    } else if (bytes > destination->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (USHORT index = 0; index < source->Length; ++index) {
        destination->Buffer[index] = static_cast<UCHAR>(source->Buffer[index]);
    }
    destination->Length = static_cast<USHORT>(bytes);
    if (bytes + sizeof(WCHAR) <= destination->MaximumLength) {
        destination->Buffer[source->Length] = 0;
    }
    return STATUS_SUCCESS;
}

NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING destination, PCUNICODE_STRING source,
                                      BOOLEAN allocateDestinationString) {
    const USHORT characters = source->Length / sizeof(WCHAR);
    if (allocateDestinationString) {
        auto* buffer = static_cast<PCHAR>(AllocateStringBuffer(SIZE_T{characters} + 1));
        if (buffer == nullptr) return STATUS_NO_MEMORY;
        destination->Buffer = buffer;
        destination->MaximumLength = static_cast<USHORT>(characters + 1);
    } else if (characters > destination->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (USHORT index = 0; index < characters; ++index) {
        const WCHAR character = source->Buffer[index];
        destination->Buffer[index] = character <= 0xFF ? static_cast<CHAR>(character) : '?';
    }
    destination->Length = characters;
    if (characters < destination->MaximumLength) destination->Buffer[characters] = 0;
    return STATUS_SUCCESS;
}

void RtlFreeUnicodeString(PUNICODE_STRING unicodeString) {
    FreeStringBuffer(unicodeString->Buffer);
    unicodeString->Buffer = nullptr;
    unicodeString->Length = unicodeString->MaximumLength = 0;
}

void RtlFreeAnsiString(PANSI_STRING ansiString) {
    FreeStringBuffer(ansiString->Buffer);
    ansiString->Buffer = nullptr;
    ansiString->Length = ansiString->MaximumLength = 0;
}
