// The rules of the OPOS properties by index, as pure functions of one
// instance's property block: what a read returns with which result codes,
// what a write may change, and the values after opening. Writes whose effects
// reach beyond the block (enabling, data events, freezing, the sentinel
// rebuild) are named for the caller to carry out.
//
// Concurrency: none inside; the caller serialises access to the block.
#pragma once

#include <cstdint>
#include <string_view>

#include "logic/PropertyBlock.h"

namespace norvik {

inline constexpr int32_t kServiceObjectVersion = 1013004;
inline constexpr char kHealthSuccessful[] = "MSR CheckHealth INTERNAL: Successful";
inline constexpr char kHealthNoHardware[] = "MSR CheckHealth INTERNAL: No Hardware";

// What the process state adds to a read: values that every instance shares.
struct SharedPropertyValues {
    bool freezeEvents = false;
    int32_t dataCount = 0;
};

struct NumberRead {
    int32_t value = 0;
    bool setsResult = true;  // false: the outcome of the last call stays
    int32_t resultCode = 0;
    int32_t resultCodeExtended = 0;
};

// A read of a number property. An unknown index reads 106 and leaves the
// result codes alone; so do reads of ResultCode and ResultCodeExtended.
NumberRead ReadNumberProperty(const PropertyBlock& props, int32_t index, const SharedPropertyValues& shared);

// What a number write still needs from the caller once the block is updated.
enum class NumberWrite {
    Done,               // the block holds the whole effect (or the write was ignored)
    DeviceEnabled,      // enable or disable the device
    DataEventEnabled,   // the flag is set; deliver queued data when it is on
    FreezeEvents,       // set FreezeEvents; thawing releases held events
    TransmitSentinels,  // the flag is set; rebuild the current instance's track texts
};

// Sets ResultCode and ResultCodeExtended to success, then applies the write's
// rules to the block (a refused value sets ResultCode 106).
NumberWrite WriteNumberProperty(PropertyBlock& props, int32_t index, int32_t number);

// PowerState: unknown without power reporting, while disabled or while not
// notifying; otherwise online while the reader is open and off-offline while
// it is missing.
int32_t PowerState(const PropertyBlock& props);
// Power reporting is on and the application asked for status updates.
bool NotifiesPower(const PropertyBlock& props);

// The text of a string property; empty for an unknown index.
std::string_view ReadStringProperty(const PropertyBlock& props, int32_t index);
// Strings are never stored; WriteCardType refuses with 106.
void WriteStringProperty(PropertyBlock& props, int32_t index);

// Every property to its value after opening; the reader kind stays.
void ResetPropertiesForOpen(PropertyBlock& props);
// The encryption capabilities of the block's reader kind. At open, the
// card authentication capability is cleared for the known kinds, and unknown
// kinds take the defaults (no encryption offered).
void ApplyEncryptionCapabilities(PropertyBlock& props, bool atOpen);

}  // namespace norvik
