// The process-wide objects behind the flat C interface: one reader library,
// the system's HID bus and the simulated bus.
#pragma once

#include "core/ReaderLibrary.h"
#include "sim/SimulatedHidBus.h"

namespace vorlex {

ReaderLibrary& Library();
SimulatedHidBus& SimulatedBus();
// Points detection at the simulated bus (true) or the system's (false).
void UseSimulatedBus(bool simulated);

}  // namespace vorlex
