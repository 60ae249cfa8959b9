// Native builds have no HID class driver: the system bus is empty, and
// pointer checks reject only null.
#include "platform/Platform.h"

namespace vorlex::platform {
namespace {

class EmptyHidBus final : public HidBus {
public:
    bool BeginEnumeration() override { return true; }
    bool InterfacePath(size_t, std::string&) override { return false; }
    void EndEnumeration() override {}
    std::unique_ptr<HidDevice> Open(const std::string&) override { return nullptr; }
};

}  // namespace

std::unique_ptr<HidBus> CreateSystemHidBus() { return std::make_unique<EmptyHidBus>(); }
bool IsReadable(const void* pointer, size_t) { return pointer != nullptr; }
bool IsWritable(void* pointer, size_t) { return pointer != nullptr; }

}  // namespace vorlex::platform
