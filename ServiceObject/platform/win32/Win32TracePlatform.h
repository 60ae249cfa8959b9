// The trace's platform on Windows: files under the program data folder,
// local time, and the event log for the one report that the trace went off.
// One per process.
#pragma once

#include "seams/TracePlatform.h"

namespace norvik {

TracePlatform& Win32TracePlatformInstance();

}  // namespace norvik
