// _vsnprintf and _snprintf with the platform's results: -1 and no terminator
// when the text does not fit.
#include <cstdio>
#include <string>

#include "kernel/rtl.h"

namespace {

// The platform's size prefixes: "l" is 32 bits there (int here), "I64" is 64.
std::string TranslateFormat(const char* format) {
    std::string translated;
    for (const char* p = format; *p != 0; ++p) {
        translated.push_back(*p);
        if (*p != '%') continue;
        ++p;
        if (*p == '%') {
            translated.push_back('%');
            continue;
        }
        while (*p != 0 && std::strchr("-+ #0123456789.*", *p) != nullptr)
            translated.push_back(*p++);
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            translated += "ll";
            p += 3;
        } else if (p[0] == 'l' && p[1] != 'l' && p[1] != 0 &&
                   std::strchr("diouxX", p[1]) != nullptr) {
            ++p;  // LONG and ULONG are int-sized here
        }
        if (*p == 0) break;
        translated.push_back(*p);
    }
    return translated;
}

}  // namespace

int _vsnprintf(char* buffer, SIZE_T count, const char* format, va_list arguments) {
    const auto translated = TranslateFormat(format);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, translated.c_str(), measuring);
    va_end(measuring);
    if (length < 0) return -1;
    std::string text(static_cast<SIZE_T>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), translated.c_str(), arguments);
    const auto textLength = static_cast<SIZE_T>(length);
    if (textLength < count) {
        std::memcpy(buffer, text.data(), textLength + 1);
        return length;
    }
    std::memcpy(buffer, text.data(), count);
    return textLength == count ? length : -1;
}

int _snprintf(char* buffer, SIZE_T count, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int result = _vsnprintf(buffer, count, format, arguments);
    va_end(arguments);
    return result;
}
