// The COM name of a port: the DOS-device link, the SERIALCOMM value and the
// COM-port interface, given once when the port is initialised.
#include <utility>

#include "framework/error_log.h"
#include "framework/registry_access.h"
#include "serial/serial_port.h"

namespace serial {
namespace {

// Error-log codes an administrator sees.
constexpr NTSTATUS kLogSymbolicLinkFailed = static_cast<NTSTATUS>(0xE0060001);
constexpr NTSTATUS kLogPortNameMissing = static_cast<NTSTATUS>(0xE0060002);

constexpr const WCHAR* kSerialCommKey = u"SERIALCOMM";
constexpr const WCHAR* kDosDevicesPrefix = u"\\DosDevices\\";

// An open registry key, closed when it goes.
class KeyHandle {
  public:
    explicit KeyHandle(HANDLE key) : key_(key) {}
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    ~KeyHandle() { Close(); }

    [[nodiscard]] HANDLE Get() const { return key_; }
    void Close() {
        if (key_ != nullptr) (void)ZwClose(key_);
        key_ = nullptr;
    }

  private:
    HANDLE key_;
};

}  // namespace

NTSTATUS SerialPort::AssignPortName() {
    KeyHandle key(framework::OpenDeviceKey(PhysicalDevice(), KEY_READ));
    if (key.Get() == nullptr) return STATUS_UNSUCCESSFUL;
    ULONG skipNaming = 0;
    if (NT_SUCCESS(framework::ReadDword(key.Get(), u"SerialSkipExternalNaming", &skipNaming)) &&
        skipNaming != 0) {
        return STATUS_SUCCESS;  // no COM name, no SERIALCOMM value, no interface
    }
    const NTSTATUS status = NamePort(key.Get());
    key.Close();
    if (!NT_SUCCESS(status)) RemoveSerialCommValue();
    return status;
}

NTSTATUS SerialPort::NamePort(HANDLE deviceKey) {
    framework::CountedString name;
    NTSTATUS status = framework::ReadString(deviceKey, u"PortName", &name);
    if (NT_SUCCESS(status)) {
        // Text after an embedded NUL is no part of the name (the link, the
        // SERIALCOMM data and the Ports value name all end there), and an empty
        // name is no name: it would link the DOS-device directory itself.
        if (const LONG end = name.Find(0); end >= 0) name = name.Substring(0, end);
        if (name.LengthInCharacters() == 0) status = STATUS_OBJECT_NAME_NOT_FOUND;
    }
    if (!NT_SUCCESS(status)) {
        framework::WriteErrorLog(DeviceObject(), kLogPortNameMissing);
        return status;
    }
    portName = std::move(name);

    framework::CountedString linkName(kDosDevicesPrefix);
    linkName.Append(portName);
    status = symbolicLink_.Create(linkName.Text(), const_cast<PUNICODE_STRING>(DeviceName().Get()));
    if (!NT_SUCCESS(status)) {
        framework::WriteErrorLog(DeviceObject(), kLogSymbolicLinkFailed, linkName.Text());
        return status;
    }

    // The data is the name with its terminating NUL.
    status = RtlWriteRegistryValue(RTL_REGISTRY_DEVICEMAP, kSerialCommKey, DeviceName().Text(),
                                   REG_SZ, const_cast<PWCHAR>(portName.Text()),
                                   static_cast<ULONG>(portName.Get()->Length + sizeof(WCHAR)));
    if (!NT_SUCCESS(status)) return status;
    serialCommWritten = true;
    return RegisterInterface(GUID_DEVINTERFACE_COMPORT);
}

void SerialPort::RemoveSerialCommValue() {
    if (!serialCommWritten) return;
    (void)RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, kSerialCommKey, DeviceName().Text());
    serialCommWritten = false;
}

}  // namespace serial
