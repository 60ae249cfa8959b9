// DirectIO to the reader, the statistics methods, and the operations that
// the device does not support.
#include <cstring>

#include "framework/ServiceObjectImpl.h"

namespace norvik {
namespace {

constexpr size_t kCommandBufferSize = 260;  // 259 characters and the terminator
constexpr size_t kReplyBufferSize = 260;

}  // namespace

bool ServiceObjectCore::Impl::DirectIO(int32_t* pData, std::string& text, int32_t* pRC) {
    char command[kCommandBufferSize] = {};
    char reply[kReplyBufferSize] = {};
    int32_t eventNumber;
    {
        std::lock_guard<std::mutex> lock(Process().mutex);
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
    {
        std::lock_guard<std::mutex> lock(Process().mutex);
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
    Fire_DirectIOEvent(eventNumber, &data, &text);
    if (pData) *pData = data;
    return true;
}

bool ServiceObjectCore::Impl::RetrieveStatistics(std::string& buffer, int32_t* pRC) {
    std::lock_guard<std::mutex> lock(Process().mutex);
    if (!props.DeviceEnabled || !props.Claimed) {
        SetResult(pRC, props.Claimed ? OPOS_E_DISABLED : OPOS_E_NOTCLAIMED, OPOS_SUCCESS);
        return false;
    }
    StatisticsRequest request;
    ParseStatisticsRequest(buffer, request);
    LoadXMLUPOSStatistics();
    buffer = BuildXMLString(statistics_, request);
    SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
    return true;
}

void ServiceObjectCore::Impl::Refuse(int32_t* pRC) {
    std::lock_guard<std::mutex> lock(Process().mutex);
    SetResult(pRC, OPOS_E_ILLEGAL, OPOS_SUCCESS);
}

void ServiceObjectCore::GetPropertyNumber(int32_t propIndex, int32_t* pNumber) {
    impl_->GetPropertyNumber(propIndex, pNumber);
}
void ServiceObjectCore::SetPropertyNumber(int32_t propIndex, int32_t number) {
    impl_->SetPropertyNumber(propIndex, number);
}
void ServiceObjectCore::GetPropertyString(int32_t propIndex, std::string& value) {
    impl_->GetPropertyString(propIndex, value);
}
void ServiceObjectCore::SetPropertyString(int32_t propIndex, std::string_view) {
    impl_->SetPropertyString(propIndex);  // strings are never stored
}
bool ServiceObjectCore::DirectIO(int32_t, int32_t* pData, std::string& text, int32_t* pRC) {
    return impl_->DirectIO(pData, text, pRC);  // the command number is not used: the text is the command
}
void ServiceObjectCore::ClearInput(int32_t* pRC) { impl_->ClearInput(pRC); }
void ServiceObjectCore::ClearInputProperties(int32_t* pRC) { impl_->ClearInputProperties(pRC); }
void ServiceObjectCore::ResetStatistics(int32_t* pRC) { impl_->Refuse(pRC); }
bool ServiceObjectCore::RetrieveStatistics(std::string& buffer, int32_t* pRC) {
    return impl_->RetrieveStatistics(buffer, pRC);
}
void ServiceObjectCore::UpdateStatistics(int32_t* pRC) { impl_->Refuse(pRC); }
void ServiceObjectCore::CompareFirmwareVersion(int32_t*, int32_t* pRC) { impl_->Refuse(pRC); }
void ServiceObjectCore::UpdateFirmware(int32_t* pRC) { impl_->Refuse(pRC); }
void ServiceObjectCore::WriteTracks(int32_t* pRC) { impl_->Refuse(pRC); }
void ServiceObjectCore::AuthenticateDevice(int32_t* pRC) { impl_->Refuse(pRC); }
void ServiceObjectCore::DeauthenticateDevice(int32_t* pRC) { impl_->Refuse(pRC); }
bool ServiceObjectCore::RetrieveCardProperty(std::string_view name, std::string& value, int32_t* pRC) {
    return impl_->RetrieveCardProperty(name, value, pRC);
}
void ServiceObjectCore::RetrieveDeviceAuthenticationData(int32_t* pRC) { impl_->Refuse(pRC); }
void ServiceObjectCore::UpdateKey(int32_t* pRC) { impl_->Refuse(pRC); }

}  // namespace norvik
