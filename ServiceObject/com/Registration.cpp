// The server's registry entries as data: registration writes exactly the
// values listed, unregistration removes exactly the keys listed.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "NorvikMSRSO_h.h"
#include "com/ComResources.h"
#include "com/NorvikMSRSOModule.h"

namespace norvik::com {

namespace {

enum class KeyId { None, App, Class };
enum class Data { None, Text, AppId, ClassId, LibId, ModulePath };

// HKEY_CLASSES_ROOT\ head [{guid}] tail
struct KeyPath {
    const wchar_t* head;
    KeyId id = KeyId::None;
    const wchar_t* tail = L"";
};

struct RegistryValue {
    KeyPath key;
    const wchar_t* name;  // nullptr: the key's default value
    Data data;
    const wchar_t* text = nullptr;
};

constexpr wchar_t kProgId[] = L"NorvikMSR.SO";
constexpr wchar_t kClassName[] = L"NorvikMSRSOImpl Class";

// Application ID entries first, then the class entries; the type library follows.
const RegistryValue kValues[] = {
    {{L"AppID\\", KeyId::App}, nullptr, Data::Text, L"NorvikMSRSO"},
    {{L"AppID\\NorvikMSRSO.DLL"}, L"AppID", Data::AppId},
    {{kProgId}, nullptr, Data::Text, kClassName},
    {{L"NorvikMSR.SO\\CLSID"}, nullptr, Data::ClassId},
    {{L"NorvikMSR.SO\\CurVer"}, nullptr, Data::Text, kProgId},
    {{L"CLSID\\", KeyId::Class}, nullptr, Data::Text, kClassName},
    {{L"CLSID\\", KeyId::Class}, L"AppID", Data::AppId},
    {{L"CLSID\\", KeyId::Class, L"\\ProgID"}, nullptr, Data::Text, kProgId},
    {{L"CLSID\\", KeyId::Class, L"\\VersionIndependentProgID"}, nullptr, Data::Text, kProgId},
    {{L"CLSID\\", KeyId::Class, L"\\Programmable"}, nullptr, Data::None},
    {{L"CLSID\\", KeyId::Class, L"\\InprocServer32"}, nullptr, Data::ModulePath},
    {{L"CLSID\\", KeyId::Class, L"\\InprocServer32"}, L"ThreadingModel", Data::Text, L"Both"},
    {{L"CLSID\\", KeyId::Class, L"\\TypeLib"}, nullptr, Data::LibId},
};

// Registration starts the class key over, so no stale value or subkey survives.
const KeyPath kReplaced[] = {{L"CLSID\\", KeyId::Class}};

// Class entries first, then the application ID entries. Never CLSID or AppID themselves.
const KeyPath kRemoved[] = {
    {kProgId},
    {L"CLSID\\", KeyId::Class},
    {L"AppID\\", KeyId::App},
    {L"AppID\\NorvikMSRSO.DLL"},
};

struct Context {
    wchar_t appId[39];
    wchar_t classId[39];
    wchar_t libId[39];
    wchar_t module[MAX_PATH];
};

HRESULT LastError() noexcept {
    const DWORD error = ::GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT MakeContext(Context& context) noexcept {
    ::StringFromGUID2(kAppId, context.appId, ARRAYSIZE(context.appId));
    ::StringFromGUID2(CLSID_NorvikMSRSOImpl, context.classId, ARRAYSIZE(context.classId));
    ::StringFromGUID2(LIBID_NorvikMSRSOLib, context.libId, ARRAYSIZE(context.libId));
    return CNorvikMSRSOModule::Path(context.module) ? S_OK : LastError();
}

std::wstring Resolve(const KeyPath& path, const Context& context) {
    std::wstring result = path.head;
    if (path.id == KeyId::App) result += context.appId;
    if (path.id == KeyId::Class) result += context.classId;
    result += path.tail;
    return result;
}

const wchar_t* ValueData(const RegistryValue& value, const Context& context) noexcept {
    switch (value.data) {
    case Data::Text: return value.text;
    case Data::AppId: return context.appId;
    case Data::ClassId: return context.classId;
    case Data::LibId: return context.libId;
    case Data::ModulePath: return context.module;
    case Data::None: break;
    }
    return nullptr;
}

HRESULT Write(const RegistryValue& value, const Context& context) {
    UniqueHKey key;
    LSTATUS status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, Resolve(value.key, context).c_str(), 0,
                                       nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    const wchar_t* data = ValueData(value, context);
    if (!data) return S_OK;
    const DWORD bytes = static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t));
    status = ::RegSetValueExW(key.get(), value.name, 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(data), bytes);
    return HRESULT_FROM_WIN32(status);
}

// A key that is already gone counts as removed.
HRESULT Remove(const KeyPath& path, const Context& context) {
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, Resolve(path, context).c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

// The type library embedded in this module as resource 1 of type TYPELIB.
HRESULT LoadOwnTypeLib(const Context& context, ComPtr<ITypeLib>& typeLib) noexcept {
    return ::LoadTypeLibEx(context.module, REGKIND_NONE, typeLib.put());
}

HRESULT RegisterTypeLibrary(const Context& context) noexcept {
    ComPtr<ITypeLib> typeLib;
    HRESULT hr = LoadOwnTypeLib(context, typeLib);
    if (FAILED(hr)) return hr;
    wchar_t module[MAX_PATH];
    wcscpy(module, context.module);  // RegisterTypeLib takes non-const paths
    return ::RegisterTypeLib(typeLib.get(), module, nullptr);
}

HRESULT UnregisterTypeLibrary(const Context& context) noexcept {
    ComPtr<ITypeLib> typeLib;
    HRESULT hr = LoadOwnTypeLib(context, typeLib);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = typeLib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const TLIBATTR copy = *attr;
    typeLib->ReleaseTLibAttr(attr);

    UniqueBstr registeredPath;
    if (FAILED(::QueryPathOfRegTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid,
                                       registeredPath.put()))) {
        return S_OK;  // not registered: nothing to undo
    }
    return ::UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid,
                               copy.syskind);
}

