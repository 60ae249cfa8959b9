// OPOS values the control uses: result codes and states; the property indices under
// which it reaches the service object's properties come from OposProperties.h.
#pragma once

#include "common/OposProperties.h"

namespace norvik::control {

enum OposResult : long {
    kOposSuccess = 0,
    kOposClosed = 101,
    kOposNoService = 104,
    kOposIllegal = 106,
    kOposNoExist = 109,
};

enum OposState : long { kOposStateClosed = 1 };

}  // namespace norvik::control
