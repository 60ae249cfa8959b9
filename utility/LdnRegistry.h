// The logical device names in the registry: aliases are string values directly
// under the MSR key, named by the alias, holding the device key they stand for.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "UtilityHandles.h"

namespace swipebench {

extern const char kMsrKeyPath[];   // below HKEY_LOCAL_MACHINE
extern const char kDeviceKey1[];
extern const char kDeviceKey2[];
extern const char kMessageCaption[];

// True for exactly "Norvik_MSR-1" or "Norvik_MSR-2" (letter case counts).
bool IsDeviceKeyName(const std::string& text);

// Opens the MSR key with `access`: reading only, unless the caller writes.
LONG OpenMsrKey(UniqueHKey& key, REGSAM access = KEY_READ);

// Reads a value as text: a string as it is, a 32-bit number with "%ld", any
// other type as "?". Data over 1024 bytes or a failed read leaves `text` alone.
bool ReadValueText(HKEY key, const char* name, std::string& text);

// Value and subkey names by index from 0 until no more are left. Names that
// do not fit 128 characters are skipped.
std::vector<std::string> EnumValueNames(HKEY key);
std::vector<std::string> EnumSubkeyNames(HKEY key);

// The "ERROR: Open-1" box for an MSR key that cannot be opened.
void ShowRegistryOpenError(HWND owner);

// The aliases of both device keys in registry order, for the main dialog.
// Shows the open error and returns an empty list when the key cannot be opened.
std::vector<std::string> LoadLogicalDeviceNames(HWND owner);

}  // namespace swipebench
