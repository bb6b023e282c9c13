// Late binding: GetIDsOfNames and Invoke over the dispatch ids, the argument
// forms automation clients pass, and failures as exceptions.
#include <vector>

#include "com_support.h"

namespace hidbridge::test {
namespace {

constexpr DISPID kFindTheHid = 0x60030000;
constexpr DISPID kShutdown = 0x60030007;
constexpr DISPID kSendFeature = 0x60030008;
constexpr DISPID kGetFeature = 0x60030009;
constexpr DISPID kReadData = 0x6003000A;
constexpr DISPID kReadDataDirect = 0x6003000B;
constexpr DISPID kWriteData = 0x6003000C;

class DispatchTest : public HidPortTest {
  protected:
    void SetUp() override {
        HidPortTest::SetUp();
        ComPtr<_HidPort> port = CreatePort();
        ASSERT_EQ(port->QueryInterface(IID_IDispatch, dispatch_.OutVoid()), S_OK);
    }
    void TearDown() override {
        dispatch_.Reset();
        HidPortTest::TearDown();
    }

    HRESULT Invoke(DISPID dispId, std::vector<VARIANT> arguments, VARIANT* result,
                   EXCEPINFO* excepInfo = nullptr, UINT* argErr = nullptr,
                   WORD flags = DISPATCH_METHOD) {
        DISPPARAMS params{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
        return dispatch_->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                                 excepInfo, argErr);
    }

