// IEnumXxx over a snapshot taken at creation: later Advise/Unadvise calls do
// not disturb an enumeration in progress. Each item holds its own reference.
#pragma once

#include <ocidl.h>

#include <new>
#include <utility>
#include <vector>

#include "com/NorvikMSRSOModule.h"

namespace norvik::com {

// How one item is referenced and released.
struct ConnectDataItem {
    using Type = CONNECTDATA;
    static void AddRef(const CONNECTDATA& item) noexcept { item.pUnk->AddRef(); }
    static void Release(const CONNECTDATA& item) noexcept { item.pUnk->Release(); }
};

struct ConnectionPointItem {
    using Type = IConnectionPoint*;
    static void AddRef(IConnectionPoint* item) noexcept { item->AddRef(); }
    static void Release(IConnectionPoint* item) noexcept { item->Release(); }
};

template <class Interface, class Item>
class CSnapshotEnumerator final : public Interface {
public:
    using T = typename Item::Type;

    // Takes a reference on every item of `items`.
    static HRESULT Create(std::vector<T> items, size_t position, Interface** result) noexcept {
        if (!result) return E_POINTER;
        *result = nullptr;
        auto* enumerator = new (std::nothrow) CSnapshotEnumerator(std::move(items), position);
        if (!enumerator) return E_OUTOFMEMORY;
        *result = enumerator;
        return S_OK;
    }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(Interface)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&refs_); }
    IFACEMETHODIMP_(ULONG) Release() override {
        const LONG refs = ::InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return refs;
    }

    IFACEMETHODIMP Next(ULONG count, T* items, ULONG* fetched) override {
        if (!items || (count != 1 && !fetched)) return E_POINTER;
        ULONG done = 0;
        for (; done < count && position_ < items_.size(); ++done, ++position_) {
            items[done] = items_[position_];
            Item::AddRef(items[done]);
        }
        if (fetched) *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    IFACEMETHODIMP Skip(ULONG count) override {
        const size_t left = items_.size() - position_;
        if (count > left) {
            position_ = items_.size();
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    IFACEMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    IFACEMETHODIMP Clone(Interface** result) override {
        try {
            return Create(items_, position_, result);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

private:
    CSnapshotEnumerator(std::vector<T> items, size_t position) noexcept
        : items_(std::move(items)), position_(position) {
        for (const T& item : items_) Item::AddRef(item);
    }
    ~CSnapshotEnumerator() {
        for (const T& item : items_) Item::Release(item);
    }

    ModuleReference module_;  // a live enumerator runs this module's code
    LONG refs_ = 1;
    std::vector<T> items_;
    size_t position_;
};

}  // namespace norvik::com
