// SwipeBench: tries an MSR logical device the way a point-of-sale
// application would use it.
#include <windows.h>

#include "SwipeBenchApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return swipebench::CSwipeBenchApp(instance).Run();
}
