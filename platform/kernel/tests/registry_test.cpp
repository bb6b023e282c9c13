// The in-memory registry through the Zw*/Rtl* routines and the test-side controls.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include "kernel/ke.h"
#include "kernel/registry.h"
#include "kernel/rtl.h"
#include "sim/registry.h"
#include "sim/resource_check.h"
#include "sim/system.h"
#include "sim/verifier.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr std::u16string_view kServiceKey =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zovusb";

std::string Narrow(std::u16string_view text) {
    return std::string(text.begin(), text.end());
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::registry::Reset(); }
    void TearDown() override { EXPECT_THAT(sim::registry::OpenHandles(), IsEmpty()); }

    static NTSTATUS Open(const char16_t* path, ACCESS_MASK access, HANDLE* handle,
                         HANDLE root = nullptr) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, path);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                                   root, nullptr);
        return ZwOpenKey(handle, access, &attributes);
    }

    static NTSTATUS Query(
        HANDLE key, const char16_t* valueName, void* buffer, ULONG length, ULONG* resultLength,
        KEY_VALUE_INFORMATION_CLASS informationClass = KeyValuePartialInformation) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, valueName);
        return ZwQueryValueKey(key, &name, informationClass, buffer, length, resultLength);
    }
};

TEST_F(RegistryTest, OpensPresetKeysWithoutRegardToCaseAndReportsMissingOnes) {
    sim::registry::SetDword(kServiceKey, u"UseVirtualPorts", 0);
    HANDLE key = nullptr;
    ASSERT_EQ(
        Open(u"\\REGISTRY\\machine\\SYSTEM\\currentcontrolset\\services\\ZOVUSB", KEY_READ, &key),
        STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_INVALID_HANDLE);

    struct Case {
        const char16_t* path;
        NTSTATUS status;
    };
    const Case cases[] = {
        {u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\other",
         STATUS_OBJECT_NAME_NOT_FOUND},
        {u"\\Registry\\Machine\\Nowhere\\zovusb", STATUS_OBJECT_PATH_NOT_FOUND},
        {u"Registry\\Machine", STATUS_OBJECT_PATH_SYNTAX_BAD},
        {u"\\Registry\\\\Machine", STATUS_OBJECT_NAME_INVALID},
        {u"\\Registry\\Machine\\", STATUS_OBJECT_NAME_INVALID},
        {u"", STATUS_OBJECT_PATH_SYNTAX_BAD},
    };
    for (const auto& c : cases) {
        HANDLE unused = nullptr;
        EXPECT_EQ(Open(c.path, KEY_READ, &unused), c.status) << Narrow(c.path);
    }
}

