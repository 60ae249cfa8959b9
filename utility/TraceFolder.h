// The folder of the service object's diagnostic trace, for the system menu's
// "Open trace folder": offered only while a trace file exists.
#pragma once

#include <windows.h>

#include <string>

namespace swipebench {

// The folder of the first device key's trace file that exists: its
// "TraceFile" value, or %ProgramData%\Norvik\Logs\<device key>.log without
// one. Empty when there is none.
std::string ExistingTraceFolder();

// Adds or removes the menu command IDM_OPEN_TRACE_FOLDER, as a trace file exists or not.
void UpdateTraceFolderCommand(HMENU systemMenu);

// Opens the folder in the shell; false when there is none any more.
bool OpenTraceFolder(HWND owner);

}  // namespace swipebench