    ComPtr<IDispatch> dispatch_;
};

VARIANT Value(VARTYPE type) {
    VARIANT v;
    VariantInit(&v);
    v.vt = type;
    return v;
}

TEST_F(DispatchTest, NamesMapToTheirDispatchIdsWithoutRegardToCase) {
    const struct {
        const char16_t* name;
        DISPID dispId;
    } cases[] = {
        {u"FindTheHid", kFindTheHid},   {u"Shutdown", kShutdown},
        {u"SendFeature", kSendFeature}, {u"GetFeature", kGetFeature},
        {u"ReadData", kReadData},       {u"READDATADIRECT", kReadDataDirect},
        {u"writedata", kWriteData},
    };
    for (const auto& entry : cases) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(entry.name)};
        DISPID dispId = 0;
        EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispId), S_OK);
        EXPECT_EQ(dispId, entry.dispId);
    }

    LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"ReadDat"), const_cast<LPOLESTR>(u"readTimeout")};
    DISPID dispIds[2] = {0, 0};
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, unknown, 2, LOCALE_USER_DEFAULT, dispIds),
              DISP_E_UNKNOWNNAME);
    EXPECT_EQ(dispIds[0], DISPID_UNKNOWN);
    EXPECT_EQ(dispIds[1], DISPID_UNKNOWN);
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID__HidPort, unknown, 1, LOCALE_USER_DEFAULT, dispIds),
              DISP_E_UNKNOWNINTERFACE);

    // The simulation cannot load type libraries: no type information is offered.
    UINT count = 7;
    EXPECT_EQ(dispatch_->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    ComPtr<ITypeInfo> typeInfo;
    EXPECT_EQ(dispatch_->GetTypeInfo(0, LOCALE_USER_DEFAULT, typeInfo.Out()),
              TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(dispatch_->GetTypeInfo(1, LOCALE_USER_DEFAULT, typeInfo.Out()), DISP_E_BADINDEX);
    EXPECT_EQ(typeInfo.Get(), nullptr);
}

TEST_F(DispatchTest, MalformedCallsAreRefused) {
    VARIANT text = Value(VT_BSTR);
    text.bstrVal = SysAllocString(u"41");
    VARIANT object = Value(VT_DISPATCH);  // an empty object reference
    VARIANT real = Value(VT_R8);
    VARIANT large = Value(VT_I4);
    large.lVal = 40000;
    DISPID named = 0;
    const struct {
        const char* what;
        DISPID dispId;
        WORD flags;
        std::vector<VARIANT> arguments;
        bool namedArgument;
        HRESULT expected;
    } cases[] = {
        {"unknown dispatch id", 0x60030001, DISPATCH_METHOD, {}, false, DISP_E_MEMBERNOTFOUND},
        {"property put", kShutdown, DISPATCH_PROPERTYPUT, {}, false, DISP_E_MEMBERNOTFOUND},
        {"argument too many", kGetFeature, DISPATCH_METHOD, {text}, false, DISP_E_BADPARAMCOUNT},
        {"argument missing", kWriteData, DISPATCH_METHOD, {}, false, DISP_E_BADPARAMCOUNT},
        {"named argument", kWriteData, DISPATCH_METHOD, {text}, true, DISP_E_NONAMEDARGS},
        {"object for text", kWriteData, DISPATCH_METHOD, {object}, false, DISP_E_TYPEMISMATCH},
        {"real for time-out", kReadData, DISPATCH_METHOD, {real}, false, DISP_E_TYPEMISMATCH},
        {"time-out beyond 16 bits", kReadData, DISPATCH_METHOD, {large}, false, DISP_E_OVERFLOW},
    };
    for (const auto& entry : cases) {
        std::vector<VARIANT> arguments = entry.arguments;
        DISPPARAMS params{arguments.data(), entry.namedArgument ? &named : nullptr,
                          static_cast<UINT>(arguments.size()), entry.namedArgument ? 1u : 0u};
        VARIANT result = Value(VT_EMPTY);
        UINT argErr = 99;
        EXPECT_EQ(dispatch_->Invoke(entry.dispId, IID_NULL, LOCALE_USER_DEFAULT, entry.flags,
                                    &params, &result, nullptr, &argErr),
                  entry.expected)
            << entry.what;
        EXPECT_EQ(result.vt, VT_EMPTY) << entry.what;
        if (entry.expected == DISP_E_TYPEMISMATCH || entry.expected == DISP_E_OVERFLOW) {
            EXPECT_EQ(argErr, 0u) << entry.what;
        }
    }
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(dispatch_->Invoke(kShutdown, IID__HidPort, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    VariantClear(&text);
}

TEST_F(DispatchTest, ArgumentsArriveInEveryFormClientsPassAndStayUnchanged) {
    win32sim::AddHidDevice(Scanner(0, 3, 5, 0));
    Bstr text("4142");
    VARIANT inner = Value(VT_BSTR);
    inner.bstrVal = text.Get();
    VARIANT byValue = Value(VT_BSTR);
    byValue.bstrVal = text.Get();
    VARIANT byReference = Value(VT_BSTR | VT_BYREF);
    byReference.pbstrVal = text.Address();
    VARIANT variantByReference = Value(VT_VARIANT | VT_BYREF);
    variantByReference.pvarVal = &inner;
    VARIANT number = Value(VT_I4);  // converted to its decimal text
    number.lVal = 4142;
    for (const VARIANT& argument : {byValue, byReference, variantByReference, number}) {
        VARIANT result = Value(VT_EMPTY);
        ASSERT_EQ(Invoke(kWriteData, {argument}, &result), S_OK) << argument.vt;
        ASSERT_EQ(result.vt, VT_BSTR);
        EXPECT_EQ(Narrow(result.bstrVal, SysStringLen(result.bstrVal)), "41420000");
        VariantClear(&result);
    }
    EXPECT_EQ(text.Narrow(), "4142");
    EXPECT_EQ(inner.bstrVal, text.Get());

    SHORT seconds = 0;
    VARIANT innerNumber = Value(VT_I2);
    VARIANT shortByReference = Value(VT_I2 | VT_BYREF);
    shortByReference.piVal = &seconds;
    VARIANT shortInVariant = Value(VT_VARIANT | VT_BYREF);
    shortInVariant.pvarVal = &innerNumber;
    VARIANT digits = Value(VT_BSTR);
    Bstr zero("0");
    digits.bstrVal = zero.Get();
    VARIANT longValue = Value(VT_I4);
    for (const VARIANT& argument :
         {Value(VT_I2), shortByReference, shortInVariant, digits, longValue}) {
        win32sim::QueueInputReport(0, {0, 0xAB, 0xCD});
        VARIANT result = Value(VT_EMPTY);
        ASSERT_EQ(Invoke(kReadData, {argument}, &result), S_OK) << argument.vt;
        ASSERT_EQ(result.vt, VT_BSTR);
        EXPECT_EQ(Narrow(result.bstrVal, SysStringLen(result.bstrVal)), "ABCD") << argument.vt;
        VariantClear(&result);
    }
    EXPECT_EQ(seconds, 0);
    EXPECT_EQ(innerNumber.vt, VT_I2);
}

TEST_F(DispatchTest, ResultsAreOwnedByTheCallerOrFreedWhenNotWanted) {
    win32sim::AddHidDevice(Scanner(1, 2, 2, 3));
    VARIANT found = Value(VT_EMPTY);
    ASSERT_EQ(
        Invoke(kFindTheHid, {}, &found, nullptr, nullptr, DISPATCH_METHOD | DISPATCH_PROPERTYGET),
        S_OK);
    EXPECT_EQ(found.vt, VT_BOOL);
    EXPECT_EQ(found.boolVal, VARIANT_TRUE);

    for (DISPID dispId : {kFindTheHid, kGetFeature, kReadDataDirect, kShutdown}) {
        win32sim::QueueInputReport(0, {0, 0x01});
        EXPECT_EQ(Invoke(dispId, {}, nullptr), S_OK) << dispId;
    }
    VARIANT nothing = Value(VT_EMPTY);
    EXPECT_EQ(Invoke(kShutdown, {}, &nothing), S_OK);
    EXPECT_EQ(nothing.vt, VT_EMPTY);
    // The fixture finds no string left over.
}

TEST_F(DispatchTest, FailuresBecomeExceptionsWithTheErrorDescription) {
    // No scanner: GetFeature has no feature report to read.
    VARIANT result = Value(VT_EMPTY);
    EXCEPINFO excepInfo{};
    ASSERT_EQ(Invoke(kGetFeature, {}, &result, &excepInfo), DISP_E_EXCEPTION);
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(excepInfo.scode, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0303));
    EXPECT_EQ(Narrow(excepInfo.bstrSource, SysStringLen(excepInfo.bstrSource)),
              "hidbridge.HidPort");
    EXPECT_EQ(Narrow(excepInfo.bstrDescription, SysStringLen(excepInfo.bstrDescription)),
              "No feature report can be exchanged: no scanner is attached, or its feature report "
              "length is 0.");
    SysFreeString(excepInfo.bstrSource);
    SysFreeString(excepInfo.bstrDescription);
    SysFreeString(excepInfo.bstrHelpFile);

    // Without an EXCEPINFO record the error information stays for GetErrorInfo.
    Bstr text("4G");
    VARIANT argument = Value(VT_BSTR);
    argument.bstrVal = text.Get();
    EXPECT_EQ(Invoke(kWriteData, {argument}, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeErrorDescription(),
              "The text is not hexadecimal: the digit pair at character 1 is not a hexadecimal "
              "number.");
}

}  // namespace
}  // namespace hidbridge::test
