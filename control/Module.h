// Module-wide state of the in-process server: its handle, the count of live objects
// and server locks that DllCanUnloadNow reports, and the type information that every
// control's IDispatch uses.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace norvik::control {

class Module {
public:
    static HINSTANCE Instance();
    static void Lock();
    static void Unlock();

    // Type information of an interface in the embedded type library. Loaded once and
    // kept until the module may unload, so that a call still returning through
    // ITypeInfo::Invoke on another thread never outlives it.
    static HRESULT GetTypeInfo(REFGUID guid, ITypeInfo** typeInfo);
};

}  // namespace norvik::control
