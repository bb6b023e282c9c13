// What the HidPort tests share: a COM pointer, BSTR helpers, calls that
// return texts, and the fixture that registers the server, gives simulated
// scanners and checks at the end of each test that no handle, string, object
// reference or registry key was leaked.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "hid_port_interface.h"
#include "identifiers.h"
#include "scanner_ids.h"
#include "win32/api.h"
#include "win32/sim/hid_devices.h"

namespace hidbridge::test {

template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    void Reset() {
        if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
    }
    T* Get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    T** Out() {
        Reset();
        return &pointer_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }

  private:
    T* pointer_ = nullptr;
};

// An owned BSTR.
class Bstr {
  public:
    Bstr() = default;
    explicit Bstr(const std::string& text);
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR* Out() {
        SysFreeString(value_);
        value_ = nullptr;
        return &value_;
    }
    BSTR Get() const { return value_; }
    BSTR* Address() { return &value_; }
    std::string Narrow() const;

  private:
    BSTR value_ = nullptr;
};

std::string Narrow(const OLECHAR* text, std::size_t length);

// The outcome of a call that gives a text.
struct TextAnswer {
    HRESULT hr;
    std::string text;
};

TextAnswer CallWriteData(_HidPort& port, const std::string& text);
TextAnswer CallSendFeature(_HidPort& port, const std::string& text);
TextAnswer CallGetFeature(_HidPort& port);
TextAnswer CallReadData(_HidPort& port, SHORT readTimeout);
TextAnswer CallReadDataDirect(_HidPort& port);
bool CallFindTheHid(_HidPort& port);

// The description of the thread's error information, which it takes.
std::string TakeErrorDescription();

win32sim::HidDeviceDescription Scanner(int pair, std::uint16_t input, std::uint16_t output,
                                       std::uint16_t feature);

class HidPortTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    ComPtr<_HidPort> CreatePort();
    // Calls an exported function of the server library, loaded for the call.
    HRESULT CallServerExport(const char* name);
};

}  // namespace hidbridge::test
