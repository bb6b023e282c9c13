// BSTR allocation with live-string accounting. A BSTR is preceded by its byte
// length (4 bytes) and ends with a null character, as on the platform.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "violations.h"
#include "win32/automation.h"
#include "win32/sim/hid_devices.h"

namespace {

std::mutex& BstrMutex() {
    static std::mutex mutex;
    return mutex;
}

std::set<BSTR>& LiveBstrs() {
    static std::set<BSTR> live;
    return live;
}

constexpr std::size_t kPrefix = sizeof(std::uint32_t);

}  // namespace

EXTERN_C BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length) {
    std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
    if (bytes > 0x7FFFFFF0u) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    std::uint32_t prefix = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &prefix, kPrefix);
    BSTR result = reinterpret_cast<BSTR>(block + kPrefix);
    if (text != nullptr) {
        std::memcpy(result, text, bytes);
    } else {
        std::memset(result, 0, bytes);
    }
    result[length] = 0;
    std::lock_guard lock(BstrMutex());
    LiveBstrs().insert(result);
    return result;
}

EXTERN_C BSTR WINAPI SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    UINT length = 0;
    while (text[length] != 0) ++length;
    return SysAllocStringLen(text, length);
}

EXTERN_C void WINAPI SysFreeString(BSTR text) {
    if (text == nullptr) return;
    {
        std::lock_guard lock(BstrMutex());
        if (LiveBstrs().erase(text) == 0) {
            win32sim::detail::RecordViolation("SysFreeString: not a live BSTR");
            return;
        }
    }
    std::free(reinterpret_cast<unsigned char*>(text) - kPrefix);
}

EXTERN_C UINT WINAPI SysStringByteLen(BSTR text) {
    if (text == nullptr) return 0;
    std::uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<unsigned char*>(text) - kPrefix, kPrefix);
    return prefix;
}

EXTERN_C UINT WINAPI SysStringLen(BSTR text) {
    return SysStringByteLen(text) / sizeof(OLECHAR);
}

int win32sim::LiveBstrCount() {
    std::lock_guard lock(BstrMutex());
    return static_cast<int>(LiveBstrs().size());
}
