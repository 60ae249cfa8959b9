/* Reads one swipe and sends one command through Vorlex.dll, without hardware:
 * the reader is the library's simulated one. Build it in the release folder
 * (32-bit, mingw-w64), and run it with x86\ on PATH:
 *   i686-w64-mingw32-gcc -std=c11 -Iinclude docs/examples/vorlex_example.c lib/x86/Vorlex.lib -o vorlex_example.exe
 */
#include <windows.h>
#include <stdio.h>

#include "Vorlex.h"
#include "VorlexSimulator.h"

static HANDLE swiped;       /* set when a swipe has been copied */
static VorlexCardData card; /* the copy */

/* Runs on the library's read thread. Copy the swipe and clear the reader's
 * buffer here, before the next report can arrive. */
static int32_t VORLEX_CALL OnCardData(int32_t state)
{
    if (state == VORLEX_CARD_DATA_NEW) {
        VorlexGetCardData(&card);
        VorlexClearBuffer(); /* calls back at once with VORLEX_CARD_DATA_CLEARED */
        SetEvent(swiped);
    }
    return 0;
}

static int32_t VORLEX_CALL OnDeviceState(int32_t state)
{
    printf("device state %d\n", (int)state);
    return 0;
}

int main(void)
{
    static const unsigned char reply[] = {0x00, 0x00, 0x03, 0x90, 0x00, 0x1F};
    char replyText[64];
    int32_t productId = 0;

    swiped = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (swiped == NULL) return 1;

    /* One basic swipe reader on the simulated bus: input reports of 338
     * bytes, feature reports of 64. */
    VorlexSimEnable(1);
    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64);

    VorlexCardDataStateChangedNotify(OnCardData);
    VorlexDeviceStateChangedNotify(OnDeviceState);
    if (VorlexOpenDevice("") != VORLEX_OK) {
        printf("no reader found\n");
        return 1;
    }
    VorlexGetPID(&productId);
    printf("reader %04X opened\n", (unsigned)productId);

    VorlexSimSwipeTracks("%B4111111111111111^DOE/JOHN Q^2512101123456789?",
                         ";4111111111111111=25121011234567890?", "", 0, 0, 0, 0);
    if (WaitForSingleObject(swiped, 5000) != WAIT_OBJECT_0) {
        printf("no swipe arrived\n");
        return 1;
    }
    printf("track 1: %s\n", card.Track1Text);
    printf("track 2: %s\n", card.Track2Text);
    printf("decode failed: %d\n", (int)card.DecodeFailed);

    /* Command 02 with one data byte 03; the simulated reader answers with
     * the reply set here (report ID, result code, length 3, data). */
    VorlexSimSetFeatureReply(reply, sizeof reply);
    if (VorlexSendCommand("02 03", 0, replyText, sizeof replyText) == VORLEX_OK) {
        printf("reply: %s\n", replyText);
    }

    VorlexCloseDevice();
    CloseHandle(swiped);
    return 0;
}
