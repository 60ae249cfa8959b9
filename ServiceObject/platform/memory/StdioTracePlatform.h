// The trace's platform on a POSIX host: stdio files, local time, and stderr
// for the one report that the trace went off. One per process.
#pragma once

#include "seams/TracePlatform.h"

namespace norvik {

TracePlatform& StdioTracePlatformInstance();

}  // namespace norvik
