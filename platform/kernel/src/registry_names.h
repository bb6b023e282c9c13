// Checked views of the counted and zero-terminated names the registry routines take.
#pragma once

#include <string_view>

#include "kernel/rtl.h"

namespace kernel::registry {

// False for a malformed header: odd or oversized Length, or text without a buffer.
[[nodiscard]] inline bool ViewOf(PCUNICODE_STRING name, std::u16string_view* view) {
    if (name == nullptr) {
        *view = {};
        return true;
    }
    if ((name->Length & 1) != 0 || name->Length > name->MaximumLength ||
        (name->Length != 0 && name->Buffer == nullptr)) {
        return false;
    }
    *view = std::u16string_view(name->Buffer, name->Length / sizeof(WCHAR));
    return true;
}

[[nodiscard]] inline std::u16string_view ViewOf(PCWSTR text) {
    return text == nullptr ? std::u16string_view{} : std::u16string_view(text, wcslen(text));
}

}  // namespace kernel::registry
