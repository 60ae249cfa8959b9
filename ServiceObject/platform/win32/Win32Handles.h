// Owning wrappers for the Win32 resources of the service object's adapters.
// Each wrapper's "empty" value is the one its API returns on failure.
#pragma once

#include <windows.h>

namespace norvik::win32 {

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
    Type release() noexcept {
        Type value = value_;
        value_ = Traits::Empty();
        return value;
    }
    void reset(Type value = Traits::Empty()) noexcept {
        Type old = value_;
        value_ = value;
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

// Events, mutexes and file mappings: NULL on failure.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { ::CloseHandle(handle); }
};

struct RegistryKeyTraits {
    using Type = HKEY;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type key) noexcept { ::RegCloseKey(key); }
};

struct MappedViewTraits {
    using Type = void*;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type view) noexcept { ::UnmapViewOfFile(view); }
};

using UniqueKernelHandle = UniqueResource<KernelHandleTraits>;
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;
using UniqueMappedView = UniqueResource<MappedViewTraits>;

}  // namespace norvik::win32
