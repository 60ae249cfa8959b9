// The numeric and string properties by OPOS index: the rules come from
// logic/PropertyRules; here they meet the process state (data count,
// freezing) and the writes that act beyond the instance's own block.
#include "card_input/CardInput.h"
#include "common/OposProperties.h"
#include "instance/ServiceObjectImpl.h"
#include "logic/PropertyRules.h"
#include "logic/TrackParser.h"

namespace norvik {

void ServiceObjectCore::Impl::GetPropertyNumber(int32_t propIndex, int32_t* pNumber) {
    ProcessGuard guard(Lock());
    SharedPropertyValues shared;
    shared.freezeEvents = ProcessEventDelivery().Frozen(guard);
    shared.dataCount = ProcessDataQueue().Count(guard);
    const NumberRead read = ReadNumberProperty(props, propIndex, shared);
    if (pNumber) *pNumber = read.value;
    if (!read.setsResult) return;
    props.ResultCode = read.resultCode;
    props.ResultCodeExtended = read.resultCodeExtended;
}

void ServiceObjectCore::Impl::SetPropertyNumber(int32_t propIndex, int32_t number) {
    const bool flag = number == 1;
    ProcessGuard guard(Lock());
    switch (WriteNumberProperty(props, propIndex, number)) {
        case NumberWrite::Done:
            return;
        case NumberWrite::DeviceEnabled:
            if (flag) {
                if (!props.Claimed) {
                    props.ResultCode = OPOS_E_NOTCLAIMED;
                    if (props.DeviceEnabled) {
                        // Released while enabled: the flag goes false, and the
                        // reader goes with it rather than stay open for good.
                        guard.Unlock();
                        setDeviceEnabled(false);
                        guard.Relock();
                    }
                } else if (props.ClaimedElsewhere) {
                    props.ResultCode = OPOS_E_CLAIMED;
                } else if (!props.DeviceEnabled) {
                    guard.Unlock();
                    const bool enabled = setDeviceEnabled(true);
                    guard.Relock();
                    if (!enabled) {
                        props.DeviceEnabled = false;
                        props.ResultCode = OPOS_E_FAILURE;
                    }
                }
            } else if (props.DeviceEnabled) {
                guard.Unlock();
                setDeviceEnabled(false);
                guard.Relock();
            }
            return;
        case NumberWrite::DataEventEnabled:
            if (flag && ProcessDataQueue().Count(guard) > 0) FireEnqueuedDataEvents(guard);
            return;
        case NumberWrite::FreezeEvents: {
            EventDelivery& delivery = ProcessEventDelivery();
            if (delivery.SetFrozen(guard, flag)) delivery.FireFrozen(guard);
            return;
        }
        case NumberWrite::TransmitSentinels:
            // The rebuild works on the current instance, the one constructed last.
            if (Impl* instance = Current(guard)) ProcessSentinels(instance->props, ProcessDataQueue().Current(guard));
            return;
    }
}

void ServiceObjectCore::Impl::GetPropertyString(int32_t propIndex, std::string& value) {
    ProcessGuard guard(Lock());
    props.ResultCode = props.ResultCodeExtended = OPOS_SUCCESS;
    value.assign(ReadStringProperty(props, propIndex));
}

void ServiceObjectCore::Impl::SetPropertyString(int32_t propIndex) {
    ProcessGuard guard(Lock());
    WriteStringProperty(props, propIndex);
}

void ServiceObjectCore::GetPropertyNumber(int32_t propIndex, int32_t* pNumber) {
    impl_->GetPropertyNumber(propIndex, pNumber);
    impl_->TraceCall("GetPropertyNumber", nullptr, "%d -> %d", propIndex, pNumber ? *pNumber : 0);
}
void ServiceObjectCore::SetPropertyNumber(int32_t propIndex, int32_t number) {
    impl_->SetPropertyNumber(propIndex, number);
    impl_->TraceCall("SetPropertyNumber", nullptr, "%d, %d", propIndex, number);
}
// String values may be card data: the trace shows their lengths.
void ServiceObjectCore::GetPropertyString(int32_t propIndex, std::string& value) {
    impl_->GetPropertyString(propIndex, value);
    impl_->TraceCall("GetPropertyString", nullptr, "%d -> %u chars", propIndex, static_cast<unsigned>(value.size()));
}
void ServiceObjectCore::SetPropertyString(int32_t propIndex, std::string_view value) {
    impl_->SetPropertyString(propIndex);  // strings are never stored
    impl_->TraceCall("SetPropertyString", nullptr, "%d, %u chars", propIndex, static_cast<unsigned>(value.size()));
}

}  // namespace norvik
