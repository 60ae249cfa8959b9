/*
 * Simulated HID bus of Vorlex, for running without hardware.
 *
 * Off by default. Once enabled, detection walks the simulated bus instead of
 * the system's, applying the same rules (vendor ID, model table,
 * capabilities). Results: 0 success, non-zero refused.
 */
#ifndef VORLEX_SIMULATOR_H
#define VORLEX_SIMULATOR_H

#include "Vorlex.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Points at which VorlexSimFailNext makes the next call fail once. */
#define VORLEX_SIM_FAIL_INTERFACE_SET 1
#define VORLEX_SIM_FAIL_OPEN 2
#define VORLEX_SIM_FAIL_ATTRIBUTES 3
#define VORLEX_SIM_FAIL_PREPARSED_DATA 4
#define VORLEX_SIM_FAIL_CAPS 5
#define VORLEX_SIM_FAIL_SET_FEATURE 6
#define VORLEX_SIM_FAIL_GET_FEATURE 7

/* 1: detection walks the simulated bus; 0: the system's. */
int VORLEX_CALL VorlexSimEnable(int enable);

/* Empties the bus and clears injected failures and replies. */
int VORLEX_CALL VorlexSimReset(void);

/* Appends one interface; enumeration sees them in the order attached. */
int VORLEX_CALL VorlexSimAttach(unsigned short vendorId, unsigned short productId,
                                unsigned short inputReportLength,
                                unsigned short featureReportLength);

/* Unplugs the open reader: its pending read completes with device-not-connected. */
int VORLEX_CALL VorlexSimDetach(void);

/* Delivers one input report of `length` bytes (may be short) to the open
 * reader. Reports wait in order while the read thread is busy; none is
 * dropped. Refused when no simulated reader is open. */
int VORLEX_CALL VorlexSimSwipe(const unsigned char* report, int length);

/* Builds and delivers a report for the model of the open reader. Encrypting
 * models get masked tracks, serial number, auxiliary and authentication
 * blocks derived from the tracks, and the tracks themselves as bytes. */
int VORLEX_CALL VorlexSimSwipeTracks(const char* track1, const char* track2, const char* track3,
                                     int decodeStatus1, int decodeStatus2, int decodeStatus3,
                                     int encodeType);

/* Bytes of the next get-feature reply, report ID first. */
int VORLEX_CALL VorlexSimSetFeatureReply(const unsigned char* reply, int length);

/* Copies out the last set-feature request; returns its length. */
int VORLEX_CALL VorlexSimGetLastFeatureRequest(unsigned char* buffer, int capacity);

/* Makes the next call at `point` fail, once. */
int VORLEX_CALL VorlexSimFailNext(int point);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VORLEX_SIMULATOR_H */
