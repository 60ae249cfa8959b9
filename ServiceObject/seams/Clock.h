// Time as the service object sees it, injected so that tests need not sleep.
#pragma once

#include <cstdint>

namespace norvik {

struct LocalDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual void SleepMilliseconds(uint32_t milliseconds) = 0;
    virtual LocalDate Today() = 0;
};

}  // namespace norvik
