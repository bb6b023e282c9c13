// Growth, editing, formatting and conversion of the framework's counted strings.
#include "framework/counted_string.h"

#include <cstring>
#include <type_traits>

#include "framework/pool.h"

namespace framework {
namespace {

constexpr SIZE_T kGrowthCharacters = 64;

template <typename Char>
SIZE_T TextLength(const Char* text) {
    if constexpr (std::is_same_v<Char, WCHAR>) {
        return wcslen(text);
    } else {
        return std::strlen(text);
    }
}

bool IsTrimmed(WCHAR character) {
    return character == u' ' || character == u'\t' || character == u'\n';
}

template <typename Char>
Char Upcase(Char character) {
    if constexpr (std::is_same_v<Char, WCHAR>) {
        return RtlUpcaseUnicodeChar(character);
    } else {
        return static_cast<Char>(RtlUpcaseUnicodeChar(static_cast<UCHAR>(character)));
    }
}

// Same ordering as RtlCompareUnicodeString, for the narrow form.
LONG CompareBytes(const ANSI_STRING& a, const ANSI_STRING& b, bool caseInsensitive) {
    const SIZE_T common = a.Length < b.Length ? a.Length : b.Length;
    for (SIZE_T index = 0; index < common; ++index) {
        UCHAR x = static_cast<UCHAR>(a.Buffer[index]);
        UCHAR y = static_cast<UCHAR>(b.Buffer[index]);
        if (caseInsensitive) {
            x = static_cast<UCHAR>(Upcase<char>(static_cast<char>(x)));
            y = static_cast<UCHAR>(Upcase<char>(static_cast<char>(y)));
        }
        if (x != y) return static_cast<LONG>(x) - static_cast<LONG>(y);
    }
    return static_cast<LONG>(a.Length) - static_cast<LONG>(b.Length);
}

template <typename Header>
LONG CompareHeaders(const Header& a, const Header& b, bool caseInsensitive) {
    if constexpr (std::is_same_v<Header, UNICODE_STRING>) {
        return RtlCompareUnicodeString(&a, &b, caseInsensitive);
    } else {
        return CompareBytes(a, b, caseInsensitive);
    }
}

}  // namespace

template <typename Char>
BasicCountedString<Char>::BasicCountedString(BasicCountedString&& other) noexcept
    : header_(other.header_) {
    other.header_ = Header{0, 0, nullptr};
}

template <typename Char>
BasicCountedString<Char>& BasicCountedString<Char>::operator=(BasicCountedString&& other) noexcept {
    if (this != &other) {
        Free();
        header_ = other.header_;
        other.header_ = Header{0, 0, nullptr};
    }
    return *this;
}

template <typename Char>
void BasicCountedString<Char>::Free() {
    PoolFree(header_.Buffer);
    header_ = Header{0, 0, nullptr};
}

template <typename Char>
void BasicCountedString<Char>::SetLength(SIZE_T characters) {
    header_.Length = static_cast<USHORT>(characters * sizeof(Char));
    header_.Buffer[characters] = 0;
}

template <typename Char>
void BasicCountedString<Char>::Reserve(SIZE_T count) {
    const SIZE_T length = LengthInCharacters();
    if (length + count < CapacityInCharacters()) return;
    // The header counts in 16 bits; a text it cannot describe is refused the way
    // an allocation of that size would be.
    if (count >= kMaximumCharacters || length + count + 1 > kMaximumCharacters) {
        ExRaiseStatus(STATUS_INSUFFICIENT_RESOURCES);
    }
    SIZE_T capacity = (count + length + kGrowthCharacters) & ~(kGrowthCharacters - 1);
    if (capacity > kMaximumCharacters) capacity = kMaximumCharacters;
    auto* buffer = static_cast<Char*>(PoolAllocateRaising(capacity * sizeof(Char)));
    if (header_.Buffer != nullptr) {
        std::memcpy(buffer, header_.Buffer, (length + 1) * sizeof(Char));
    } else {
        buffer[0] = 0;
    }
    PoolFree(header_.Buffer);
    header_.Buffer = buffer;
    header_.MaximumLength = static_cast<USHORT>(capacity * sizeof(Char));
}

template <typename Char>
void BasicCountedString<Char>::Assign(const Char* text, SIZE_T count) {
    if (text == nullptr) count = 0;
    const Char* buffer = header_.Buffer;
    if (buffer != nullptr && text >= buffer && text < buffer + CapacityInCharacters()) {
        // A part of this string's own text: it already fits where it is.
        std::memmove(header_.Buffer, text, count * sizeof(Char));
        SetLength(count);
        return;
    }
    header_.Length = 0;
    Reserve(count);
    if (count != 0) std::memcpy(header_.Buffer, text, count * sizeof(Char));
    SetLength(count);
}

template <typename Char>
void BasicCountedString<Char>::Assign(const Char* text) {
    Assign(text, text == nullptr ? 0 : TextLength(text));
}

template <typename Char>
void BasicCountedString<Char>::Assign(const BasicCountedString& other) {
    Assign(other.header_.Buffer, other.LengthInCharacters());
}

template <typename Char>
void BasicCountedString<Char>::Append(const Char* text, SIZE_T count) {
    if (text == nullptr || count == 0) return;
    const Char* oldBuffer = header_.Buffer;
    const bool ownText =
        oldBuffer != nullptr && text >= oldBuffer && text < oldBuffer + CapacityInCharacters();
    const SIZE_T offset = ownText ? static_cast<SIZE_T>(text - oldBuffer) : 0;
    const SIZE_T length = LengthInCharacters();
    Reserve(count);
    if (ownText) text = header_.Buffer + offset;  // the text moved with the buffer
    std::memmove(header_.Buffer + length, text, count * sizeof(Char));
    SetLength(length + count);
}

template <typename Char>
void BasicCountedString<Char>::Append(const BasicCountedString& other) {
    Append(other.header_.Buffer, other.LengthInCharacters());
}

template <typename Char>
void BasicCountedString<Char>::Append(Char character) {
    Append(&character, 1);
}

template <typename Char>
void BasicCountedString<Char>::AssignAnsi(const char* text,
                                          SIZE_T count) requires(sizeof(Char) == sizeof(WCHAR)) {
    if (text == nullptr) {
        Assign(nullptr, 0);
        return;
    }
    header_.Length = 0;
    Reserve(count);  // raises for more than the header can describe
    ANSI_STRING ansi{static_cast<USHORT>(count), static_cast<USHORT>(count),
                     const_cast<PCHAR>(text)};
    const NTSTATUS status = RtlAnsiStringToUnicodeString(&header_, &ansi, FALSE);
    if (!NT_SUCCESS(status)) ExRaiseStatus(status);
    SetLength(count);
}

template <typename Char>
void BasicCountedString<Char>::Format(const char* format, ...) requires(sizeof(Char) == 1) {
    va_list arguments;
    va_start(arguments, format);
    FormatV(format, arguments);
    va_end(arguments);
}

template <typename Char>
void BasicCountedString<Char>::FormatV(const char* format,
                                       va_list arguments) requires(sizeof(Char) == 1) {
    SIZE_T size = std::strlen(format) + kGrowthCharacters;
    for (;;) {
        if (size > kMaximumCharacters) ExRaiseStatus(STATUS_INSUFFICIENT_RESOURCES);
        auto* buffer = static_cast<char*>(PoolAllocateRaising(size));
        va_list attempt;
        va_copy(attempt, arguments);
        const int written = _vsnprintf(buffer, size, format, attempt);
        va_end(attempt);
        // Only -1 means "did not fit". An empty result is a valid empty string:
        // it fits any buffer, so retrying on it would never end. A text filling
        // the buffer exactly lacks only the terminator, which Assign adds.
        if (written >= 0) {
            // Assign may throw; do not leak the attempt buffer.
            struct FreeOnExit {
                char* block;
                ~FreeOnExit() { PoolFree(block); }
            } guard{buffer};
            Assign(reinterpret_cast<const Char*>(buffer), static_cast<SIZE_T>(written));
            return;
        }
        PoolFree(buffer);
        size += kGrowthCharacters;
    }
}

template <typename Char>
void BasicCountedString<Char>::TrimLeft() {
    const SIZE_T length = LengthInCharacters();
    SIZE_T start = 0;
    while (start < length && IsTrimmed(static_cast<WCHAR>(header_.Buffer[start]))) ++start;
    if (start == 0) return;
    std::memmove(header_.Buffer, header_.Buffer + start, (length - start) * sizeof(Char));
    SetLength(length - start);
}

template <typename Char>
void BasicCountedString<Char>::TrimRight() {
    SIZE_T length = LengthInCharacters();
    const SIZE_T before = length;
    while (length > 0 && IsTrimmed(static_cast<WCHAR>(header_.Buffer[length - 1]))) --length;
    if (length != before) SetLength(length);
}

template <typename Char>
LONG BasicCountedString<Char>::Find(Char character) const {
    const SIZE_T length = LengthInCharacters();
    for (SIZE_T index = 0; index < length; ++index) {
        if (header_.Buffer[index] == character) return static_cast<LONG>(index);
    }
    return -1;
}

template <typename Char>
BasicCountedString<Char> BasicCountedString<Char>::Substring(SIZE_T start, SIZE_T count) const {
    const SIZE_T length = LengthInCharacters();
    BasicCountedString result;
    if (start > length) start = length;
    if (count > length - start) count = length - start;
    result.Assign(header_.Buffer == nullptr ? nullptr : header_.Buffer + start, count);
    return result;
}

template <typename Char>
LONG BasicCountedString<Char>::Compare(const Char* text, bool caseInsensitive) const {
    const SIZE_T length = text == nullptr ? 0 : TextLength(text);
    const SIZE_T bytes = length * sizeof(Char);
    const Header other{static_cast<USHORT>(bytes > 0xFFFE ? 0xFFFE : bytes),
                       static_cast<USHORT>(bytes > 0xFFFE ? 0xFFFE : bytes),
                       const_cast<Char*>(text)};
    return CompareHeaders(header_, other, caseInsensitive);
}

template <typename Char>
LONG BasicCountedString<Char>::Compare(const BasicCountedString& other) const {
    return CompareHeaders(header_, other.header_, true);
}

template <typename Char>
ULONG BasicCountedString<Char>::ToInteger() const {
    ULONG value = 0;
    NTSTATUS status;
    if constexpr (std::is_same_v<Char, WCHAR>) {
        status = RtlUnicodeStringToInteger(&header_, 10, &value);
    } else {
        status = RtlCharToInteger(header_.Buffer == nullptr ? "" : header_.Buffer, 10, &value);
    }
    if (!NT_SUCCESS(status)) ExRaiseStatus(status);
    return value;
}

template <typename Char>
void BasicCountedString<Char>::Adopt(Char* buffer, USHORT lengthBytes, USHORT maximumBytes) {
    Free();
    header_.Buffer = buffer;
    header_.Length = lengthBytes;
    header_.MaximumLength = maximumBytes;
}

template class BasicCountedString<WCHAR>;
template class BasicCountedString<char>;

}  // namespace framework
