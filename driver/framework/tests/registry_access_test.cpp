// The registry readers and writer over the simulated registry.
#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "framework/pool.h"
#include "framework/registry_access.h"
#include "framework_fixture.h"
#include "sim/faults.h"

namespace framework {
namespace {

constexpr std::u16string_view kKeyPath =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zovtest";

class RegistryAccessTest : public testing::FrameworkTest {
  protected:
    void SetUp() override {
        FrameworkTest::SetUp();
        sim::registry::CreateKey(kKeyPath);
        UNICODE_STRING path{static_cast<USHORT>(kKeyPath.size() * 2),
                            static_cast<USHORT>(kKeyPath.size() * 2),
                            const_cast<PWSTR>(kKeyPath.data())};
        key_ = OpenKey(&path, KEY_READ | KEY_WRITE);
        ASSERT_NE(key_, nullptr);
    }
    void TearDown() override {
        if (key_ != nullptr) {
            EXPECT_EQ(ZwClose(key_), STATUS_SUCCESS);
        }
        FrameworkTest::TearDown();
    }

    HANDLE key_ = nullptr;
};

std::vector<UCHAR> Bytes(std::initializer_list<UCHAR> bytes) {
    return bytes;
}

TEST_F(RegistryAccessTest, ReadDwordAcceptsFourByteValuesOnly) {
    struct Case {
        const char16_t* name;
        ULONG type;
        std::vector<UCHAR> data;
        NTSTATUS status;
        ULONG value;  // the output, starting as 0xDEAD
    };
    const Case cases[] = {
        {u"Dword", REG_DWORD, Bytes({1, 0, 0, 0}), STATUS_SUCCESS, 1},
        {u"Binary4", REG_BINARY, Bytes({0x78, 0x56, 0x34, 0x12}), STATUS_SUCCESS, 0x12345678},
        {u"Binary3", REG_BINARY, Bytes({1, 2, 3}), STATUS_OBJECT_TYPE_MISMATCH, 0xDEAD},
        {u"Binary5", REG_BINARY, Bytes({1, 2, 3, 4, 5}), STATUS_OBJECT_TYPE_MISMATCH, 0xDEAD},
        {u"EmptyBinary", REG_BINARY, {}, STATUS_OBJECT_TYPE_MISMATCH, 0xDEAD},
        {u"ShortDword", REG_DWORD, Bytes({9, 9}), STATUS_OBJECT_TYPE_MISMATCH, 0xDEAD},
        {u"Text", REG_SZ, Bytes({'1', 0, 0, 0}), STATUS_OBJECT_TYPE_MISMATCH, 0xDEAD},
    };
    for (const auto& c : cases) sim::registry::SetValue(kKeyPath, c.name, c.type, c.data);
    for (const auto& c : cases) {
        ULONG value = 0xDEAD;
        EXPECT_EQ(ReadDword(key_, c.name, &value), c.status) << c.type;
        EXPECT_EQ(value, c.value) << c.type;
    }
    ULONG value = 0xDEAD;
    EXPECT_EQ(ReadDword(key_, u"Missing", &value), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(value, 0xDEADu);
}

TEST_F(RegistryAccessTest, ReadStringTakesTheStringTypesIntoANewBuffer) {
    struct Case {
        const char16_t* name;
        ULONG type;
        std::vector<UCHAR> data;
        NTSTATUS status;
        std::u16string text;
        USHORT maximumLength;
    };
    const Case cases[] = {
        {u"Sz", REG_SZ, Bytes({'C', 0, 'O', 0, 'M', 0, '5', 0, 0, 0}), STATUS_SUCCESS, u"COM5", 10},
        {u"Expand", REG_EXPAND_SZ, Bytes({'%', 0, 0, 0}), STATUS_SUCCESS, u"%", 4},
        {u"Multi", REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}), STATUS_SUCCESS,
         std::u16string(u"a\0b\0", 4), 10},
        // Malformed data still gives a terminated string within its buffer.
        {u"Unterminated", REG_SZ, Bytes({'A', 0, 'B', 0}), STATUS_SUCCESS, u"AB", 6},
        {u"OddLength", REG_SZ, Bytes({'A', 0, 0, 0, 'x'}), STATUS_SUCCESS, u"A", 4},
        {u"Empty", REG_SZ, {}, STATUS_SUCCESS, u"", 2},
        {u"Number", REG_DWORD, Bytes({1, 0, 0, 0}), STATUS_OBJECT_TYPE_MISMATCH, u"old", 0},
    };
    for (const auto& c : cases) sim::registry::SetValue(kKeyPath, c.name, c.type, c.data);
    for (const auto& c : cases) {
        CountedString string;
        string.Assign(u"old");
        const USHORT oldMaximum = string.Get()->MaximumLength;
        EXPECT_EQ(ReadString(key_, c.name, &string), c.status) << c.type;
        EXPECT_EQ(std::u16string(string.Text(), string.LengthInCharacters()), c.text);
        EXPECT_EQ(string.Text()[string.LengthInCharacters()], 0);
        EXPECT_EQ(string.Get()->MaximumLength, c.maximumLength != 0 ? c.maximumLength : oldMaximum);
    }
}

TEST_F(RegistryAccessTest, ReadsFailWithoutChangesWhenPoolRunsOut) {
    sim::registry::SetDword(kKeyPath, u"Value", 5);
    sim::registry::SetString(kKeyPath, u"Name", u"COM9");
    sim::AddFault({.site = sim::FaultSite::Pool, .tag = kPoolTag, .nth = 1, .count = 2});
    ULONG value = 1;
    EXPECT_EQ(ReadDword(key_, u"Value", &value), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(value, 1u);
    CountedString string;
    EXPECT_EQ(ReadString(key_, u"Name", &string), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(string.Get()->Buffer, nullptr);
}

TEST_F(RegistryAccessTest, WriteDwordStoresARegDword) {
    WriteDword(key_, u"DeviceEnable", 0);
    EXPECT_EQ(sim::registry::GetDword(kKeyPath, u"deviceenable"), 0u);
    WriteDword(key_, u"DeviceEnable", 1);
    EXPECT_EQ(sim::registry::GetDword(kKeyPath, u"DeviceEnable"), 1u);
}

TEST_F(RegistryAccessTest, OpenersAnswerNullOnFailure) {
    UNICODE_STRING missing = RTL_CONSTANT_STRING(u"\\Registry\\Machine\\Nothing\\Here");
    EXPECT_EQ(OpenKey(&missing, KEY_READ), nullptr);
    EXPECT_EQ(OpenDeviceKey(nullptr, KEY_READ), nullptr);

    sim::registry::SetDword(sim::registry::DeviceKeyPath(Device(), PLUGPLAY_REGKEY_DEVICE),
                            u"CtsOption", 3);
    HANDLE deviceKey = OpenDeviceKey(Device(), KEY_READ);
    ASSERT_NE(deviceKey, nullptr);
    ULONG value = 0;
    EXPECT_EQ(ReadDword(deviceKey, u"CtsOption", &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 3u);
    EXPECT_EQ(ZwClose(deviceKey), STATUS_SUCCESS);
}

}  // namespace
}  // namespace framework
