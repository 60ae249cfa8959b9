#include "com/AnsiText.h"

#include <climits>

namespace norvik::com {

std::string NarrowFromBstr(BSTR text) {
    const UINT length = ::SysStringLen(text);
    if (length == 0) return {};
    const int wide = static_cast<int>(length);
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, text, wide, result.data(), size, nullptr, nullptr);
    }
    return result;
}

HRESULT BstrFromNarrow(std::string_view text, UniqueBstr& result) noexcept {
    if (text.size() > INT_MAX) return E_OUTOFMEMORY;
    const int narrow = static_cast<int>(text.size());
    const int size =
        narrow == 0 ? 0 : ::MultiByteToWideChar(CP_ACP, 0, text.data(), narrow, nullptr, 0);
    BSTR value = ::SysAllocStringLen(nullptr, static_cast<UINT>(size));
    if (!value) return E_OUTOFMEMORY;
    if (size > 0) ::MultiByteToWideChar(CP_ACP, 0, text.data(), narrow, value, size);
    value[size] = L'\0';
    result.reset(value);
    return S_OK;
}

}  // namespace norvik::com
