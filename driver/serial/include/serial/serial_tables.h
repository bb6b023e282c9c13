// The fixed tables of the serial port: how each control code is processed, the
// SERIAL_BAUD_* flags with their rates, and the receive mask per data-bit count.
#pragma once

#include <wdm.h>
#include "kernel/ntddser.h"

#include <array>

namespace serial {

// Processing path of a control code: the queue of that index, or at once.
inline constexpr UCHAR kPathControlQueue = 0x00;
inline constexpr UCHAR kPathReadQueue = 0x01;
inline constexpr UCHAR kPathWriteQueue = 0x02;
inline constexpr UCHAR kPathAtOnce = 0x0F;
inline constexpr UCHAR kPathMask = 0x0F;
// The code is pre-processed at dispatch time.
inline constexpr UCHAR kPathPreprocess = 0x80;

// Indexed by the function number ((code >> 2) & 0xFFF); 40 and above: at once.
inline constexpr std::array<UCHAR, 40> IoctlClassTable = {
    0x0F, 0x00, 0x81, 0x00, 0x00, 0x00, 0x00, 0x0F, 0x0F, 0x00,  //  0- 9
    0x00, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x0F, 0x0F, 0x0F, 0x0F,  // 10-19
    0x0F, 0x00, 0x0F, 0x0F, 0x0F, 0x0F, 0x00, 0x00, 0x82, 0x0F,  // 20-29
    0x00, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x00, 0x00, 0x00,  // 30-39
};

[[nodiscard]] constexpr ULONG FunctionNumber(ULONG controlCode) {
    return (controlCode >> 2) & 0xFFF;
}
// Custom codes (function 0x800 and above) are classified by the port itself.
[[nodiscard]] constexpr bool IsCustomCode(ULONG controlCode) {
    return (controlCode & 0x2000) != 0;
}
[[nodiscard]] constexpr UCHAR TablePath(ULONG controlCode) {
    const ULONG function = FunctionNumber(controlCode);
    return function < IoctlClassTable.size() ? IoctlClassTable[function] : kPathAtOnce;
}

struct BaudRateRow {
    ULONG flag;  // SERIAL_BAUD_*
    ULONG rate;
};

// The 134.5 baud flag maps to 135.
inline constexpr std::array<BaudRateRow, 19> BaudRateTable = {{
    {0x1, 75},       {0x2, 110},        {0x4, 135},        {0x8, 150},       {0x10, 300},
    {0x20, 600},     {0x40, 1200},      {0x80, 1800},      {0x100, 2400},    {0x200, 4800},
    {0x400, 7200},   {0x800, 9600},     {0x1000, 14400},   {0x2000, 19200},  {0x4000, 38400},
    {0x8000, 56000}, {0x10000, 128000}, {0x20000, 115200}, {0x40000, 57600},
}};

// Indexed by lineControl & 3 (data bits - 5).
inline constexpr std::array<UCHAR, 4> DataMaskTable = {0x1F, 0x3F, 0x7F, 0xFF};

}  // namespace serial
