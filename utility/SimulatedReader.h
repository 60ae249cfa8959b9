// The "Simulated reader" submenu of the system menu. It drives the simulated
// HID bus of the Vorlex library loaded in this process, so that SwipeBench can
// be tried without hardware. It is offered only when that library carries the
// simulator's exports.
#pragma once

#include <windows.h>

#include "UtilityHandles.h"

namespace swipebench {

class CSimulatedReader {
public:
    // Loads Vorlex.dll (the one the service object will share) and resolves
    // the simulator's exports. False when the library or an export is missing.
    bool Load();
    bool IsAvailable() const { return attach_ != nullptr; }

    // Appends the submenu to the system menu.
    bool AppendMenuTo(HMENU systemMenu);
    // Runs one of the submenu's commands. False when `command` is not one of them.
    bool OnSysCommand(UINT command);

private:
    using EnableFn = int(WINAPI*)(int);
    using AttachFn = int(WINAPI*)(unsigned short, unsigned short, unsigned short, unsigned short);
    using DetachFn = int(WINAPI*)(void);
    using SwipeTracksFn = int(WINAPI*)(const char*, const char*, const char*, int, int, int, int);

    bool Enable(bool on);
    bool Attach(unsigned short productId, unsigned short inputReportLength);

    UniqueModule vorlex_;
    EnableFn enable_ = nullptr;
    AttachFn attach_ = nullptr;
    DetachFn detach_ = nullptr;
    SwipeTracksFn swipeTracks_ = nullptr;
    HMENU menu_ = nullptr;  // owned by the system menu
    bool enabled_ = false;
};

}  // namespace swipebench
