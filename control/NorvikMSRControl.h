/*
 * NorvikMSRControl.h - the Norvik OPOS MSR control object, a small stand-in for the
 * standard OPOS MSR control. Applications bind to it by dispatch: create it by its
 * ProgID, call the members below by dispatch identifier (or by name) and advise an
 * event sink on its connection point. Events reach the sink on the thread that
 * created the control; the sink must answer GetIDsOfNames for the event names.
 *
 * The members that the standard control also has carry its dispatch identifiers
 * (Open 37, ClaimDevice 32, Close 35, DataEventEnabled 16, DeviceEnabled 17,
 * ResultCode 22, ResultCodeExtended 23, Track1Data 65, Track2Data 67, Track3Data 69,
 * AdditionalSecurityInformation 77, Track1EncryptedData 110, Track2EncryptedData 112,
 * Track3EncryptedData 114, and the events DataEvent 1, DirectIOEvent 2, ErrorEvent 3,
 * StatusUpdateEvent 5). Every other member uses identifiers of its own from 200 up.
 *
 * This header is shared by C and C++ code and by the control's IDL.
 */
#ifndef NORVIK_MSR_CONTROL_H
#define NORVIK_MSR_CONTROL_H

/* ProgID and version-independent ProgID (the same). */
#define NORVIKMSR_CONTROL_PROGID_A "NorvikMSR.Control"
#define NORVIKMSR_CONTROL_PROGID L"NorvikMSR.Control"

/* ---- Methods ---------------------------------------------------------------------- */
#define DISPID_NORVIKMSR_CLAIMDEVICE 32            /* long ClaimDevice(long Timeout) */
#define DISPID_NORVIKMSR_CLOSE 35                  /* long Close() */
#define DISPID_NORVIKMSR_OPEN 37                   /* long Open(BSTR DeviceName) */
#define DISPID_NORVIKMSR_CHECKHEALTH 200           /* long CheckHealth(long Level) */
#define DISPID_NORVIKMSR_CLEARINPUT 201            /* long ClearInput() */
#define DISPID_NORVIKMSR_DIRECTIO 202              /* long DirectIO(long, long*, BSTR*) */
#define DISPID_NORVIKMSR_RELEASEDEVICE 203         /* long ReleaseDevice() */
#define DISPID_NORVIKMSR_RESETSTATISTICS 204       /* long ResetStatistics(BSTR) */
#define DISPID_NORVIKMSR_RETRIEVESTATISTICS 205    /* long RetrieveStatistics(BSTR*) */
#define DISPID_NORVIKMSR_UPDATESTATISTICS 206      /* long UpdateStatistics(BSTR) */
#define DISPID_NORVIKMSR_COMPAREFIRMWAREVERSION 207 /* long CompareFirmwareVersion(BSTR, long*) */
#define DISPID_NORVIKMSR_UPDATEFIRMWARE 208        /* long UpdateFirmware(BSTR) */
#define DISPID_NORVIKMSR_CLEARINPUTPROPERTIES 209  /* long ClearInputProperties() */
#define DISPID_NORVIKMSR_WRITETRACKS 210           /* long WriteTracks(VARIANT Data, long Timeout) */
#define DISPID_NORVIKMSR_AUTHENTICATEDEVICE 211    /* long AuthenticateDevice(BSTR) */
#define DISPID_NORVIKMSR_DEAUTHENTICATEDEVICE 212  /* long DeauthenticateDevice(BSTR) */
#define DISPID_NORVIKMSR_RETRIEVECARDPROPERTY 213  /* long RetrieveCardProperty(BSTR, BSTR*) */
#define DISPID_NORVIKMSR_RETRIEVEDEVICEAUTHENTICATIONDATA 214 /* long (BSTR* pChallenge) */
#define DISPID_NORVIKMSR_UPDATEKEY 215             /* long UpdateKey(BSTR Key, BSTR KeyName) */

