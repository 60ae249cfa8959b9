// The in-process server: entry points, the class table with one generic class factory,
// and registration written as a data table.
#include "Module.h"

#include <objbase.h>
#include <olectl.h>
#include <shlwapi.h>

#include <mutex>
#include <new>
#include <string>

#include "ComResources.h"
#include "MessageWindow.h"
#include "NorvikMSRControl.h"
#include "NorvikMSRControlImpl.h"

namespace norvik::control {
namespace {

HINSTANCE g_instance = nullptr;
LONG g_locks = 0;  // live objects and server locks

std::mutex g_typeLibLock;
ComPtr<ITypeLib> g_typeLib;

HRESULT ModulePath(std::wstring* path) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(g_instance, buffer, MAX_PATH);
    if (length == 0) return HRESULT_FROM_WIN32(::GetLastError());
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path->assign(buffer, length);
    return S_OK;
}

// ---- Class table and factory -------------------------------------------------------

using CreateFunction = HRESULT (*)(REFIID riid, void** ppv);

struct ClassEntry {
    const CLSID* clsid;
    CreateFunction create;
};

const ClassEntry kClasses[] = {
    {&CLSID_NorvikMSRControl, &CNorvikMSRControl::CreateInstance},
};

class CClassFactory final : public IClassFactory {
public:
    static HRESULT Create(CreateFunction create, REFIID riid, void** ppv) {
        CClassFactory* factory = new (std::nothrow) CClassFactory(create);
        if (!factory) return E_OUTOFMEMORY;
        const HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return hr;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB kInterfaces[] = {
            QITABENT(CClassFactory, IClassFactory),
            {nullptr, 0},
        };
        return ::QISearch(this, kInterfaces, riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&_references); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG references = ::InterlockedDecrement(&_references);
        if (references == 0) delete this;
        return references;
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return _create(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        lock ? Module::Lock() : Module::Unlock();
        return S_OK;
    }

private:
    explicit CClassFactory(CreateFunction create) : _create(create) { Module::Lock(); }
    ~CClassFactory() { Module::Unlock(); }

    LONG _references = 1;
    const CreateFunction _create;
};

// ---- Registration table -------------------------------------------------------------
// Under HKEY_CLASSES_ROOT. Tokens: {clsid}, {libid} and {module} are expanded; a null
// data writes the key alone.

struct RegistryEntry {
    const wchar_t* key;
    const wchar_t* valueName;
    const wchar_t* data;
};

const RegistryEntry kRegistryEntries[] = {
    {NORVIKMSR_CONTROL_PROGID, nullptr, L"NorvikMSR Control Class"},
    {NORVIKMSR_CONTROL_PROGID L"\\CLSID", nullptr, L"{clsid}"},
    {NORVIKMSR_CONTROL_PROGID L"\\CurVer", nullptr, NORVIKMSR_CONTROL_PROGID},
    {L"CLSID\\{clsid}", nullptr, L"NorvikMSR Control Class"},
    {L"CLSID\\{clsid}\\ProgID", nullptr, NORVIKMSR_CONTROL_PROGID},
    {L"CLSID\\{clsid}\\VersionIndependentProgID", nullptr, NORVIKMSR_CONTROL_PROGID},
    {L"CLSID\\{clsid}\\Programmable", nullptr, nullptr},
    {L"CLSID\\{clsid}\\InprocServer32", nullptr, L"{module}"},
    {L"CLSID\\{clsid}\\InprocServer32", L"ThreadingModel", L"Apartment"},
    {L"CLSID\\{clsid}\\TypeLib", nullptr, L"{libid}"},
    {L"CLSID\\{clsid}\\Version", nullptr, L"1.0"},
};

// Keys removed, with everything below them, by unregistration.
const wchar_t* const kRegistryRoots[] = {NORVIKMSR_CONTROL_PROGID, L"CLSID\\{clsid}"};

struct Tokens {
    std::wstring clsid;
    std::wstring libid;
    std::wstring module;
};

std::wstring GuidText(REFGUID guid) {
    wchar_t text[39];
    ::StringFromGUID2(guid, text, ARRAYSIZE(text));
    return text;
}

std::wstring Expand(const wchar_t* pattern, const Tokens& tokens) {
    std::wstring text = pattern;
    const std::pair<const wchar_t*, const std::wstring*> replacements[] = {
        {L"{clsid}", &tokens.clsid}, {L"{libid}", &tokens.libid}, {L"{module}", &tokens.module}};
    for (const auto& [token, value] : replacements) {
        for (size_t at = text.find(token); at != std::wstring::npos; at = text.find(token, at + value->size())) {
            text.replace(at, wcslen(token), *value);
        }
    }
    return text;
}

HRESULT MakeTokens(Tokens* tokens) {
    tokens->clsid = GuidText(CLSID_NorvikMSRControl);
    tokens->libid = GuidText(LIBID_NorvikMSRControlLib);
    return ModulePath(&tokens->module);
}

HRESULT WriteEntry(const RegistryEntry& entry, const Tokens& tokens) {
    const std::wstring keyName = Expand(entry.key, tokens);
    UniqueHkey key;
    LSTATUS status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, keyName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status == ERROR_SUCCESS && entry.data) {
        const std::wstring data = Expand(entry.data, tokens);
        status = ::RegSetValueExW(key.get(), entry.valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                  static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
    return HRESULT_FROM_WIN32(status);
}

HRESULT Unregister() {
    Tokens tokens;
    HRESULT hr = MakeTokens(&tokens);
    if (FAILED(hr)) return hr;
    ::UnRegisterTypeLib(LIBID_NorvikMSRControlLib, 1, 0, LOCALE_NEUTRAL, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    for (const wchar_t* root : kRegistryRoots) {
        const LSTATUS status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, Expand(root, tokens).c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) hr = HRESULT_FROM_WIN32(status);
    }
    return hr;
}

HRESULT Register() {
    Tokens tokens;
    HRESULT hr = MakeTokens(&tokens);
    if (FAILED(hr)) return hr;
    // Replaced wholesale, so that nothing of an older registration lingers.
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, Expand(L"CLSID\\{clsid}", tokens).c_str());
    for (const RegistryEntry& entry : kRegistryEntries) {
        hr = WriteEntry(entry, tokens);
        if (FAILED(hr)) return hr;
    }
    ComPtr<ITypeLib> typeLib;
    return ::LoadTypeLibEx(tokens.module.c_str(), REGKIND_REGISTER, typeLib.put());
}

}  // namespace

HINSTANCE Module::Instance() { return g_instance; }
void Module::Lock() { ::InterlockedIncrement(&g_locks); }
void Module::Unlock() { ::InterlockedDecrement(&g_locks); }

HRESULT Module::GetTypeInfo(REFGUID guid, ITypeInfo** typeInfo) {
    if (!typeInfo) return E_POINTER;
    *typeInfo = nullptr;
    std::lock_guard<std::mutex> guard(g_typeLibLock);
    if (!g_typeLib) {
        std::wstring path;
        HRESULT hr = ModulePath(&path);
        if (SUCCEEDED(hr)) hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, g_typeLib.put());
        if (FAILED(hr)) return hr;
    }
    return g_typeLib->GetTypeInfoOfGuid(guid, typeInfo);
}

}  // namespace norvik::control

using namespace norvik::control;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_instance = instance;
        ::DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        MessageWindow::UnregisterWindowClass(instance);  // unloaded by FreeLibrary, not process exit
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const ClassEntry& entry : kClasses) {
        if (clsid == *entry.clsid) return CClassFactory::Create(entry.create, riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    if (g_locks != 0) return S_FALSE;
    // Nothing is alive: drop the cached type library before the module goes.
    std::lock_guard<std::mutex> guard(g_typeLibLock);
    g_typeLib.reset();
    return S_OK;
}

STDAPI DllRegisterServer() {
    try {
        const HRESULT hr = Register();
        if (FAILED(hr)) Unregister();
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllUnregisterServer() {
    try {
        return Unregister();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
