// Owning wrappers for the Win32 resources of the HID transport. Each wrapper's
// "empty" value is the one its API uses for failure: INVALID_HANDLE_VALUE for
// files and device-information sets, NULL for events and preparsed data.
#pragma once

#include <windows.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

namespace vorlex::win32 {

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

struct FileHandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) noexcept { ::CloseHandle(handle); }
};

struct EventHandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { ::CloseHandle(handle); }
};

struct DeviceInfoSetTraits {
    using Type = HDEVINFO;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type set) noexcept { ::SetupDiDestroyDeviceInfoList(set); }
};

struct PreparsedDataTraits {
    using Type = PHIDP_PREPARSED_DATA;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type data) noexcept { ::HidD_FreePreparsedData(data); }
};

using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueEvent = UniqueResource<EventHandleTraits>;
using UniqueDeviceInfoSet = UniqueResource<DeviceInfoSetTraits>;
using UniquePreparsedData = UniqueResource<PreparsedDataTraits>;

}  // namespace vorlex::win32
