// The failures a HidPort method reports: a failure HRESULT together with
// error information (IErrorInfo) whose description says what went wrong.
#pragma once

#include "win32_api.h"

namespace hidbridge {

enum class BridgeError {
    NoInputReport,
    NoOutputReport,
    NoFeatureReport,
    OutputTooLong,
    FeatureTooLong,
    NotHexadecimal,
    NegativeTimeout,
    OutOfMemory,
};

// The HRESULT of the error.
HRESULT ErrorResult(BridgeError error);

// Sets the thread's error information for the error and returns its HRESULT.
// The description's %ld fields are filled from first and second.
HRESULT RaiseError(BridgeError error, long first = 0, long second = 0);

}  // namespace hidbridge
