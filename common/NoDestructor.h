// Storage for a process-wide object that is constructed on first use and
// never destroyed. Destroying it during process exit or DLL unload could
// join threads under the loader lock, so it stays alive until the end.
#pragma once

#include <new>
#include <utility>

namespace norvik {

template <typename T>
class NoDestructor {
public:
    template <typename... Args>
    explicit NoDestructor(Args&&... args) {
        new (storage_) T(std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;

    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }
    T* operator->() { return &get(); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace norvik
