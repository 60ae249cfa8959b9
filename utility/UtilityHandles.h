// Owning wrappers for the handles and COM objects that SwipeBench holds. Each
// wrapper's "empty" value is the one its API uses for failure.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

namespace swipebench {

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Type value) noexcept : value_(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Type get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Empty(); }
    Type release() noexcept { return std::exchange(value_, Traits::Empty()); }
    void reset(Type value = Traits::Empty()) noexcept {
        Type old = std::exchange(value_, value);
        if (old != Traits::Empty()) Traits::Close(old);
    }
    // Frees the current resource and hands out the slot for an out-parameter.
    Type* put() noexcept {
        reset();
        return &value_;
    }

private:
    Type value_ = Traits::Empty();
};

struct HKeyTraits {
    using Type = HKEY;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type key) noexcept { ::RegCloseKey(key); }
};

struct HFontTraits {
    using Type = HFONT;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type font) noexcept { ::DeleteObject(font); }
};

struct HIconTraits {
    using Type = HICON;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type icon) noexcept { ::DestroyIcon(icon); }
};

struct HModuleTraits {
    using Type = HMODULE;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type module) noexcept { ::FreeLibrary(module); }
};

struct HMenuTraits {
    using Type = HMENU;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type menu) noexcept { ::DestroyMenu(menu); }
};

struct BstrTraits {
    using Type = BSTR;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type text) noexcept { ::SysFreeString(text); }
};

using UniqueHKey = UniqueResource<HKeyTraits>;
using UniqueFont = UniqueResource<HFontTraits>;
using UniqueIcon = UniqueResource<HIconTraits>;
using UniqueModule = UniqueResource<HModuleTraits>;
using UniqueMenu = UniqueResource<HMenuTraits>;
using UniqueBstr = UniqueResource<BstrTraits>;

// A counted reference on a COM interface.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a reference of its own on `p`.
    explicit ComPtr(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept {
        if (T* old = std::exchange(p_, nullptr)) old->Release();
    }
    // Releases the current interface and hands out the slot for an out-parameter.
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    // Adopts a reference that the caller already owns.
    void attach(T* p) noexcept {
        reset();
        p_ = p;
    }
    template <typename U>
    HRESULT As(ComPtr<U>& out) const noexcept {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(__uuidof(U), out.put_void());
    }

private:
    T* p_ = nullptr;
};

// Narrow text in the system ANSI code page to wide, for the automation
// strings at the control's boundary.
std::wstring WidenAnsi(const std::string& text);

}  // namespace swipebench
