// Owners for the handles the control juggles: automation strings, variants, registry
// keys. COM interface pointers use Microsoft::WRL::ComPtr. Each owner's empty value is
// the one its API uses (NULL for all three).
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <utility>

namespace norvik::control {

using Microsoft::WRL::ComPtr;

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
