// The application: one modal main dialog on one thread.
#pragma once

#include <windows.h>

#include "Msr1.h"

namespace swipebench {

class CSwipeBenchApp {
public:
    explicit CSwipeBenchApp(HINSTANCE instance) : instance_(instance) {}

    // Runs the main dialog; returns the program's exit code.
    int Run(ControlFactory factory = nullptr);

private:
    HINSTANCE instance_;
};

}  // namespace swipebench
