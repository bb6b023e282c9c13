// Entries in the system error log for problems an administrator must see.
#pragma once

#include <wdm.h>

namespace framework {

// One entry with `errorCode` and, when given, one insertion text. An entry that
// would exceed ERROR_LOG_MAXIMUM_SIZE is not written.
void WriteErrorLog(PDEVICE_OBJECT deviceObject, NTSTATUS errorCode, const WCHAR* text = nullptr);

}  // namespace framework
