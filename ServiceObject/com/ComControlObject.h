// The control object seam over the OPOS control object's own dispatch: each
// event becomes GetIDsOfNames for its method name and one Invoke.
#pragma once

#include <oaidl.h>

#include "seams/ControlObject.h"

namespace norvik::com {

class ComControlObject final : public ControlObject {
public:
    // Holds `dispatch` without a reference: the control object owns the
    // service object, and a reference back would keep it alive forever. The
    // core drops this adapter before the control object can go away.
    explicit ComControlObject(IDispatch* dispatch) noexcept : dispatch_(dispatch) {}

    bool Call(const char* method, const EventArgument* arguments, int count) override;

    // Most arguments any control-object method takes here.
    static constexpr int kMaxArguments = 8;

private:
    IDispatch* dispatch_;
};

}  // namespace norvik::com