/* Pass-throughs to the service object's property methods, by OPOS property index. */
#define DISPID_NORVIKMSR_GETPROPERTYNUMBER 220     /* long GetPropertyNumber(long) */
#define DISPID_NORVIKMSR_SETPROPERTYNUMBER 221     /* void SetPropertyNumber(long, long) */
#define DISPID_NORVIKMSR_GETPROPERTYSTRING 222     /* BSTR GetPropertyString(long) */
#define DISPID_NORVIKMSR_SETPROPERTYSTRING 223     /* void SetPropertyString(long, BSTR) */

/* ---- Properties the control answers itself ---------------------------------------- */
#define DISPID_NORVIKMSR_OPENRESULT 230            /* long, read-only: why the last Open failed */
#define DISPID_NORVIKMSR_CONTROLOBJECTDESCRIPTION 231 /* BSTR, read-only */
#define DISPID_NORVIKMSR_CONTROLOBJECTVERSION 232  /* long, read-only */

/* ---- Common properties ---------------------------------------------------------- */
#define DISPID_NORVIKMSR_DATAEVENTENABLED 16       /* VARIANT_BOOL */
#define DISPID_NORVIKMSR_DEVICEENABLED 17          /* VARIANT_BOOL */
#define DISPID_NORVIKMSR_RESULTCODE 22             /* long, read-only */
#define DISPID_NORVIKMSR_RESULTCODEEXTENDED 23     /* long, read-only */
#define DISPID_NORVIKMSR_AUTODISABLE 240           /* VARIANT_BOOL */
#define DISPID_NORVIKMSR_BINARYCONVERSION 241      /* VARIANT_BOOL */
#define DISPID_NORVIKMSR_CLAIMED 242               /* VARIANT_BOOL, read-only */
#define DISPID_NORVIKMSR_DATACOUNT 243             /* long, read-only */
#define DISPID_NORVIKMSR_FREEZEEVENTS 244          /* VARIANT_BOOL */
#define DISPID_NORVIKMSR_POWERNOTIFY 245           /* long */
#define DISPID_NORVIKMSR_POWERSTATE 246            /* long, read-only */
#define DISPID_NORVIKMSR_SERVICEOBJECTVERSION 247  /* long, read-only */
#define DISPID_NORVIKMSR_STATE 248                 /* long, read-only */
#define DISPID_NORVIKMSR_CAPPOWERREPORTING 249     /* long, read-only */
#define DISPID_NORVIKMSR_CAPSTATISTICSREPORTING 250 /* VARIANT_BOOL, read-only */
#define DISPID_NORVIKMSR_CAPUPDATESTATISTICS 251   /* VARIANT_BOOL, read-only */
#define DISPID_NORVIKMSR_CAPCOMPAREFIRMWAREVERSION 252 /* VARIANT_BOOL, read-only */
#define DISPID_NORVIKMSR_CAPUPDATEFIRMWARE 253     /* VARIANT_BOOL, read-only */
#define DISPID_NORVIKMSR_CHECKHEALTHTEXT 260       /* BSTR, read-only */
#define DISPID_NORVIKMSR_DEVICEDESCRIPTION 261     /* BSTR, read-only */
#define DISPID_NORVIKMSR_DEVICENAME 262            /* BSTR, read-only */
#define DISPID_NORVIKMSR_SERVICEOBJECTDESCRIPTION 263 /* BSTR, read-only */

