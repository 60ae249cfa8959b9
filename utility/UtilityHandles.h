// Owning wrappers for the window-system handles that SwipeBench holds. Each
// wrapper's "empty" value is the one its API uses for failure.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

#include "common/win32/ComResources.h"

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

using UniqueFont = UniqueResource<HFontTraits>;
using UniqueIcon = UniqueResource<HIconTraits>;
using UniqueModule = UniqueResource<HModuleTraits>;
using UniqueMenu = UniqueResource<HMenuTraits>;

// COM pointers, automation strings and registry keys: the owners every module shares.
using norvik::win32::ComPtr;
using norvik::win32::UniqueBstr;
using norvik::win32::UniqueHKey;

// Narrow text in the system ANSI code page to wide, for the automation
// strings at the control's boundary.
std::wstring WidenAnsi(const std::string& text);

}  // namespace swipebench
