// Owners for the handles the control juggles: COM interface pointers, automation
// strings, variants, registry keys. Each owner's empty value is the one its API uses
// (NULL for all of them). ComPtr is our own: the mingw-w64 WRL one adds a reference in
// Attach and copies on move-assignment.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <utility>

namespace norvik::control {

template <class T>
class ComPtr {
public:
    using InterfaceType = T;

    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    ComPtr(T* value) noexcept : _value(value) { AddRefValue(); }  // shares: adds a reference
    ComPtr(const ComPtr& other) noexcept : _value(other._value) { AddRefValue(); }
    ComPtr(ComPtr&& other) noexcept : _value(std::exchange(other._value, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(ComPtr other) noexcept {  // copy and move alike
        std::swap(_value, other._value);
        return *this;
    }
    ComPtr& operator=(T* value) noexcept { return *this = ComPtr(value); }

    T* Get() const noexcept { return _value; }
    T* operator->() const noexcept { return _value; }
    explicit operator bool() const noexcept { return _value != nullptr; }

    // Takes over `value`'s reference without adding one.
    void Attach(T* value) noexcept {
        Reset();
        _value = value;
    }
    T* Detach() noexcept { return std::exchange(_value, nullptr); }
    ULONG Reset() noexcept {
        T* value = std::exchange(_value, nullptr);
        return value ? value->Release() : 0;
    }
    // For out-parameters: releases what it holds first, like WIL's put().
    T** put() noexcept {
        Reset();
        return &_value;
    }

    HRESULT CopyTo(T** target) const noexcept {
        if (!target) return E_POINTER;
        *target = _value;
        AddRefValue();
        return S_OK;
    }
    template <class U>
    HRESULT As(ComPtr<U>* target) const noexcept {
        return _value->QueryInterface(__uuidof(U), reinterpret_cast<void**>(target->put()));
    }

private:
    void AddRefValue() const noexcept {
        if (_value) _value->AddRef();
    }

    T* _value = nullptr;
};

class UniqueBstr {
public:
    UniqueBstr() noexcept = default;
    explicit UniqueBstr(BSTR owned) noexcept : _value(owned) {}
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    UniqueBstr(UniqueBstr&& other) noexcept : _value(other.release()) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueBstr() { reset(); }

    // Copies `text`; an allocation failure leaves the owner empty, test with get().
    static UniqueBstr Copy(const wchar_t* text) noexcept { return UniqueBstr(::SysAllocString(text)); }

    BSTR get() const noexcept { return _value; }
    BSTR release() noexcept { return std::exchange(_value, nullptr); }
    void reset(BSTR value = nullptr) noexcept {
        if (_value) ::SysFreeString(_value);
        _value = value;
    }
    // Frees the current string first, like WIL's put().
    BSTR* put() noexcept {
        reset();
        return &_value;
    }
    // Address of the owned string for an in/out BSTR* argument; the callee may replace it.
    BSTR* addressof() noexcept { return &_value; }

private:
    BSTR _value = nullptr;
};

class UniqueVariant : public VARIANT {
public:
    UniqueVariant() noexcept { ::VariantInit(this); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { ::VariantClear(this); }

    VARIANT* reset() noexcept {
        ::VariantClear(this);
        return this;
    }
};

class UniqueHkey {
public:
    UniqueHkey() noexcept = default;
    UniqueHkey(const UniqueHkey&) = delete;
    UniqueHkey& operator=(const UniqueHkey&) = delete;
    UniqueHkey(UniqueHkey&& other) noexcept : _value(std::exchange(other._value, nullptr)) {}
    ~UniqueHkey() { reset(); }

    HKEY get() const noexcept { return _value; }
    void reset() noexcept {
        if (_value) ::RegCloseKey(_value);
        _value = nullptr;
    }
    HKEY* put() noexcept {
        reset();
        return &_value;
    }

private:
    HKEY _value = nullptr;
};

}  // namespace norvik::control