/* ---- MSR properties ------------------------------------------------------------- */
#define DISPID_NORVIKMSR_DECODEDATA 270            /* VARIANT_BOOL */
#define DISPID_NORVIKMSR_PARSEDECODEDATA 271       /* VARIANT_BOOL */
#define DISPID_NORVIKMSR_TRACKSTOREAD 272          /* long */
#define DISPID_NORVIKMSR_ERRORREPORTINGTYPE 273    /* long */
#define DISPID_NORVIKMSR_TRANSMITSENTINELS 274     /* VARIANT_BOOL */
#define DISPID_NORVIKMSR_ENCODINGMAXLENGTH 275     /* long, read-only */
#define DISPID_NORVIKMSR_TRACKSTOWRITE 276         /* long */
#define DISPID_NORVIKMSR_CARDAUTHENTICATIONDATALENGTH 277 /* long, read-only */
#define DISPID_NORVIKMSR_DATAENCRYPTIONALGORITHM 278 /* long */
#define DISPID_NORVIKMSR_DEVICEAUTHENTICATED 279   /* VARIANT_BOOL, read-only */
#define DISPID_NORVIKMSR_DEVICEAUTHENTICATIONPROTOCOL 280 /* long, read-only */
#define DISPID_NORVIKMSR_TRACK1ENCRYPTEDDATALENGTH 281 /* long, read-only */
#define DISPID_NORVIKMSR_TRACK2ENCRYPTEDDATALENGTH 282 /* long, read-only */
#define DISPID_NORVIKMSR_TRACK3ENCRYPTEDDATALENGTH 283 /* long, read-only */
#define DISPID_NORVIKMSR_TRACK4ENCRYPTEDDATALENGTH 284 /* long, read-only */
#define DISPID_NORVIKMSR_CAPISO 290                /* VARIANT_BOOL, read-only */
#define DISPID_NORVIKMSR_CAPJISONE 291             /* VARIANT_BOOL, read-only */
#define DISPID_NORVIKMSR_CAPJISTWO 292             /* VARIANT_BOOL, read-only */
#define DISPID_NORVIKMSR_CAPTRANSMITSENTINELS 293  /* VARIANT_BOOL, read-only */
#define DISPID_NORVIKMSR_CAPWRITABLETRACKS 294     /* long, read-only */
#define DISPID_NORVIKMSR_CAPDATAENCRYPTION 295     /* long, read-only */
#define DISPID_NORVIKMSR_CAPDEVICEAUTHENTICATION 296 /* long, read-only */
#define DISPID_NORVIKMSR_CAPTRACKDATAMASKING 297   /* VARIANT_BOOL, read-only */

/* MSR strings (BSTR, read-only unless noted). */
#define DISPID_NORVIKMSR_TRACK1DATA 65
#define DISPID_NORVIKMSR_TRACK2DATA 67
#define DISPID_NORVIKMSR_TRACK3DATA 69
#define DISPID_NORVIKMSR_ADDITIONALSECURITYINFORMATION 77
#define DISPID_NORVIKMSR_TRACK1ENCRYPTEDDATA 110
#define DISPID_NORVIKMSR_TRACK2ENCRYPTEDDATA 112
#define DISPID_NORVIKMSR_TRACK3ENCRYPTEDDATA 114
#define DISPID_NORVIKMSR_ACCOUNTNUMBER 300
#define DISPID_NORVIKMSR_EXPIRATIONDATE 301
#define DISPID_NORVIKMSR_FIRSTNAME 302
#define DISPID_NORVIKMSR_MIDDLEINITIAL 303
#define DISPID_NORVIKMSR_SERVICECODE 304
#define DISPID_NORVIKMSR_SUFFIX 305
#define DISPID_NORVIKMSR_SURNAME 306
#define DISPID_NORVIKMSR_TITLE 307
#define DISPID_NORVIKMSR_TRACK1DISCRETIONARYDATA 308
#define DISPID_NORVIKMSR_TRACK2DISCRETIONARYDATA 309
#define DISPID_NORVIKMSR_TRACK4DATA 310
#define DISPID_NORVIKMSR_CAPCARDAUTHENTICATION 311
#define DISPID_NORVIKMSR_CARDAUTHENTICATIONDATA 312
#define DISPID_NORVIKMSR_CARDPROPERTYLIST 313
#define DISPID_NORVIKMSR_CARDTYPE 314
#define DISPID_NORVIKMSR_CARDTYPELIST 315
#define DISPID_NORVIKMSR_TRACK4ENCRYPTEDDATA 316
#define DISPID_NORVIKMSR_WRITECARDTYPE 317         /* BSTR, read-write */

