// Owning wrappers for the window-system handles that SwipeBench holds. Each
// wrapper's "empty" value is the one its API uses for failure.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

#include "common/win32/ComResources.h"
#include "common/win32/UniqueResource.h"

namespace swipebench {

using norvik::win32::UniqueResource;

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
