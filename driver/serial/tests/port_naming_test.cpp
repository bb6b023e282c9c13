// The COM name of a port: the link the file API opens, the SERIALCOMM value,
// the COM-port interface, and what a port without a usable name leaves behind.
#include <algorithm>
#include <optional>

#include "framework/pool.h"
#include "serial_fixture.h"
#include "sim/faults.h"

namespace serial::testing {
namespace {

constexpr const char16_t* kSerialCommKey = u"\\Registry\\Machine\\Hardware\\DeviceMap\\SERIALCOMM";
constexpr NTSTATUS kLogSymbolicLinkFailed = static_cast<NTSTATUS>(0xE0060001);
constexpr NTSTATUS kLogPortNameMissing = static_cast<NTSTATUS>(0xE0060002);

class PortNamingTest : public SerialTest {
  protected:
    // The target of a symbolic link, by any spelling of its name.
    static std::optional<std::u16string> LinkTarget(std::u16string_view name) {
        for (const sim::SymbolicLink& link : sim::SymbolicLinks()) {
            if (link.name == name) return link.target;
        }
        return std::nullopt;
    }
    // COM-port interfaces of the test's physical device.
    [[nodiscard]] std::vector<sim::DeviceInterface> ComPortInterfaces() const {
        std::vector<sim::DeviceInterface> found;
        for (const sim::DeviceInterface& entry : sim::DeviceInterfaces()) {
            if (entry.physicalDevice == pdo_ &&
                std::memcmp(&entry.interfaceClass, &GUID_DEVINTERFACE_COMPORT, sizeof(GUID)) == 0) {
                found.push_back(entry);
            }
        }
        return found;
    }
    [[nodiscard]] static std::optional<std::u16string> SerialCommValue() {
        return sim::registry::GetString(kSerialCommKey, kPortDeviceName);
    }
    // Nothing of a name is left: no link, no SERIALCOMM value, no enabled
    // interface (a registration outlives the device, disabled).
    void ExpectUnnamed(const char16_t* linkName = u"\\DosDevices\\COM5") {
        EXPECT_FALSE(LinkTarget(linkName).has_value());
        EXPECT_FALSE(SerialCommValue().has_value());
        for (const sim::DeviceInterface& entry : ComPortInterfaces()) EXPECT_FALSE(entry.enabled);
    }
};

TEST_F(PortNamingTest, NamedPortOpensByItsComNameUntilTheDeviceGoes) {
    TestPort* port = CreatePort();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(LinkTarget(u"\\DosDevices\\COM5"), std::u16string(kPortDeviceName));
    // REG_SZ with its terminating NUL.
    const auto value = sim::registry::GetValue(kSerialCommKey, kPortDeviceName);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, ULONG{REG_SZ});
    EXPECT_EQ(value->data, (std::vector<UCHAR>{'C', 0, 'O', 0, 'M', 0, '5', 0, 0, 0}));
    const auto interfaces = ComPortInterfaces();
    ASSERT_EQ(interfaces.size(), 1U);
    EXPECT_TRUE(interfaces[0].enabled);
    EXPECT_TRUE(sim::ErrorLogEntries().empty());

    HANDLE file = Open(u"\\\\.\\COM5");
    ASSERT_NE(file, win32::INVALID_HANDLE_VALUE);
    EXPECT_EQ(port->openCount, 1);
    Close(file);

    sim::UnloadDriver(driver_);  // deletes the port's device
    driver_ = nullptr;
    ExpectUnnamed();
    EXPECT_EQ(sim::FindDevice(u"\\DosDevices\\COM5"), nullptr);
}

TEST_F(PortNamingTest, SkippingExternalNamingLeavesThePortUnnamed) {
    sim::registry::SetDword(DeviceKey(), u"SerialSkipExternalNaming", 1);
    TestPort* port = CreatePort();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->portName.LengthInCharacters(), 0U);
    ExpectUnnamed();
    EXPECT_TRUE(sim::ErrorLogEntries().empty());
    // Still usable by its device name.
    EXPECT_NE(Open(), win32::INVALID_HANDLE_VALUE);
}

