// The code-page conversions. The ANSI code page of the simulation is Latin-1.
#include <string>

#include "win32/kernel32.h"

namespace {

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

EXTERN_C int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWCH wideCharStr, int wideCharCount,
                                        LPSTR multiByteStr, int multiByteCount, LPCCH defaultChar,
                                        LPBOOL usedDefaultChar) {
    if (wideCharStr == nullptr || wideCharCount == 0 || multiByteCount < 0 ||
        (codePage != CP_ACP && codePage != CP_UTF8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t count = 0;
    if (wideCharCount < 0) {
        while (wideCharStr[count] != 0) ++count;
        ++count;  // the terminator is converted too
    } else {
        count = static_cast<std::size_t>(wideCharCount);
    }
    std::string out;
    bool usedDefault = false;
    for (std::size_t i = 0; i < count; ++i) {
        char32_t code = wideCharStr[i];
        if (codePage == CP_UTF8) {
            if (code >= 0xD800 && code < 0xDC00 && i + 1 < count && wideCharStr[i + 1] >= 0xDC00 &&
                wideCharStr[i + 1] < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (wideCharStr[++i] - 0xDC00);
            }
            AppendUtf8(out, code);
        } else if (code <= 0xFF) {
            out += static_cast<char>(code);
        } else {
            out += defaultChar != nullptr ? *defaultChar : '?';
            usedDefault = true;
        }
    }
    if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault ? TRUE : FALSE;
    if (multiByteCount == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<std::size_t>(multiByteCount)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    out.copy(multiByteStr, out.size());
    return static_cast<int>(out.size());
}

// Latin-1 (CP_ACP) only.
EXTERN_C int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCCH multiByteStr,
                                        int multiByteCount, LPWSTR wideCharStr, int wideCharCount) {
    if (multiByteStr == nullptr || multiByteCount == 0 || wideCharCount < 0 || codePage != CP_ACP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t count = 0;
    if (multiByteCount < 0) {
        while (multiByteStr[count] != 0) ++count;
        ++count;
    } else {
        count = static_cast<std::size_t>(multiByteCount);
    }
    if (wideCharCount == 0) return static_cast<int>(count);
    if (count > static_cast<std::size_t>(wideCharCount)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (std::size_t i = 0; i < count; ++i) {
        wideCharStr[i] = static_cast<WCHAR>(static_cast<unsigned char>(multiByteStr[i]));
    }
    return static_cast<int>(count);
}
