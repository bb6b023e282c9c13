// VARIANT handling: initialisation, clearing, copying and the conversions
// between integers, VT_BOOL and decimal text.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "win32/automation.h"

namespace {

// The integer value of a variant of an integer or Boolean type.
std::optional<std::int64_t> IntegerOf(const VARIANT& v) {
    switch (v.vt) {
        case VT_EMPTY:
            return 0;
        case VT_I1:
            return v.cVal;
        case VT_UI1:
            return v.bVal;
        case VT_I2:
            return v.iVal;
        case VT_UI2:
            return v.uiVal;
        case VT_I4:
            return v.lVal;
        case VT_UI4:
            return v.ulVal;
        case VT_INT:
            return v.intVal;
        case VT_UINT:
            return v.uintVal;
        case VT_I8:
            return v.llVal;
        case VT_BOOL:
            return v.boolVal;
        default:
            return std::nullopt;
    }
}

HRESULT IntegerOfText(BSTR text, std::int64_t& value) {
    UINT length = SysStringLen(text);
    UINT i = 0;
    while (i < length && text[i] == u' ') ++i;
    bool negative = i < length && text[i] == u'-';
    if (negative || (i < length && text[i] == u'+')) ++i;
    if (i == length) return DISP_E_TYPEMISMATCH;
    std::int64_t result = 0;
    for (; i < length && text[i] != u' '; ++i) {
        if (text[i] < u'0' || text[i] > u'9') return DISP_E_TYPEMISMATCH;
        result = result * 10 + (text[i] - u'0');
        if (result > std::numeric_limits<std::int32_t>::max() + std::int64_t{1}) {
            return DISP_E_OVERFLOW;
        }
    }
    while (i < length && text[i] == u' ') ++i;
    if (i != length) return DISP_E_TYPEMISMATCH;
    value = negative ? -result : result;
    return S_OK;
}

HRESULT StoreInteger(VARIANT& out, std::int64_t value, VARTYPE type) {
    auto fits = [&](std::int64_t low, std::int64_t high) { return value >= low && value <= high; };
    switch (type) {
        case VT_I2:
            if (!fits(INT16_MIN, INT16_MAX)) return DISP_E_OVERFLOW;
            out.iVal = static_cast<SHORT>(value);
            break;
        case VT_I4:
        case VT_INT:
            if (!fits(INT32_MIN, INT32_MAX)) return DISP_E_OVERFLOW;
            out.lVal = static_cast<LONG>(value);
            break;
        case VT_UI1:
            if (!fits(0, UINT8_MAX)) return DISP_E_OVERFLOW;
            out.bVal = static_cast<BYTE>(value);
            break;
        case VT_UI2:
            if (!fits(0, UINT16_MAX)) return DISP_E_OVERFLOW;
            out.uiVal = static_cast<USHORT>(value);
            break;
        case VT_BOOL:
            out.boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        default:
            return DISP_E_TYPEMISMATCH;
    }
    out.vt = type;
    return S_OK;
}

}  // namespace

EXTERN_C void WINAPI VariantInit(VARIANTARG* variant) {
    variant->vt = VT_EMPTY;
    variant->wReserved1 = variant->wReserved2 = variant->wReserved3 = 0;
    variant->llVal = 0;
}

EXTERN_C HRESULT WINAPI VariantClear(VARIANTARG* variant) {
    if (variant == nullptr) return E_INVALIDARG;
    switch (variant->vt) {
        case VT_BSTR:
            SysFreeString(variant->bstrVal);
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (variant->punkVal != nullptr) variant->punkVal->Release();
            break;
        default:
            break;
    }
    VariantInit(variant);
    return S_OK;
}

EXTERN_C HRESULT WINAPI VariantCopy(VARIANTARG* destination, const VARIANTARG* source) {
    if (destination == nullptr || source == nullptr) return E_INVALIDARG;
    if (destination == source) return S_OK;
    VARIANT copy = *source;
    if (source->vt == VT_BSTR && source->bstrVal != nullptr) {
        copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
        if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if ((source->vt == VT_UNKNOWN || source->vt == VT_DISPATCH) && source->punkVal) {
        source->punkVal->AddRef();
    }
    VariantClear(destination);
    *destination = copy;
    return S_OK;
}

EXTERN_C HRESULT WINAPI VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT,
                                          VARTYPE type) {
    if (destination == nullptr || source == nullptr) return E_INVALIDARG;
    VARIANT value;
    VariantInit(&value);
    // Read through a by-reference source.
    VARIANT direct = *source;
    if ((source->vt & VT_BYREF) != 0) {
        if (source->byref == nullptr) return E_INVALIDARG;
        VARTYPE base = static_cast<VARTYPE>(source->vt & ~VT_BYREF);
        direct.vt = base;
        switch (base) {
            case VT_VARIANT:
                direct = *source->pvarVal;
                break;
            case VT_BSTR:
                direct.bstrVal = *source->pbstrVal;
                break;
            case VT_I2:
                direct.iVal = *source->piVal;
                break;
            case VT_I4:
                direct.lVal = *source->plVal;
                break;
            case VT_UI1:
                direct.bVal = *source->pbVal;
                break;
            case VT_BOOL:
                direct.boolVal = *source->pboolVal;
                break;
            default:
                return DISP_E_TYPEMISMATCH;
        }
        if ((direct.vt & VT_BYREF) != 0) return DISP_E_TYPEMISMATCH;
    }
    HRESULT hr = S_OK;
    if (direct.vt == type) {
        hr = VariantCopy(&value, &direct);
    } else if (type == VT_BSTR) {
        auto integer = IntegerOf(direct);
        if (!integer) return DISP_E_TYPEMISMATCH;
        std::string text = direct.vt == VT_EMPTY ? std::string() : std::to_string(*integer);
        if (direct.vt == VT_BOOL) text = *integer != 0 ? "True" : "False";
        std::u16string wide(text.begin(), text.end());
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    } else if (direct.vt == VT_BSTR) {
        std::int64_t integer = 0;
        hr = IntegerOfText(direct.bstrVal, integer);
        if (SUCCEEDED(hr)) hr = StoreInteger(value, integer, type);
    } else {
        auto integer = IntegerOf(direct);
        if (!integer) return DISP_E_TYPEMISMATCH;
        hr = StoreInteger(value, *integer, type);
    }
    if (FAILED(hr)) return hr;
    VariantClear(destination);
    *destination = value;
    return S_OK;
}
