/*
 * Vorlex - reader library for the Norvik USB magnetic stripe readers.
 *
 * Finds the reader on the HID bus, reads its swipe reports on a background
 * thread, decodes them into a library-wide card data store and reports
 * through two callbacks. Commands travel to the reader as feature reports.
 *
 * Every function is __stdcall and exported under its plain name. Buffers
 * belong to the caller: the library copies into them and never allocates
 * for its client. Nothing is thrown across this interface.
 */
#ifndef VORLEX_H
#define VORLEX_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define VORLEX_CALL __stdcall
#else
#define VORLEX_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* USB identity of the readers the library accepts. */
#define VORLEX_VENDOR_ID 0xF5A1
#define VORLEX_PID_SECURE_SWIPE 0x0101
#define VORLEX_PID_SECURE_INSERT 0x0102
#define VORLEX_PID_BASIC_SWIPE 0x0201
#define VORLEX_PID_BASIC_INSERT 0x0202

/* Results of the functions that report one. */
#define VORLEX_OK 0
#define VORLEX_FAILED 1          /* no reader open, reader not found, or the request failed */
#define VORLEX_ALREADY_OPEN 2
#define VORLEX_BAD_POINTER 3

/* Values passed to the callbacks. */
#define VORLEX_CARD_DATA_CLEARED 0
#define VORLEX_CARD_DATA_NEW 1
#define VORLEX_DEVICE_RELEASED 0
#define VORLEX_DEVICE_OPENED 1
#define VORLEX_DEVICE_REMOVED 2

/* Minimum size of the buffer passed to VorlexGetCardDataStr. */
#define VORLEX_CARD_DATA_TEXT_SIZE 4096

/*
 * One decoded swipe, as VorlexGetCardData copies it out. The layout is part
 * of the interface: fields follow each other without gaps, texts are
 * zero-terminated, numbers are 32-bit signed little-endian.
 */
typedef struct VorlexCardData {
    char AllTracks[768];          /* Track1Text + Track2Text + Track3Text */
    char Reserved[768];           /* never written by the library */
    char Track1Text[256];
    char Track2Text[256];
    char Track3Text[256];
    char MaskedTrack1Text[256];
    char MaskedTrack2Text[256];
    char MaskedTrack3Text[256];
    char FluxScribeHex[256];
    char CardEncodeTypeName[256];
    char FluxScribeStatusText[256];
    char AuxBlock8Hex[256];
    char SerialNumberText[256];
    char AuxBlock10Hex[256];
    char ParsedFirstName[256];
    char ParsedLastName[256];
    char ParsedAccountNumber[256];
    char ParsedExpirationMonth[256];
    char ParsedExpirationYear[256];
    int32_t ProductID;
    int32_t FluxScribeLength;
    int32_t FluxScribeStatus;
    int32_t Track1Length;
    int32_t Track2Length;
    int32_t Track3Length;
    int32_t MaskedTrack1Length;
    int32_t MaskedTrack2Length;
    int32_t MaskedTrack3Length;
    int32_t CardEncodeType;
    int32_t Track1DecodeStatus;
    int32_t Track2DecodeStatus;
    int32_t Track3DecodeStatus;
    int32_t DecodeFailed;         /* 1: a track failed; -1: reader opened, nothing decoded yet */
} VorlexCardData;

/* Card-data callback: 1 new card data, 0 cleared. Device-state callback:
 * 1 opened, 0 released, 2 removed (always followed by 0). Results are ignored. */
typedef int32_t(VORLEX_CALL* VorlexCardDataStateCallback)(int32_t state);
typedef int32_t(VORLEX_CALL* VorlexDeviceStateCallback)(int32_t state);

/* Detects and opens the reader and starts its read thread. `reserved` is ignored.
 * 0 opened, 1 no reader found, 2 a reader is already open. */
int32_t VORLEX_CALL VorlexOpenDevice(const char* reserved);

/* Closes the open reader (device-state callback with 0). Always 0. From inside a
 * callback on the read thread it does not wait for that thread. */
int32_t VORLEX_CALL VorlexCloseDevice(void);

/* Empties the card data store and calls the card-data callback with 0. */
void VORLEX_CALL VorlexClearBuffer(void);

/* Register a callback; null turns the notification off. */
void VORLEX_CALL VorlexCardDataStateChangedNotify(VorlexCardDataStateCallback callback);
void VORLEX_CALL VorlexDeviceStateChangedNotify(VorlexDeviceStateCallback callback);

/* Polling: each writes its value (0 while no reader is detected) and returns it. */
int32_t VORLEX_CALL VorlexGetDeviceState(int32_t* state);
int32_t VORLEX_CALL VorlexGetCardDataState(int32_t* state);
int32_t VORLEX_CALL VorlexGetPID(int32_t* productId);

/* Copies the card data store into `record`. 0, or 3 when `record` is null. */
int32_t VORLEX_CALL VorlexGetCardData(VorlexCardData* record);

/* Writes the card data text, each field followed by `separator`, without a
 * terminating zero. `text` must hold VORLEX_CARD_DATA_TEXT_SIZE bytes and be
 * cleared by the caller. 0 written, 1 no reader open, 3 bad pointer. */
int32_t VORLEX_CALL VorlexGetCardDataStr(char* text, const char* separator);

/* Sends one command (hexadecimal text) as a feature report and returns the
 * reply data as hexadecimal text, cut to `replyCapacity` - 1 characters.
 * Mode 1: the text carries its own length byte. 0 answered, 1 failed. */
int32_t VORLEX_CALL VorlexSendCommand(const char* command, int32_t mode, char* replyText,
                                      int32_t replyCapacity);

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
#define VORLEX_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define VORLEX_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, Reserved) == 768, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, Track1Text) == 1536, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, Track2Text) == 1792, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, Track3Text) == 2048, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, MaskedTrack1Text) == 2304, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, MaskedTrack2Text) == 2560, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, MaskedTrack3Text) == 2816, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, FluxScribeHex) == 3072, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, CardEncodeTypeName) == 3328, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, FluxScribeStatusText) == 3584, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, AuxBlock8Hex) == 3840, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, SerialNumberText) == 4096, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, AuxBlock10Hex) == 4352, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, ParsedFirstName) == 4608, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, ParsedLastName) == 4864, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, ParsedAccountNumber) == 5120, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, ParsedExpirationMonth) == 5376, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, ParsedExpirationYear) == 5632, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, ProductID) == 5888, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, FluxScribeLength) == 5892, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, FluxScribeStatus) == 5896, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, Track1Length) == 5900, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, Track2Length) == 5904, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, Track3Length) == 5908, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, MaskedTrack1Length) == 5912, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, MaskedTrack2Length) == 5916, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, MaskedTrack3Length) == 5920, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, CardEncodeType) == 5924, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, Track1DecodeStatus) == 5928, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, Track2DecodeStatus) == 5932, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, Track3DecodeStatus) == 5936, "record layout");
VORLEX_STATIC_ASSERT(offsetof(VorlexCardData, DecodeFailed) == 5940, "record layout");
VORLEX_STATIC_ASSERT(sizeof(VorlexCardData) == 5944, "record size");

#endif /* VORLEX_H */
