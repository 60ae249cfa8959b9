// The control's owners for COM and registry handles: the shared ones.
#pragma once

#include "common/win32/ComResources.h"

namespace norvik::control {

using win32::ComPtr;
using win32::UniqueBstr;
using win32::UniqueVariant;
using UniqueHkey = win32::UniqueHKey;

}  // namespace norvik::control
