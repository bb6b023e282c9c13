// A counted string that owns its pool buffer and keeps a terminating zero after
// its text. The wide form has the UNICODE_STRING header (byte counts), the narrow
// form the ANSI_STRING header; both can be handed to the platform's routines.
// Growing raises STATUS_INSUFFICIENT_RESOURCES when storage cannot be had.
#pragma once

#include <wdm.h>

#include <cstdarg>

namespace framework {

template <typename Char>
struct CountedStringHeader;
template <>
struct CountedStringHeader<WCHAR> {
    using Type = UNICODE_STRING;
    static constexpr SIZE_T kMaximumBytes = 0xFFFE;
};
template <>
struct CountedStringHeader<char> {
    using Type = ANSI_STRING;
    static constexpr SIZE_T kMaximumBytes = 0xFFFF;
};

template <typename Char>
class BasicCountedString {
  public:
    using Header = typename CountedStringHeader<Char>::Type;
    // Characters the header can describe, the terminator included.
    static constexpr SIZE_T kMaximumCharacters =
        CountedStringHeader<Char>::kMaximumBytes / sizeof(Char);

    BasicCountedString() = default;
    explicit BasicCountedString(const Char* text) { Assign(text); }
    BasicCountedString(BasicCountedString&& other) noexcept;
    BasicCountedString& operator=(BasicCountedString&& other) noexcept;
    BasicCountedString(const BasicCountedString&) = delete;
    BasicCountedString& operator=(const BasicCountedString&) = delete;
    ~BasicCountedString() { Free(); }

    // Room for `count` more characters and the terminator.
    void Reserve(SIZE_T count);

    void Assign(const Char* text, SIZE_T count);
    void Assign(const Char* text);  // zero-terminated; NULL empties
    void Assign(const BasicCountedString& other);
    void Append(const Char* text, SIZE_T count);
    void Append(const BasicCountedString& other);
    void Append(Char character);

    // The wide form from ANSI (Latin-1) text of `count` bytes; NULL text empties.
    void AssignAnsi(const char* text, SIZE_T count) requires(sizeof(Char) == sizeof(WCHAR));

    // printf-style, into the narrow form.
    void Format(const char* format, ...) requires(sizeof(Char) == 1);
    void FormatV(const char* format, va_list arguments) requires(sizeof(Char) == 1);

    // Remove leading or trailing space, tab and newline characters.
    void TrimLeft();
    void TrimRight();
    // Index of the first `character`, or -1.
    [[nodiscard]] LONG Find(Char character) const;
    // `count` characters from `start`, clipped to the text.
    [[nodiscard]] BasicCountedString Substring(SIZE_T start, SIZE_T count) const;

    // <0, 0, >0 as RtlCompareUnicodeString.
    [[nodiscard]] LONG Compare(const Char* text, bool caseInsensitive) const;
    [[nodiscard]] LONG Compare(const BasicCountedString& other) const;  // case-insensitive
    // Base-10 value; raises the conversion's status when the text is no number.
    [[nodiscard]] ULONG ToInteger() const;

    [[nodiscard]] SIZE_T LengthInCharacters() const { return header_.Length / sizeof(Char); }
    [[nodiscard]] SIZE_T CapacityInCharacters() const {
        return header_.MaximumLength / sizeof(Char);
    }
    [[nodiscard]] Char At(SIZE_T index) const { return header_.Buffer[index]; }
    [[nodiscard]] const Char* Text() const { return header_.Buffer; }  // may be NULL when empty
    [[nodiscard]] Header* Get() { return &header_; }
    [[nodiscard]] const Header* Get() const { return &header_; }

    // Takes over a buffer from framework pool holding `lengthBytes` of text and a
    // terminator within `maximumBytes`.
    void Adopt(Char* buffer, USHORT lengthBytes, USHORT maximumBytes);

    // Releases the buffer and zeroes the header.
    void Free();

  private:
    void SetLength(SIZE_T characters);

    Header header_{0, 0, nullptr};
};

using CountedString = BasicCountedString<WCHAR>;
using NarrowCountedString = BasicCountedString<char>;

extern template class BasicCountedString<WCHAR>;
extern template class BasicCountedString<char>;

}  // namespace framework