TEST_F(RegistryTest, PartialInformationAnswersSizeQueriesAsDocumented) {
    sim::registry::SetDword(kServiceKey, u"UseVirtualPorts", 0x11223344);
    HANDLE key = nullptr;
    ASSERT_EQ(Open(kServiceKey.data(), KEY_READ, &key), STATUS_SUCCESS);
    constexpr ULONG kFixed = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);

    alignas(8) UCHAR buffer[32];
    struct Case {
        ULONG length;
        NTSTATUS status;
        ULONG dataBytesWritten;
    };
    const Case cases[] = {
        {0, STATUS_BUFFER_TOO_SMALL, 0},     {kFixed - 1, STATUS_BUFFER_TOO_SMALL, 0},
        {kFixed, STATUS_BUFFER_OVERFLOW, 0}, {kFixed + 2, STATUS_BUFFER_OVERFLOW, 2},
        {kFixed + 4, STATUS_SUCCESS, 4},     {sizeof buffer, STATUS_SUCCESS, 4},
    };
    for (const auto& c : cases) {
        std::memset(buffer, 0xCC, sizeof buffer);
        ULONG resultLength = 0;
        EXPECT_EQ(Query(key, u"usevirtualports", buffer, c.length, &resultLength), c.status)
            << c.length;
        EXPECT_EQ(resultLength, kFixed + 4) << c.length;
        // Nothing beyond the given length is touched.
        for (ULONG i = c.length; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0xCC) << c.length;
        if (c.length < kFixed) continue;
        KEY_VALUE_PARTIAL_INFORMATION header;
        std::memcpy(&header, buffer, kFixed);
        EXPECT_EQ(header.Type, REG_DWORD);
        EXPECT_EQ(header.DataLength, 4u);
        const UCHAR expected[] = {0x44, 0x33, 0x22, 0x11};
        EXPECT_EQ(std::memcmp(buffer + kFixed, expected, c.dataBytesWritten), 0);
    }
    ULONG resultLength = 0;
    EXPECT_EQ(Query(key, u"Missing", buffer, sizeof buffer, &resultLength),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

TEST_F(RegistryTest, BasicAndFullInformationCarryTheNameAndAlignedData) {
    sim::registry::SetString(kServiceKey, u"PortName", u"COM5");
    HANDLE key = nullptr;
    ASSERT_EQ(Open(kServiceKey.data(), KEY_QUERY_VALUE, &key), STATUS_SUCCESS);

    alignas(8) UCHAR buffer[128] = {};
    ULONG resultLength = 0;
    ASSERT_EQ(
        Query(key, u"portname", buffer, sizeof buffer, &resultLength, KeyValueFullInformation),
        STATUS_SUCCESS);
    KEY_VALUE_FULL_INFORMATION full;
    std::memcpy(&full, buffer, offsetof(KEY_VALUE_FULL_INFORMATION, Name));
    EXPECT_EQ(full.Type, REG_SZ);
    EXPECT_EQ(full.NameLength, 16u);  // as first written, "PortName"
    EXPECT_EQ(full.DataOffset % 4, 0u);
    EXPECT_EQ(full.DataLength, 10u);
    EXPECT_EQ(resultLength, full.DataOffset + full.DataLength);
    EXPECT_EQ(std::memcmp(buffer + full.DataOffset, u"COM5", 10), 0);
    EXPECT_EQ(std::memcmp(buffer + offsetof(KEY_VALUE_FULL_INFORMATION, Name), u"PortName", 16), 0);

    ASSERT_EQ(
        Query(key, u"PortName", buffer, sizeof buffer, &resultLength, KeyValueBasicInformation),
        STATUS_SUCCESS);
    EXPECT_EQ(resultLength, offsetof(KEY_VALUE_BASIC_INFORMATION, Name) + 16);
    EXPECT_EQ(Query(key, u"PortName", buffer, sizeof buffer, &resultLength,
                    KeyValuePartialInformationAlign64),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

TEST_F(RegistryTest, HandlesEnforceTheirAccessRights) {
    sim::registry::CreateKey(kServiceKey);
    HANDLE readOnly = nullptr;
    ASSERT_EQ(Open(kServiceKey.data(), KEY_READ, &readOnly), STATUS_SUCCESS);
    UNICODE_STRING name = RTL_CONSTANT_STRING(u"Value");
    ULONG data = 7;
    EXPECT_EQ(ZwSetValueKey(readOnly, &name, 0, REG_DWORD, &data, sizeof data),
              STATUS_ACCESS_DENIED);
    EXPECT_EQ(ZwDeleteValueKey(readOnly, &name), STATUS_ACCESS_DENIED);
    EXPECT_EQ(ZwClose(readOnly), STATUS_SUCCESS);

    HANDLE writeOnly = nullptr;
    ASSERT_EQ(Open(kServiceKey.data(), KEY_SET_VALUE, &writeOnly), STATUS_SUCCESS);
    EXPECT_EQ(ZwSetValueKey(writeOnly, &name, 0, REG_DWORD, &data, sizeof data), STATUS_SUCCESS);
    ULONG resultLength = 0;
    EXPECT_EQ(Query(writeOnly, u"Value", nullptr, 0, &resultLength), STATUS_ACCESS_DENIED);
    EXPECT_EQ(ZwClose(writeOnly), STATUS_SUCCESS);
    EXPECT_EQ(sim::registry::GetDword(kServiceKey, u"VALUE"), 7u);

    HANDLE generic = nullptr;
    ASSERT_EQ(Open(kServiceKey.data(), 0x80000000 /* GENERIC_READ */, &generic), STATUS_SUCCESS);
    EXPECT_EQ(Query(generic, u"Value", nullptr, 0, &resultLength), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(ZwClose(generic), STATUS_SUCCESS);
}

TEST_F(RegistryTest, CreateKeyMakesOnlyTheLastComponentAndOpensRelativeToARoot) {
    UNICODE_STRING name =
        RTL_CONSTANT_STRING(u"\\Registry\\Machine\\Hardware\\DeviceMap\\SERIALCOMM");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE key = nullptr;
    ULONG disposition = 0;
    ASSERT_EQ(ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, REG_OPTION_VOLATILE,
                          &disposition),
              STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG{REG_CREATED_NEW_KEY});

    HANDLE again = nullptr;
    ASSERT_EQ(ZwCreateKey(&again, KEY_READ, &attributes, 0, nullptr, 0, &disposition),
              STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG{REG_OPENED_EXISTING_KEY});
    EXPECT_EQ(ZwClose(again), STATUS_SUCCESS);

    UNICODE_STRING deep = RTL_CONSTANT_STRING(u"\\Registry\\Machine\\Absent\\Child");
    attributes.ObjectName = &deep;
    EXPECT_EQ(ZwCreateKey(&again, KEY_READ, &attributes, 0, nullptr, 0, nullptr),
              STATUS_OBJECT_PATH_NOT_FOUND);

    UNICODE_STRING child = RTL_CONSTANT_STRING(u"Child");
    InitializeObjectAttributes(&attributes, &child, OBJ_KERNEL_HANDLE, key, nullptr);
    ASSERT_EQ(ZwCreateKey(&again, KEY_READ, &attributes, 0, nullptr, 0, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(again), STATUS_SUCCESS);
    EXPECT_TRUE(
        sim::registry::KeyExists(u"\\registry\\machine\\hardware\\devicemap\\serialcomm\\CHILD"));
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

TEST_F(RegistryTest, RtlRoutinesResolveTheRelativeRoots) {
    struct Case {
        ULONG relativeTo;
        const char16_t* path;
        std::u16string_view key;
    };
    const Case cases[] = {
        {RTL_REGISTRY_DEVICEMAP, u"SERIALCOMM",
         u"\\Registry\\Machine\\Hardware\\DeviceMap\\SERIALCOMM"},
        {RTL_REGISTRY_SERVICES, u"zovusb", kServiceKey},
        {RTL_REGISTRY_CONTROL, nullptr, u"\\Registry\\Machine\\System\\CurrentControlSet\\Control"},
        {RTL_REGISTRY_WINDOWS_NT, u"Ports",
         u"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports"},
        {RTL_REGISTRY_ABSOLUTE, u"\\Registry\\User\\.Default\\Zov",
         u"\\Registry\\User\\.Default\\Zov"},
        {RTL_REGISTRY_SERVICES | RTL_REGISTRY_OPTIONAL, u"\\Registry\\Machine\\Hardware\\DeviceMap",
         u"\\Registry\\Machine\\Hardware\\DeviceMap"},
    };
    WCHAR data[] = u"COM7";
    for (const auto& c : cases) {
        EXPECT_EQ(RtlWriteRegistryValue(c.relativeTo, c.path, u"\\Device\\Port0", REG_SZ, data,
                                        sizeof data),
                  STATUS_SUCCESS)
            << Narrow(c.key);
        EXPECT_EQ(sim::registry::GetString(c.key, u"\\device\\port0"), u"COM7") << Narrow(c.key);
        EXPECT_EQ(RtlDeleteRegistryValue(c.relativeTo, c.path, u"\\Device\\Port0"), STATUS_SUCCESS);
        EXPECT_FALSE(sim::registry::GetValue(c.key, u"\\Device\\Port0").has_value());
    }
    EXPECT_EQ(RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, u"SERIALCOMM", u"\\Device\\Port0"),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_MAXIMUM, u"x", u"v", REG_SZ, data, sizeof data),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(
        RtlWriteRegistryValue(RTL_REGISTRY_SERVICES, u"a\\b", u"v", REG_SZ, data, sizeof data),
        STATUS_OBJECT_PATH_NOT_FOUND);
    WCHAR control[] = u"";
    EXPECT_EQ(RtlCheckRegistryKey(RTL_REGISTRY_CONTROL, control), STATUS_SUCCESS);
}

TEST_F(RegistryTest, EachDeviceObjectHasItsOwnKeysAndABindingCanShareThem) {
    // Device objects are only named here, never dereferenced.
    alignas(16) static char first, second;
    auto* device1 = reinterpret_cast<DEVICE_OBJECT*>(&first);
    auto* device2 = reinterpret_cast<DEVICE_OBJECT*>(&second);
    sim::registry::SetDword(sim::registry::DeviceKeyPath(device1, PLUGPLAY_REGKEY_DEVICE),
                            u"CtsOption", 1);

    HANDLE key = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(device2, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key),
              STATUS_SUCCESS);
    ULONG resultLength = 0;
    EXPECT_EQ(Query(key, u"CtsOption", nullptr, 0, &resultLength), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);

    sim::registry::BindDeviceKey(device2, PLUGPLAY_REGKEY_DEVICE,
                                 sim::registry::DeviceKeyPath(device1, PLUGPLAY_REGKEY_DEVICE));
    ASSERT_EQ(IoOpenDeviceRegistryKey(device2, PLUGPLAY_REGKEY_DEVICE, KEY_WRITE, &key),
              STATUS_SUCCESS);
    ULONG value = 2;
    UNICODE_STRING name = RTL_CONSTANT_STRING(u"DsrOption");
    EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_DWORD, &value, sizeof value), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_THAT(
        sim::registry::ValueNames(sim::registry::DeviceKeyPath(device1, PLUGPLAY_REGKEY_DEVICE)),
        ElementsAre(u"CtsOption", u"DsrOption"));

    EXPECT_NE(sim::registry::DeviceKeyPath(device1, PLUGPLAY_REGKEY_DRIVER),
              sim::registry::DeviceKeyPath(device2, PLUGPLAY_REGKEY_DRIVER));
    EXPECT_EQ(IoOpenDeviceRegistryKey(device1, 3, KEY_READ, &key), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(IoOpenDeviceRegistryKey(nullptr, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key),
              STATUS_INVALID_PARAMETER);
}

TEST_F(RegistryTest, OpenHandlesAreReportedAsLeftoversAndDeletedKeysAnswerSo) {
    sim::registry::CreateKey(kServiceKey);
    HANDLE key = nullptr;
    ASSERT_EQ(Open(kServiceKey.data(), KEY_ALL_ACCESS, &key), STATUS_SUCCESS);
    std::vector<std::string> leftovers;
    for (const auto& item : sim::RunResourceChecks()) {
        if (item.rfind("registry handle", 0) == 0) leftovers.push_back(item);
    }
    ASSERT_EQ(leftovers.size(), 1u);
    EXPECT_THAT(leftovers[0],
                HasSubstr("\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zovusb"));

    ASSERT_TRUE(
        sim::registry::DeleteKey(u"\\Registry\\Machine\\System\\CurrentControlSet\\Services"));
    ULONG resultLength = 0;
    EXPECT_EQ(Query(key, u"x", nullptr, 0, &resultLength), STATUS_KEY_DELETED);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

TEST_F(RegistryTest, CallsAbovePassiveLevelAreReportedAndFail) {
    sim::System system;
    sim::registry::CreateKey(kServiceKey);
    HANDLE key = nullptr;
    ASSERT_EQ(Open(kServiceKey.data(), KEY_READ, &key), STATUS_SUCCESS);
    sim::BugCheckCapture capture;
    const KIRQL previous = KfRaiseIrql(DISPATCH_LEVEL);
    HANDLE other = nullptr;
    EXPECT_FALSE(NT_SUCCESS(Open(kServiceKey.data(), KEY_READ, &other)));
    ULONG resultLength = 0;
    EXPECT_FALSE(NT_SUCCESS(Query(key, u"v", nullptr, 0, &resultLength)));
    WCHAR data[] = u"x";
    EXPECT_FALSE(NT_SUCCESS(
        RtlWriteRegistryValue(RTL_REGISTRY_SERVICES, u"zovusb", u"v", REG_SZ, data, sizeof data)));
    KfLowerIrql(previous);
    EXPECT_EQ(capture.Count(sim::Rule::RoutineAtRaisedIrql), 3u);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

TEST_F(RegistryTest, MalformedNamesAndBuffersAreRefused) {
    sim::registry::SetDword(kServiceKey, u"v", 1);
    HANDLE key = nullptr;
    ASSERT_EQ(Open(kServiceKey.data(), KEY_ALL_ACCESS, &key), STATUS_SUCCESS);
    WCHAR text[] = u"v";
    UNICODE_STRING odd{3, 4, text};
    UNICODE_STRING overlong{6, 4, text};
    UNICODE_STRING noBuffer{2, 2, nullptr};
    ULONG resultLength = 0;
    ULONG data = 0;
    for (auto* name : {&odd, &overlong, &noBuffer}) {
        EXPECT_EQ(ZwQueryValueKey(key, name, KeyValuePartialInformation, nullptr, 0, &resultLength),
                  STATUS_INVALID_PARAMETER);
        EXPECT_EQ(ZwSetValueKey(key, name, 0, REG_DWORD, &data, 4), STATUS_INVALID_PARAMETER);
    }
    UNICODE_STRING good = RTL_CONSTANT_STRING(u"v");
    EXPECT_EQ(ZwQueryValueKey(key, &good, KeyValuePartialInformation, nullptr, 16, &resultLength),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ZwQueryValueKey(key, &good, KeyValuePartialInformation, nullptr, 0, nullptr),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ZwSetValueKey(key, &good, 0, REG_DWORD, nullptr, 4), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(nullptr), STATUS_INVALID_HANDLE);
}

TEST_F(RegistryTest, ConcurrentWritersAndReadersSeeWholeValues) {
    sim::registry::CreateKey(kServiceKey);
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int round = 0; round < kRounds; ++round) {
                HANDLE key = nullptr;
                ASSERT_EQ(Open(kServiceKey.data(), KEY_ALL_ACCESS, &key), STATUS_SUCCESS);
                ULONG pair[2] = {static_cast<ULONG>(t), static_cast<ULONG>(round)};
                pair[1] = pair[0] ^ 0xA5A5A5A5u;
                UNICODE_STRING name = RTL_CONSTANT_STRING(u"Shared");
                ASSERT_EQ(ZwSetValueKey(key, &name, 0, REG_BINARY, pair, sizeof pair),
                          STATUS_SUCCESS);
                alignas(8) UCHAR buffer[32];
                ULONG resultLength = 0;
                ASSERT_EQ(ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer,
                                          sizeof buffer, &resultLength),
                          STATUS_SUCCESS);
                ULONG seen[2];
                std::memcpy(seen, buffer + offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data),
                            sizeof seen);
                ASSERT_EQ(seen[1], seen[0] ^ 0xA5A5A5A5u);
                ASSERT_EQ(ZwClose(key), STATUS_SUCCESS);
            }
        });
    }
    for (auto& thread : threads) thread.join();
}

}  // namespace
