// Conversions between the wide automation strings of the dispatch interface
// and the narrow texts of the service object, in the system ANSI code page.
#pragma once

#include <string>
#include <string_view>

#include "com/ComResources.h"

namespace norvik::com {

// A null BSTR converts to the empty text. Throws std::bad_alloc.
std::string NarrowFromBstr(BSTR text);

// A newly allocated BSTR holding `text`; the empty text gives an empty, non-null
// string. E_OUTOFMEMORY when the allocation fails.
HRESULT BstrFromNarrow(std::string_view text, UniqueBstr& result) noexcept;

}  // namespace norvik::com
