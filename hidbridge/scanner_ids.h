// ScannerIdPairs: the USB vendor and product ids of the two scanner models
// hidbridge serves. A device matches when its ids equal one pair. They are
// build-time constants (CMake cache variables HIDBRIDGE_SCANNER1_VID,
// HIDBRIDGE_SCANNER1_PID, HIDBRIDGE_SCANNER2_VID, HIDBRIDGE_SCANNER2_PID);
// the defaults are placeholders that no real device carries.
#pragma once

#include <cstdint>

#ifndef HIDBRIDGE_SCANNER1_VID
#define HIDBRIDGE_SCANNER1_VID 0xFFF1
#endif
#ifndef HIDBRIDGE_SCANNER1_PID
#define HIDBRIDGE_SCANNER1_PID 0x0001
#endif
#ifndef HIDBRIDGE_SCANNER2_VID
#define HIDBRIDGE_SCANNER2_VID 0xFFF2
#endif
#ifndef HIDBRIDGE_SCANNER2_PID
#define HIDBRIDGE_SCANNER2_PID 0x0002
#endif

namespace hidbridge {

struct ScannerIdPair {
    std::uint16_t vendorId;
    std::uint16_t productId;
};

inline constexpr ScannerIdPair ScannerIdPairs[2] = {
    {HIDBRIDGE_SCANNER1_VID, HIDBRIDGE_SCANNER1_PID},
    {HIDBRIDGE_SCANNER2_VID, HIDBRIDGE_SCANNER2_PID},
};

constexpr bool IsScanner(std::uint16_t vendorId, std::uint16_t productId) {
    for (const ScannerIdPair& pair : ScannerIdPairs) {
        if (pair.vendorId == vendorId && pair.productId == productId) return true;
    }
    return false;
}

}  // namespace hidbridge
