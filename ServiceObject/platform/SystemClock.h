// The real clock: sleeps with std::this_thread::sleep_for, dates in local time.
#pragma once

#include "seams/Clock.h"

namespace norvik {

Clock& SystemClock();

}  // namespace norvik
