// An owner for any Win32 resource, parameterised by traits that name its type,
// its "empty" value (the one its API returns on failure: INVALID_HANDLE_VALUE
// for files, NULL for events) and how it is closed. Header-only: shared by
// every Windows module, each binary carrying its own copy.
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

// Files and devices: INVALID_HANDLE_VALUE on failure.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) noexcept { ::CloseHandle(handle); }
};

// Events, mutexes, threads and file mappings: NULL on failure.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { ::CloseHandle(handle); }
};

using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueKernelHandle = UniqueResource<KernelHandleTraits>;

}  // namespace norvik::win32
