#include "core/ModelTable.h"

#include "Vorlex.h"

namespace vorlex {
namespace {

constexpr ModelSwitches kSecure{true, true, true, true, true, true};
constexpr ModelSwitches kBasic{};

constexpr ReaderModel kModels[] = {
    {VORLEX_PID_SECURE_SWIPE, "Norvik secure swipe reader", kSecure},
    {VORLEX_PID_SECURE_INSERT, "Norvik secure insert reader", kSecure},
    {VORLEX_PID_BASIC_SWIPE, "Norvik basic swipe reader", kBasic},
    {VORLEX_PID_BASIC_INSERT, "Norvik basic insert reader", kBasic},
    {0x0000, "unidentified reader", kBasic},
};

}  // namespace

const ReaderModel* FindReaderModel(uint16_t productId) {
    for (const ReaderModel& model : kModels) {
        if (model.productId == productId) return &model;
    }
    return nullptr;
}

}  // namespace vorlex
