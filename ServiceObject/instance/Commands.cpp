// DirectIO to the reader, the statistics methods, and the operations that
// the device does not support.
#include <cstring>

#include "common/SecureWipe.h"
#include "instance/ServiceObjectImpl.h"
#include "logic/Statistics.h"

namespace norvik {
namespace {

constexpr size_t kCommandBufferSize = 260;  // 259 characters and the terminator
constexpr size_t kReplyBufferSize = 260;

}  // namespace

namespace {
// A reply may carry card data, a command keys: both buffers are wiped on every way out.
struct WipedBuffers {
    char command[kCommandBufferSize] = {};
    char reply[kReplyBufferSize] = {};
    ~WipedBuffers() { SecureWipe(this, sizeof *this); }
};
}  // namespace

bool ServiceObjectCore::Impl::DirectIO(int32_t* pData, std::string& text, int32_t* pRC) {
    WipedBuffers buffers;
    char (&command)[kCommandBufferSize] = buffers.command;
    char (&reply)[kReplyBufferSize] = buffers.reply;
    int32_t eventNumber;
    {
        ProcessGuard guard(Lock());
        if (!props.DeviceEnabled && !props.Claimed) return false;
        // A longer command would be sent cut, which is a different command.
        if (text.size() >= kCommandBufferSize) {
            SetResult(pRC, OPOS_E_ILLEGAL, OPOS_SUCCESS);
            return false;
        }
        eventNumber = props.DirectIOEventNumber;
    }
    std::memcpy(command, text.data(), text.size());
    const size_t length = ::strnlen(command, sizeof command);

    const int32_t status = VorlexSendCommand(command, static_cast<int32_t>(length), reply,
                                             static_cast<int32_t>(sizeof reply));
    // The command code only: the rest of a command may carry keys, a reply card data.
    trace.Write(TraceLevel::Details, "reader command %.2s.. (%u chars): %d, reply %u chars", command,
                static_cast<unsigned>(length), status, static_cast<unsigned>(::strnlen(reply, sizeof reply)));
    ProcessGuard guard(Lock());
    {
        if (status == VORLEX_OK) {
            // The whole reply goes back, not a cut copy of it.
            text.assign(reply, ::strnlen(reply, sizeof reply));
            if (pData) *pData = static_cast<int32_t>(text.size());
            SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
        } else {
            text.clear();
            if (pData) *pData = status;
            SetResult(pRC, OPOS_E_FAILURE, OPOS_SUCCESS);
        }
        ++props.DirectIOEventNumber;
    }
    // Delivered before we return, so the handler's changes reach the caller.
    int32_t data = pData ? *pData : 0;
    Fire_DirectIOEvent(guard, eventNumber, &data, &text);
    if (pData) *pData = data;
    return true;
}

bool ServiceObjectCore::Impl::RetrieveStatistics(std::string& buffer, int32_t* pRC) {
    ProcessGuard guard(Lock());
    if (!props.DeviceEnabled || !props.Claimed) {
        SetResult(pRC, props.Claimed ? OPOS_E_DISABLED : OPOS_E_NOTCLAIMED, OPOS_SUCCESS);
        return false;
    }
    StatisticsRequest request;
    ParseStatisticsRequest(buffer, request);
    LoadXMLUPOSStatistics(guard);
    buffer = BuildXMLString(statistics_, request);
    SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
    return true;
}

void ServiceObjectCore::Impl::Refuse(int32_t* pRC) {
    ProcessGuard guard(Lock());
    SetResult(pRC, OPOS_E_ILLEGAL, OPOS_SUCCESS);
}

bool ServiceObjectCore::DirectIO(int32_t command, int32_t* pData, std::string& text, int32_t* pRC) {
    const size_t commandLength = text.size();
    // The command number is not used: the text is the command.
    const bool reached = impl_->DirectIO(pData, text, pRC);
    impl_->TraceCall("DirectIO", reached ? pRC : nullptr, "%d, %u chars -> data %d, %u chars", command,
                     static_cast<unsigned>(commandLength), pData ? *pData : 0, static_cast<unsigned>(text.size()));
    return reached;
}
void ServiceObjectCore::ClearInput(int32_t* pRC) {
    impl_->ClearInput(pRC);
    impl_->TraceCall("ClearInput", pRC, "%s", "");
}
void ServiceObjectCore::ClearInputProperties(int32_t* pRC) {
    impl_->ClearInputProperties(pRC);
    impl_->TraceCall("ClearInputProperties", pRC, "%s", "");
}
bool ServiceObjectCore::RetrieveStatistics(std::string& buffer, int32_t* pRC) {
    const bool replaced = impl_->RetrieveStatistics(buffer, pRC);
    impl_->TraceCall("RetrieveStatistics", pRC, "-> %u chars", static_cast<unsigned>(buffer.size()));
    return replaced;
}
bool ServiceObjectCore::RetrieveCardProperty(std::string_view name, std::string& value, int32_t* pRC) {
    const bool found = impl_->RetrieveCardProperty(name, value, pRC);
    impl_->TraceCall("RetrieveCardProperty", pRC, "%.*s -> %u chars", static_cast<int>(name.size()), name.data(),
                     static_cast<unsigned>(found ? value.size() : 0));
    return found;
}

namespace {
// The operations the device does not support: each refuses, and is traced by name.
void Refused(ServiceObjectCore::Impl& impl, const char* method, int32_t* pRC) {
    impl.Refuse(pRC);
    impl.TraceCall(method, pRC, "%s", "");
}
}  // namespace

void ServiceObjectCore::ResetStatistics(int32_t* pRC) { Refused(*impl_, "ResetStatistics", pRC); }
void ServiceObjectCore::UpdateStatistics(int32_t* pRC) { Refused(*impl_, "UpdateStatistics", pRC); }
void ServiceObjectCore::CompareFirmwareVersion(int32_t*, int32_t* pRC) {
    Refused(*impl_, "CompareFirmwareVersion", pRC);
}
void ServiceObjectCore::UpdateFirmware(int32_t* pRC) { Refused(*impl_, "UpdateFirmware", pRC); }
void ServiceObjectCore::WriteTracks(int32_t* pRC) { Refused(*impl_, "WriteTracks", pRC); }
void ServiceObjectCore::AuthenticateDevice(int32_t* pRC) { Refused(*impl_, "AuthenticateDevice", pRC); }
void ServiceObjectCore::DeauthenticateDevice(int32_t* pRC) { Refused(*impl_, "DeauthenticateDevice", pRC); }
void ServiceObjectCore::RetrieveDeviceAuthenticationData(int32_t* pRC) {
    Refused(*impl_, "RetrieveDeviceAuthenticationData", pRC);
}
void ServiceObjectCore::UpdateKey(int32_t* pRC) { Refused(*impl_, "UpdateKey", pRC); }

}  // namespace norvik
