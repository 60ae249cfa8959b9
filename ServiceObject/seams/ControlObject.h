// The service object's view of the OPOS control object: "call method NAME
// with these arguments". The COM adapter turns a call into GetIDsOfNames and
// Invoke on the control object's dispatch; native tests use a recording fake.
#pragma once

#include <cstdint>
#include <string>

namespace norvik {

// One argument of an event call, in declaration order of the method's
// parameters. References point at storage that lives across the call; the
// callee may change what they point at.
struct EventArgument {
    enum class Type { Long, LongRef, StringRef };
    Type type = Type::Long;
    int32_t value = 0;               // Long
    int32_t* longRef = nullptr;      // LongRef
    std::string* stringRef = nullptr;  // StringRef (narrow text, ANSI code page)

    static EventArgument Long(int32_t v) { return {Type::Long, v, nullptr, nullptr}; }
    static EventArgument LongRef(int32_t* p) { return {Type::LongRef, 0, p, nullptr}; }
    static EventArgument StringRef(std::string* p) { return {Type::StringRef, 0, nullptr, p}; }
};

class ControlObject {
public:
    virtual ~ControlObject() = default;
    // Looks `method` up by name and calls it. False when the name is unknown
    // (the event is then dropped); the callee's own result is not reported.
    virtual bool Call(const char* method, const EventArgument* arguments, int count) = 0;
};

}  // namespace norvik