// Type library registration writes locale-dependent keys; use the system's
// locale rather than whatever the calling thread was set to.
class SystemThreadLocale {
public:
    SystemThreadLocale() noexcept : previous_(::GetThreadLocale()) {
        ::SetThreadLocale(::GetSystemDefaultLCID());
    }
    ~SystemThreadLocale() { ::SetThreadLocale(previous_); }
    SystemThreadLocale(const SystemThreadLocale&) = delete;
    SystemThreadLocale& operator=(const SystemThreadLocale&) = delete;

private:
    LCID previous_;
};

HRESULT RemoveEntries(const Context& context) {
    HRESULT result = UnregisterTypeLibrary(context);
    for (const KeyPath& path : kRemoved) {
        const HRESULT hr = Remove(path, context);
        if (SUCCEEDED(result)) result = hr;
    }
    return result;
}

HRESULT WriteEntries(const Context& context) {
    for (const KeyPath& path : kReplaced) {
        const HRESULT hr = Remove(path, context);
        if (FAILED(hr)) return hr;
    }
    for (const RegistryValue& value : kValues) {
        const HRESULT hr = Write(value, context);
        if (FAILED(hr)) return hr;
    }
    return RegisterTypeLibrary(context);
}

}  // namespace

HRESULT RegisterServer() noexcept {
    try {
        SystemThreadLocale locale;
        Context context;
        HRESULT hr = MakeContext(context);
        if (FAILED(hr)) return hr;
        hr = WriteEntries(context);
        if (FAILED(hr)) RemoveEntries(context);  // leave no half registration behind
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;  // only the key paths allocate
    }
}

HRESULT UnregisterServer() noexcept {
    try {
        SystemThreadLocale locale;
        Context context;
        const HRESULT hr = MakeContext(context);
        if (FAILED(hr)) return hr;
        return RemoveEntries(context);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace norvik::com