TEST_F(PortNamingTest, PortNameValues) {
    struct Case {
        const char* what;
        std::optional<std::vector<UCHAR>> data;  // REG_SZ bytes; none: no value
        ULONG type;
        NTSTATUS status;
        const char16_t* linkName;  // the link made, or the name it is not made as
    };
    const Case cases[] = {
        {"zero switch", std::vector<UCHAR>{'C', 0, 'O', 0, 'M', 0, '5', 0, 0, 0}, REG_SZ,
         STATUS_SUCCESS, u"\\DosDevices\\COM5"},
        {"no NUL, odd byte", std::vector<UCHAR>{'C', 0, 'O', 0, 'M', 0, '8', 0, 'x'}, REG_SZ,
         STATUS_SUCCESS, u"\\DosDevices\\COM8"},
        {"embedded NUL", std::vector<UCHAR>{'C', 0, 'O', 0, 'M', 0, '7', 0, 0, 0, 'X', 0, 0, 0},
         REG_SZ, STATUS_SUCCESS, u"\\DosDevices\\COM7"},
        {"missing", std::nullopt, REG_SZ, STATUS_OBJECT_NAME_NOT_FOUND, u"\\DosDevices\\COM5"},
        {"empty", std::vector<UCHAR>{0, 0}, REG_SZ, STATUS_OBJECT_NAME_NOT_FOUND,
         u"\\DosDevices\\"},
        {"a number", std::vector<UCHAR>{5, 0, 0, 0}, REG_DWORD, STATUS_OBJECT_TYPE_MISMATCH,
         u"\\DosDevices\\COM5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t logged = sim::ErrorLogEntries().size();
        sim::registry::SetDword(DeviceKey(), u"SerialSkipExternalNaming", 0);
        if (c.data) {
            sim::registry::SetValue(DeviceKey(), u"PortName", c.type, *c.data);
        } else {
            sim::registry::DeleteValue(DeviceKey(), u"PortName");
        }
        EXPECT_EQ(AddPort(), c.status);
        auto log = sim::ErrorLogEntries();
        log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(logged));
        if (NT_SUCCESS(c.status)) {
            EXPECT_EQ(LinkTarget(c.linkName), std::u16string(kPortDeviceName));
            const std::u16string name = std::u16string(c.linkName).substr(12);
            EXPECT_EQ(SerialCommValue(), name);
            ASSERT_NE(TestPort::last, nullptr);
            EXPECT_EQ(TestPort::last->portName.LengthInCharacters(), name.size());
            EXPECT_TRUE(log.empty());
            delete TestPort::last;  // with its device object and its name
            ExpectUnnamed(c.linkName);
        } else {
            ExpectUnnamed(c.linkName);
            ASSERT_EQ(log.size(), 1U);
            EXPECT_EQ(log[0].errorCode, kLogPortNameMissing);
            EXPECT_TRUE(log[0].strings.empty());
        }
    }
}

TEST_F(PortNamingTest, TakenLinkNameFailsTheDeviceAndIsLogged) {
    UNICODE_STRING link;
    UNICODE_STRING target;
    RtlInitUnicodeString(&link, u"\\DosDevices\\COM5");
    RtlInitUnicodeString(&target, u"\\Device\\Serial0");
    ASSERT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_SUCCESS);

    EXPECT_EQ(AddPort(), STATUS_OBJECT_NAME_COLLISION);
    const auto log = sim::ErrorLogEntries();
    ASSERT_EQ(log.size(), 1U);
    EXPECT_EQ(log[0].errorCode, kLogSymbolicLinkFailed);
    EXPECT_EQ(log[0].strings, std::vector<std::u16string>{u"\\DosDevices\\COM5"});
    // The other device's link is untouched.
    EXPECT_EQ(LinkTarget(u"\\DosDevices\\COM5"), std::u16string(u"\\Device\\Serial0"));
    EXPECT_FALSE(SerialCommValue().has_value());
    EXPECT_TRUE(ComPortInterfaces().empty());
    (void)IoDeleteSymbolicLink(&link);
}

// Every allocation of the driver that fails while the port is built fails the
// device and leaves no part of its name behind.
TEST_F(PortNamingTest, AllocationFailuresLeaveNoNameBehind) {
    const sim::PoolUsage before = sim::PoolInUse(framework::kPoolTag);
    for (std::uint64_t nth = 1;; ++nth) {
        SCOPED_TRACE(::testing::Message() << "allocation " << nth);
        ASSERT_LT(nth, 200U);
        sim::ClearFaults();
        sim::AddFault({sim::FaultSite::Pool, framework::kPoolTag, nth, 1, 0.0});
        NTSTATUS status;
        try {
            status = AddPort();
        } catch (const kernel::StatusException& raised) {
            status = raised.Status();  // the test's AddDevice builds the name unguarded
        }
        if (sim::InjectedFailures() == 0) {
            EXPECT_EQ(status, STATUS_SUCCESS);
            break;
        }
        EXPECT_FALSE(NT_SUCCESS(status));
        ExpectUnnamed();
        EXPECT_EQ(sim::PoolInUse(framework::kPoolTag).blocks, before.blocks);
    }
    sim::ClearFaults();
    EXPECT_TRUE(SerialCommValue().has_value());
}

}  // namespace
}  // namespace serial::testing