/* ---- Calls from the service object (hidden members, found by name) ---------------- */
#define DISPID_NORVIKMSR_SODATA 1                  /* SOData(long Status) */
#define DISPID_NORVIKMSR_SODIRECTIO 2              /* SODirectIO(long, long* pData, BSTR* pString) */
#define DISPID_NORVIKMSR_SOERROR 3                 /* SOError(long, long, long, long* pErrorResponse) */
#define DISPID_NORVIKMSR_SOSTATUSUPDATE 5          /* SOStatusUpdate(long Data) */

/* ---- Events (source dispinterface _INorvikMSRControlEvents) ----------------------- */
#define DISPID_NORVIKMSR_DATAEVENT 1               /* DataEvent(long Status) */
#define DISPID_NORVIKMSR_DIRECTIOEVENT 2           /* DirectIOEvent(long, long* pData, BSTR* pString) */
#define DISPID_NORVIKMSR_ERROREVENT 3              /* ErrorEvent(long, long, long, long* pErrorResponse) */
#define DISPID_NORVIKMSR_STATUSUPDATEEVENT 5       /* StatusUpdateEvent(long Data) */

/* ---- OpenResult: why the last Open failed (0 after a successful Open) ------------- */
#define NORVIKMSR_OR_ALREADYOPEN 301   /* Open while open: Open returns 106 */
#define NORVIKMSR_OR_REGBADNAME 302    /* no such device key or alias: Open returns 109 */
#define NORVIKMSR_OR_REGPROGID 303     /* device key has no usable ProgID: Open returns 104 */
#define NORVIKMSR_OR_CREATE 304        /* the service object could not be created: 104 */
#define NORVIKMSR_OR_BADIF 305         /* a service-object method name did not resolve: 104 */
#define NORVIKMSR_OR_FAILEDOPEN 306    /* OpenService refused: Open returns its result */
#define NORVIKMSR_OR_BADVERSION 307    /* service-object major version is not 1: 104 */

/* Version of this control, as ControlObjectVersion reports it (1.13.0). */
#define NORVIKMSR_CONTROL_VERSION 1013000

#ifndef __WIDL__
#include <windows.h>

#ifdef __cplusplus
#define NORVIKMSR_GUID_LINKAGE extern "C"
#else
#define NORVIKMSR_GUID_LINKAGE extern
#endif
#define NORVIKMSR_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    NORVIKMSR_GUID_LINKAGE const GUID DECLSPEC_SELECTANY name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

/* {B0066F57-F4FA-4A01-8E11-7CA2D062AF65} */
NORVIKMSR_DEFINE_GUID(CLSID_NorvikMSRControl, 0xB0066F57, 0xF4FA, 0x4A01,
                      0x8E, 0x11, 0x7C, 0xA2, 0xD0, 0x62, 0xAF, 0x65);
/* {98EBC2D1-3014-486A-BD10-D12956BC1C83} type library, version 1.0 */
NORVIKMSR_DEFINE_GUID(LIBID_NorvikMSRControlLib, 0x98EBC2D1, 0x3014, 0x486A,
                      0xBD, 0x10, 0xD1, 0x29, 0x56, 0xBC, 0x1C, 0x83);
/* {980E4176-1D9E-496D-A8A3-9E8F2230FAE5} the control's dual interface */
NORVIKMSR_DEFINE_GUID(IID_INorvikMSRControl, 0x980E4176, 0x1D9E, 0x496D,
                      0xA8, 0xA3, 0x9E, 0x8F, 0x22, 0x30, 0xFA, 0xE5);
/* {E01E58B2-F461-405D-AB02-1BD2806734D0} the event dispinterface */
NORVIKMSR_DEFINE_GUID(DIID__INorvikMSRControlEvents, 0xE01E58B2, 0xF461, 0x405D,
                      0xAB, 0x02, 0x1B, 0xD2, 0x80, 0x67, 0x34, 0xD0);
#endif /* __WIDL__ */

#endif /* NORVIK_MSR_CONTROL_H */
