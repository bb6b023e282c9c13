// The error-information object and the calling thread's error-information
// slot, with a count of live objects.
#include <atomic>
#include <string>

#include "win32/automation.h"
#include "win32/sim/hid_devices.h"

namespace {

std::atomic<int> liveErrorInfos{0};
thread_local IErrorInfo* threadErrorInfo = nullptr;

class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
  public:
    ErrorInfo() { ++liveErrorInfos; }
    ~ErrorInfo() { --liveErrorInfos; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IErrorInfo)) {
            *object = static_cast<IErrorInfo*>(this);
        } else if (IsEqualIID(riid, IID_ICreateErrorInfo)) {
            *object = static_cast<ICreateErrorInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
        if (guid == nullptr) return E_INVALIDARG;
        *guid = guid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) override { return Copy(source_, source); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) override {
        return Copy(description_, description);
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* helpFile) override {
        return Copy(helpFile_, helpFile);
    }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* helpContext) override {
        if (helpContext == nullptr) return E_INVALIDARG;
        *helpContext = helpContext_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override {
        guid_ = guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR source) override { return Store(source, source_); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR description) override {
        return Store(description, description_);
    }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR helpFile) override {
        return Store(helpFile, helpFile_);
    }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD helpContext) override {
        helpContext_ = helpContext;
        return S_OK;
    }

  private:
    static HRESULT Copy(const std::u16string& text, BSTR* out) {
        if (out == nullptr) return E_INVALIDARG;
        *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT Store(LPOLESTR text, std::u16string& field) {
        field = text != nullptr ? std::u16string(text) : std::u16string();
        return S_OK;
    }

    ULONG references_ = 1;
    GUID guid_{};
    std::u16string source_;
    std::u16string description_;
    std::u16string helpFile_;
    DWORD helpContext_ = 0;
};

}  // namespace

EXTERN_C HRESULT WINAPI CreateErrorInfo(ICreateErrorInfo** errorInfo) {
    if (errorInfo == nullptr) return E_INVALIDARG;
    *errorInfo = new ErrorInfo();
    return S_OK;
}

EXTERN_C HRESULT WINAPI SetErrorInfo(ULONG reserved, IErrorInfo* errorInfo) {
    if (reserved != 0) return E_INVALIDARG;
    if (errorInfo != nullptr) errorInfo->AddRef();
    if (threadErrorInfo != nullptr) threadErrorInfo->Release();
    threadErrorInfo = errorInfo;
    return S_OK;
}

EXTERN_C HRESULT WINAPI GetErrorInfo(ULONG reserved, IErrorInfo** errorInfo) {
    if (reserved != 0 || errorInfo == nullptr) return E_INVALIDARG;
    *errorInfo = threadErrorInfo;  // the reference moves to the caller
    threadErrorInfo = nullptr;
    return *errorInfo != nullptr ? S_OK : S_FALSE;
}

int win32sim::LiveErrorInfoCount() {
    return liveErrorInfos;
}
