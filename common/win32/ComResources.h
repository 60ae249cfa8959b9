// Owning wrappers for COM and registry handles, shared by every Windows module
// (header-only: each binary carries its own copy). Automation strings,
// interface pointers and registry keys. Each releases what it holds exactly
// once; put() releases first, so it can be passed to an out-parameter again.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace norvik::win32 {

// An automation string. A null BSTR is the empty string.
class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(BSTR value) noexcept : value_(value) {}
    ~UniqueBstr() { ::SysFreeString(value_); }
    UniqueBstr(UniqueBstr&& other) noexcept : value_(other.release()) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;

    // Copies `text`; an allocation failure leaves the owner empty, test with get().
    static UniqueBstr Copy(const wchar_t* text) noexcept { return UniqueBstr(::SysAllocString(text)); }

    BSTR get() const noexcept { return value_; }
    UINT length() const noexcept { return ::SysStringLen(value_); }
    BSTR* put() noexcept {
        reset();
        return &value_;
    }
    // The held string's address, for a by-reference argument whose callee may
    // free and replace it; unlike put() it keeps the current string.
    BSTR* addressof() noexcept { return &value_; }
    BSTR release() noexcept { return std::exchange(value_, nullptr); }
    void reset(BSTR value = nullptr) noexcept { ::SysFreeString(std::exchange(value_, value)); }
    explicit operator bool() const noexcept { return value_ != nullptr; }

private:
    BSTR value_ = nullptr;
};

// An interface pointer holding one reference. Our own: the mingw-w64 WRL
// ComPtr adds a reference in Attach and copies on move-assignment.
template <class T>
class ComPtr {
public:
    using InterfaceType = T;

    ComPtr() = default;
    ComPtr(std::nullptr_t) noexcept {}  // NOLINT: implicit like WIL's com_ptr
    ComPtr(T* value) noexcept : value_(value) {  // NOLINT: implicit like WIL's com_ptr
        if (value_) value_->AddRef();
    }
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.value_) {}
    ComPtr(ComPtr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {  // copy and move alike
        std::swap(value_, other.value_);
        return *this;
    }
    ComPtr& operator=(T* value) noexcept { return *this = ComPtr(value); }

    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* value) noexcept {
        ComPtr result;
        result.value_ = value;
        return result;
    }

    T* get() const noexcept { return value_; }
    T* operator->() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != nullptr; }
    T** put() noexcept {
        reset();
        return &value_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    T* detach() noexcept { return std::exchange(value_, nullptr); }
    void reset() noexcept {
        if (T* old = std::exchange(value_, nullptr)) old->Release();
    }

    // Hands out an additional reference through an out-parameter.
    HRESULT CopyTo(T** out) const noexcept {
        if (!out) return E_POINTER;
        *out = value_;
        if (value_) value_->AddRef();
        return S_OK;
    }

    template <class U>
    HRESULT As(ComPtr<U>* out) const noexcept {
        return value_->QueryInterface(__uuidof(U), out->put_void());
    }

private:
    T* value_ = nullptr;
};

// A variant cleared when it goes out of scope.
class UniqueVariant : public VARIANT {
public:
    UniqueVariant() noexcept { ::VariantInit(this); }
    ~UniqueVariant() { ::VariantClear(this); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    VARIANT* reset() noexcept {
        ::VariantClear(this);
        return this;
    }
};

// An open registry key; the empty value is null, as RegOpenKeyEx leaves it.
class UniqueHKey {
public:
    UniqueHKey() = default;
    ~UniqueHKey() { reset(); }
    UniqueHKey(UniqueHKey&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    UniqueHKey& operator=(UniqueHKey&& other) noexcept {
        if (this != &other) {
            reset();
            value_ = std::exchange(other.value_, nullptr);
        }
        return *this;
    }
    UniqueHKey(const UniqueHKey&) = delete;
    UniqueHKey& operator=(const UniqueHKey&) = delete;

    HKEY get() const noexcept { return value_; }
    HKEY* put() noexcept {
        reset();
        return &value_;
    }
    void reset() noexcept {
        if (HKEY old = std::exchange(value_, nullptr)) ::RegCloseKey(old);
    }
    explicit operator bool() const noexcept { return value_ != nullptr; }

private:
    HKEY value_ = nullptr;
};

// Brackets one COM initialisation of the calling thread.
class CoInitializeScope {
public:
    explicit CoInitializeScope(DWORD model) noexcept : hr_(::CoInitializeEx(nullptr, model)) {}
    ~CoInitializeScope() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    CoInitializeScope(const CoInitializeScope&) = delete;
    CoInitializeScope& operator=(const CoInitializeScope&) = delete;
    HRESULT result() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

}  // namespace norvik::win32
