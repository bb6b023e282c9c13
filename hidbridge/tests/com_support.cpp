#include "com_support.h"

namespace hidbridge::test {

Bstr::Bstr(const std::string& text) {
    std::u16string wide(text.begin(), text.end());
    value_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string Bstr::Narrow() const {
    return test::Narrow(value_, SysStringLen(value_));
}

std::string Narrow(const OLECHAR* text, std::size_t length) {
    std::string narrow;
    for (std::size_t i = 0; i < length; ++i) narrow += static_cast<char>(text[i]);
    return narrow;
}

namespace {

template <typename Call>
TextAnswer TextCall(Call call) {
    Bstr result;
    HRESULT hr = call(result.Out());
    if (FAILED(hr)) {
        EXPECT_EQ(result.Get(), nullptr) << "a failed call returned a text";
    }
    return TextAnswer{hr, result.Narrow()};
}

}  // namespace

TextAnswer CallWriteData(_HidPort& port, const std::string& text) {
    Bstr argument(text);
    BSTR before = argument.Get();
    TextAnswer answer =
        TextCall([&](BSTR* result) { return port.WriteData(argument.Address(), result); });
    EXPECT_EQ(argument.Get(), before) << "WriteData changed its by-reference argument";
    return answer;
}

TextAnswer CallSendFeature(_HidPort& port, const std::string& text) {
    Bstr argument(text);
    BSTR before = argument.Get();
    TextAnswer answer =
        TextCall([&](BSTR* result) { return port.SendFeature(argument.Address(), result); });
    EXPECT_EQ(argument.Get(), before) << "SendFeature changed its by-reference argument";
    return answer;
}

TextAnswer CallGetFeature(_HidPort& port) {
    return TextCall([&](BSTR* result) { return port.GetFeature(result); });
}

TextAnswer CallReadData(_HidPort& port, SHORT readTimeout) {
    SHORT argument = readTimeout;
    TextAnswer answer = TextCall([&](BSTR* result) { return port.ReadData(&argument, result); });
    EXPECT_EQ(argument, readTimeout) << "ReadData changed its by-reference argument";
    return answer;
}

TextAnswer CallReadDataDirect(_HidPort& port) {
    return TextCall([&](BSTR* result) { return port.ReadDataDirect(result); });
}

bool CallFindTheHid(_HidPort& port) {
    VARIANT_BOOL found = 1;
    EXPECT_EQ(port.FindTheHid(&found), S_OK);
    EXPECT_TRUE(found == VARIANT_TRUE || found == VARIANT_FALSE) << found;
    return found == VARIANT_TRUE;
}

std::string TakeErrorDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) return "(no error information)";
    Bstr description;
    info->GetDescription(description.Out());
    info->Release();
    return description.Narrow();
}

win32sim::HidDeviceDescription Scanner(int pair, std::uint16_t input, std::uint16_t output,
                                       std::uint16_t feature) {
    win32sim::HidDeviceDescription description;
    description.vendorId = ScannerIdPairs[pair].vendorId;
    description.productId = ScannerIdPairs[pair].productId;
    description.inputReportLength = input;
    description.outputReportLength = output;
    description.featureReportLength = feature;
    return description;
}

void HidPortTest::SetUp() {
    win32sim::Reset();
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(CallServerExport("DllRegisterServer"), S_OK);
}

void HidPortTest::TearDown() {
    SetErrorInfo(0, nullptr);
    CoFreeUnusedLibraries();
    EXPECT_EQ(win32sim::LoadedLibraryCount(), 0) << "an object or server lock is still alive";
    EXPECT_EQ(win32sim::OpenHandleCount(), 0);
    EXPECT_EQ(win32sim::PendingReadCount(), 0);
    EXPECT_EQ(win32sim::OpenDeviceInfoSets(), 0);
    EXPECT_EQ(win32sim::LivePreparsedData(), 0);
    EXPECT_EQ(win32sim::LiveBstrCount(), 0);
    EXPECT_EQ(win32sim::LiveErrorInfoCount(), 0);
    EXPECT_EQ(win32sim::OpenRegistryKeyCount(), 0);
    EXPECT_EQ(win32sim::DeadlockCount(), 0);
    for (const std::string& violation : win32sim::Violations()) ADD_FAILURE() << violation;
    CoUninitialize();
    win32sim::Reset();
}

ComPtr<_HidPort> HidPortTest::CreatePort() {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"hidbridge.HidPort", &clsid), S_OK);
    ComPtr<_HidPort> port;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__HidPort, port.OutVoid()),
              S_OK);
    return port;
}

HRESULT HidPortTest::CallServerExport(const char* name) {
    HMODULE module = LoadLibraryA(HIDBRIDGE_LIBRARY_PATH);
    if (module == nullptr) return E_FAIL;
    using Export = HRESULT(STDAPICALLTYPE*)();
    auto function =
        reinterpret_cast<Export>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    HRESULT hr = function != nullptr ? function() : E_FAIL;
    FreeLibrary(module);
    return hr;
}

}  // namespace hidbridge::test
