// The dispatch table of _HidPort: each method's name, dispatch id, argument
// and the call through the vtable. GetIDsOfNames and Invoke work from this one
// table on every platform, so late-bound callers need no type-library loader;
// GetTypeInfo hands out the registered type library's description where the
// platform can load it.
#pragma once

#include "hid_port_interface.h"

namespace hidbridge {

enum class ArgumentKind { None, Text, Short };

// The one by-reference argument of a call, resolved to the method's type.
struct DispatchArgument {
    BSTR* text = nullptr;
    SHORT* number = nullptr;
};

// Calls the method and stores its result (VT_EMPTY, VT_BOOL or VT_BSTR).
using DispatchCall = HRESULT (*)(_HidPort& port, const DispatchArgument& argument, VARIANT& result);

struct DispatchMember {
    const char* name;
    DISPID dispId;
    ArgumentKind argument;
    DispatchCall call;
};

inline constexpr DispatchMember kDispatchTable[] = {
    {"FindTheHid", 0x60030000, ArgumentKind::None,
     [](_HidPort& port, const DispatchArgument&, VARIANT& result) {
         result.vt = VT_BOOL;
         return port.FindTheHid(&result.boolVal);
     }},
    {"Shutdown", 0x60030007, ArgumentKind::None,
     [](_HidPort& port, const DispatchArgument&, VARIANT&) { return port.Shutdown(); }},
    {"SendFeature", 0x60030008, ArgumentKind::Text,
     [](_HidPort& port, const DispatchArgument& argument, VARIANT& result) {
         result.vt = VT_BSTR;
         return port.SendFeature(argument.text, &result.bstrVal);
     }},
    {"GetFeature", 0x60030009, ArgumentKind::None,
     [](_HidPort& port, const DispatchArgument&, VARIANT& result) {
         result.vt = VT_BSTR;
         return port.GetFeature(&result.bstrVal);
     }},
    {"ReadData", 0x6003000A, ArgumentKind::Short,
     [](_HidPort& port, const DispatchArgument& argument, VARIANT& result) {
         result.vt = VT_BSTR;
         return port.ReadData(argument.number, &result.bstrVal);
     }},
    {"ReadDataDirect", 0x6003000B, ArgumentKind::None,
     [](_HidPort& port, const DispatchArgument&, VARIANT& result) {
         result.vt = VT_BSTR;
         return port.ReadDataDirect(&result.bstrVal);
     }},
    {"WriteData", 0x6003000C, ArgumentKind::Text,
     [](_HidPort& port, const DispatchArgument& argument, VARIANT& result) {
         result.vt = VT_BSTR;
         return port.WriteData(argument.text, &result.bstrVal);
     }},
};

// The member with the name (compared without regard to ASCII case), or null.
const DispatchMember* FindMember(const OLECHAR* name);
const DispatchMember* FindMember(DISPID dispId);

}  // namespace hidbridge
