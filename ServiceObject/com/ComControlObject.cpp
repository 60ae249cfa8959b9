#include "com/ComControlObject.h"

#include <new>

#include "com/AnsiText.h"
#include "common/SecureWipe.h"

namespace norvik::com {

namespace {

// Method names are short ASCII identifiers; no allocation to look one up.
bool WideName(const char* method, wchar_t (&name)[64]) {
    if (!method) return false;
    return ::MultiByteToWideChar(CP_ACP, 0, method, -1, name, ARRAYSIZE(name)) > 1;
}

}  // namespace

bool ComControlObject::Call(const char* method, const EventArgument* arguments, int count) {
    if (!dispatch_ || count < 0 || count > kMaxArguments || (count > 0 && !arguments)) {
        return false;
    }
    wchar_t name[64];
    if (!WideName(method, name)) return false;
    LPOLESTR names[] = {name};
    DISPID dispid = DISPID_UNKNOWN;
    if (FAILED(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid))) {
        return false;
    }

    // `strings[i]` backs argument i when it is a string reference; the callee
    // may free and replace it, and the wrapper owns whatever it holds after.
    UniqueBstr strings[kMaxArguments];
    VARIANTARG variants[kMaxArguments];
    for (int i = 0; i < count; ++i) {
        const EventArgument& argument = arguments[i];
        VARIANTARG& variant = variants[count - 1 - i];  // Invoke takes the last one first
        ::VariantInit(&variant);
        switch (argument.type) {
        case EventArgument::Type::Long:
            V_VT(&variant) = VT_I4;
            V_I4(&variant) = argument.value;
            break;
        case EventArgument::Type::LongRef:
            if (!argument.longRef) return false;
            static_assert(sizeof(LONG) == sizeof(int32_t), "LONG is 32-bit on Windows");
            V_VT(&variant) = VT_I4 | VT_BYREF;
            V_I4REF(&variant) = reinterpret_cast<LONG*>(argument.longRef);
            break;
        case EventArgument::Type::StringRef:
            if (!argument.stringRef || FAILED(BstrFromNarrow(*argument.stringRef, strings[i]))) {
                return false;
            }
            V_VT(&variant) = VT_BSTR | VT_BYREF;
            V_BSTRREF(&variant) = strings[i].addressof();
            break;
        }
    }

    DISPPARAMS params = {count > 0 ? variants : nullptr, nullptr, static_cast<UINT>(count), 0};
    // The callee's result is not looked at: a failed handler drops nothing else.
    dispatch_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                      nullptr, nullptr);

    // Bring the handler's changes to string references back to the caller.
    // A text may be a reader's reply that carries card data: the one replaced
    // and both strings are wiped before their memory is freed.
    for (int i = 0; i < count; ++i) {
        if (arguments[i].type != EventArgument::Type::StringRef) continue;
        try {
            std::string changed = NarrowFromBstr(strings[i].get());
            SecureWipe(*arguments[i].stringRef);
            *arguments[i].stringRef = std::move(changed);
        } catch (const std::bad_alloc&) {
            // Out of memory: the caller keeps its text; the event was delivered.
        }
        if (strings[i]) ::SecureZeroMemory(strings[i].get(), ::SysStringByteLen(strings[i].get()));
    }
    WipeVectorRegisters();  // the conversions' last bytes, before this thread's next system call
    return true;
}

}  // namespace norvik::com
