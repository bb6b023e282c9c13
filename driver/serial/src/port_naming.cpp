// The COM name of a port: symbolic link, SERIALCOMM value and interface, and
// the line defaults of the Ports key.
// (placeholder bodies; being written)
#include "serial/serial_port.h"

namespace serial {

NTSTATUS SerialPort::AssignPortName() {
    return STATUS_SUCCESS;
}
void SerialPort::RemoveSerialCommValue() {}
void SerialPort::LoadPortsDefaults() {}

}  // namespace serial
