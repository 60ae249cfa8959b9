// OPOS property indices as the control object passes them, and the result
// codes the tests compare with.
#pragma once

#include <cstdint>

#include "common/OposProperties.h"
#include "properties/PropertyBlock.h"

namespace norvik::test {


}  // namespace norvik::test
