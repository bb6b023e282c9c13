// (placeholder bodies; being written)
#include "framework/irp_helpers.h"
#include "serial/serial_port.h"

namespace serial {}  // namespace serial
