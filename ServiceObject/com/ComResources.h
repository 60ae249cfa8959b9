// The COM server's owners for COM and registry handles: the shared ones.
#pragma once

#include "common/win32/ComResources.h"

namespace norvik::com {

using win32::CoInitializeScope;
using win32::ComPtr;
using win32::UniqueBstr;
using win32::UniqueHKey;
using win32::UniqueVariant;

}  // namespace norvik::com
