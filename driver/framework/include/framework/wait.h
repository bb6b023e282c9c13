// Waiting on an event at PASSIVE_LEVEL (or APC_LEVEL).
#pragma once

#include <wdm.h>

namespace framework {

// Waits for `event` for at most `milliseconds` (0: without time-out). True when
// the event was signalled, false on time-out.
[[nodiscard]] bool Wait(PKEVENT event, ULONG milliseconds);

}  // namespace framework
