#include "platform/SystemClock.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "common/NoDestructor.h"

namespace norvik {
namespace {

class RealClock final : public Clock {
public:
    void SleepMilliseconds(uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    LocalDate Today() override {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
#ifdef _WIN32
        localtime_s(&local, &now);
#else
        localtime_r(&now, &local);
#endif
        return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
    }
};

}  // namespace

Clock& SystemClock() {
    static NoDestructor<RealClock> clock;
    return clock.get();
}

}  // namespace norvik
