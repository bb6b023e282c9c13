// RtlCompareMemory and the 16-bit character routines wcslen and wcschr.
#include "kernel/rtl.h"

SIZE_T RtlCompareMemory(const void* source1, const void* source2, SIZE_T length) {
    const auto* a = static_cast<const UCHAR*>(source1);
    const auto* b = static_cast<const UCHAR*>(source2);
    SIZE_T equal = 0;
    while (equal < length && a[equal] == b[equal]) ++equal;
    return equal;
}

SIZE_T wcslen(const WCHAR* text) {
    SIZE_T length = 0;
    while (text[length] != 0) ++length;
    return length;
}

const WCHAR* wcschr(const WCHAR* text, WCHAR character) {
    for (;; ++text) {
        if (*text == character) return text;  // also finds the terminator itself
        if (*text == 0) return nullptr;
    }
}

WCHAR* wcschr(WCHAR* text, WCHAR character) {
    return const_cast<WCHAR*>(wcschr(static_cast<const WCHAR*>(text), character));
}
