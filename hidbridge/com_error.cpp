#include "com_error.h"

#include <cstdio>

#include "identifiers.h"

namespace hidbridge {
namespace {

struct ErrorEntry {
    BridgeError error;
    HRESULT result;
    const char* description;
};

constexpr HRESULT BridgeResult(int code) {
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, code);
}

constexpr ErrorEntry kErrors[] = {
    {BridgeError::NoInputReport, BridgeResult(0x0301),
     "No input report can be read: no scanner is attached, or its input report length is 0."},
    {BridgeError::NoOutputReport, BridgeResult(0x0302),
     "No output report can be written: no scanner is attached, or its output report length is 0."},
    {BridgeError::NoFeatureReport, BridgeResult(0x0303),
     "No feature report can be exchanged: no scanner is attached, or its feature report length "
     "is 0."},
    {BridgeError::OutputTooLong, BridgeResult(0x0304),
     "The data is too long for the output report: %ld bytes given, at most %ld fit."},
    {BridgeError::FeatureTooLong, BridgeResult(0x0305),
     "The text is too long for the feature report: %ld bytes given, at most %ld fit."},
    {BridgeError::NotHexadecimal, BridgeResult(0x0306),
     "The text is not hexadecimal: the digit pair at character %ld is not a hexadecimal number."},
    {BridgeError::NegativeTimeout, BridgeResult(0x0307),
     "The read time-out must not be negative: %ld seconds given."},
    {BridgeError::OutOfMemory, E_OUTOFMEMORY, "Out of memory."},
};

const ErrorEntry& EntryOf(BridgeError error) {
    for (const ErrorEntry& entry : kErrors) {
        if (entry.error == error) return entry;
    }
    return kErrors[0];
}

}  // namespace

HRESULT ErrorResult(BridgeError error) {
    return EntryOf(error).result;
}

HRESULT RaiseError(BridgeError error, long first, long second) {
    const ErrorEntry& entry = EntryOf(error);
    char narrow[256];
    std::snprintf(narrow, sizeof narrow, entry.description, first, second);
    OLECHAR description[256];
    OLECHAR source[64];
    auto widen = [](const char* from, OLECHAR* to, std::size_t capacity) {
        std::size_t i = 0;
        for (; from[i] != '\0' && i + 1 < capacity; ++i) to[i] = static_cast<OLECHAR>(from[i]);
        to[i] = 0;
    };
    widen(narrow, description, 256);
    widen(kProgId, source, 64);

    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetGUID(IID__HidPort);
        create->SetSource(source);
        create->SetDescription(description);
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return entry.result;
}

}  // namespace hidbridge
