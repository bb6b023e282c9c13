// The fixed identifiers of hidbridge: class, interface and type library.
// They match hidbridge.idl and never change.
#pragma once

#include "win32_api.h"

namespace hidbridge {

// {6E084B4D-925A-4E03-8FB7-68691E0DF23D}
inline constexpr CLSID CLSID_HidPort = {
    0x6E084B4D, 0x925A, 0x4E03, {0x8F, 0xB7, 0x68, 0x69, 0x1E, 0x0D, 0xF2, 0x3D}};
// {FC528071-7153-44C8-B9C2-9D2C5E9534EC}
inline constexpr IID IID__HidPort = {
    0xFC528071, 0x7153, 0x44C8, {0xB9, 0xC2, 0x9D, 0x2C, 0x5E, 0x95, 0x34, 0xEC}};
// {DF9A4541-727D-4D9B-80E0-9653D7D54C8B}
inline constexpr GUID LIBID_hidbridge = {
    0xDF9A4541, 0x727D, 0x4D9B, {0x80, 0xE0, 0x96, 0x53, 0xD7, 0xD5, 0x4C, 0x8B}};

inline constexpr WORD kTypeLibraryMajorVersion = 1;
inline constexpr WORD kTypeLibraryMinorVersion = 0;
inline constexpr LCID kTypeLibraryLocale = 0x409;

inline constexpr const char* kProgId = "hidbridge.HidPort";

}  // namespace hidbridge
