// A swipe session against Vorlex's simulated reader, printed as a short
// report: a bank card on a basic reader, then on an encrypting one.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Vorlex.h"
#include "VorlexSimulator.h"

namespace {

HANDLE cardDataReady = nullptr;

int32_t VORLEX_CALL OnCardData(int32_t state) {
    if (state == VORLEX_CARD_DATA_NEW) SetEvent(cardDataReady);
    return 0;
}

int32_t VORLEX_CALL OnDeviceState(int32_t state) {
    static const char* const kNames[] = {"released", "opened", "removed"};
    std::printf("  reader %s\n", state >= 0 && state <= 2 ? kNames[state] : "?");
    return 0;
}

void PrintField(const char* name, const char* value) { std::printf("    %-22s %s\n", name, value); }

bool SwipeOn(const char* title, unsigned short productId, unsigned short inputLength) {
    std::printf("\n%s\n", title);
    VorlexSimReset();
    VorlexSimAttach(VORLEX_VENDOR_ID, productId, inputLength, 64);
    if (VorlexOpenDevice("") != 0) {
        std::printf("  no reader found\n");
        return false;
    }
    int32_t pid = 0;
    VorlexGetPID(&pid);
    std::printf("  product ID %04X\n", static_cast<unsigned>(pid));
    ResetEvent(cardDataReady);
    VorlexSimSwipeTracks("%B4111111111111111^DOE/JOHN Q^2512101123456789?",
                         ";4111111111111111=25121011234567890?", "", 0, 0, 0, 0);
    if (WaitForSingleObject(cardDataReady, 5000) != WAIT_OBJECT_0) {
        std::printf("  no card data arrived\n");
        return false;
    }
    VorlexCardData record{};
    VorlexGetCardData(&record);
    PrintField("Track 1", record.Track1Text);
    PrintField("Track 2", record.Track2Text);
    if (record.MaskedTrack1Text[0]) PrintField("Masked track 1", record.MaskedTrack1Text);
    if (record.MaskedTrack2Text[0]) PrintField("Masked track 2", record.MaskedTrack2Text);
    PrintField("Cardholder", (std::string(record.ParsedFirstName) + " " + record.ParsedLastName).c_str());
    PrintField("Account number", record.ParsedAccountNumber);
    PrintField("Expires (YY/MM)",
               (std::string(record.ParsedExpirationYear) + "/" + record.ParsedExpirationMonth).c_str());
    PrintField("Encode type", record.CardEncodeTypeName);
    if (record.SerialNumberText[0]) PrintField("Reader serial", record.SerialNumberText);

    std::vector<char> text(VORLEX_CARD_DATA_TEXT_SIZE, 0);
    if (VorlexGetCardDataStr(text.data(), "|") == 0) {
        std::printf("  card data text:\n    %s\n", text.data());
    }
    VorlexClearBuffer();
    VorlexCloseDevice();
    return true;
}

}  // namespace

int main() {
    cardDataReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (cardDataReady == nullptr) return 2;
    std::printf("Norvik MSR swipe session (simulated reader)\n");
    std::printf("===========================================\n");
    VorlexSimEnable(1);
    VorlexCardDataStateChangedNotify(&OnCardData);
    VorlexDeviceStateChangedNotify(&OnDeviceState);
    const bool ok = SwipeOn("Basic swipe reader", VORLEX_PID_BASIC_SWIPE, 338) &&
                    SwipeOn("Secure swipe reader (encrypting)", VORLEX_PID_SECURE_SWIPE, 887);
    VorlexCardDataStateChangedNotify(nullptr);
    VorlexDeviceStateChangedNotify(nullptr);
    CloseHandle(cardDataReady);
    std::printf("\n%s\n", ok ? "Session complete." : "Session FAILED.");
    return ok ? 0 : 1;
}
