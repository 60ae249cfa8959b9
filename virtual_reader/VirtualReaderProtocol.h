/*
 * The virtual reader's control device: the requests through which the
 * control tool plugs, unplugs and drives virtual HID devices. Shared by the
 * bus driver (kernel mode, C) and the tool (user mode, C++); it needs
 * CTL_CODE from <winioctl.h> or <wdm.h> and nothing else.
 *
 * Every request is METHOD_BUFFERED and must have exactly the size given
 * here; anything else is refused with an error status. Report lengths count
 * the report ID byte, as HidP_GetCaps does, and report bytes travel with the
 * report ID first, as the reader library sees them.
 */
#ifndef VORLEX_VIRTUAL_READER_PROTOCOL_H
#define VORLEX_VIRTUAL_READER_PROTOCOL_H

#define VR_CONTROL_DEVICE_NAME L"\\Device\\VorlexVirtualReader"
#define VR_CONTROL_LINK_NAME L"\\DosDevices\\VorlexVirtualReader"
#define VR_CONTROL_USER_PATH "\\\\.\\VorlexVirtualReader"

/* Hardware IDs: the root bus device and the generic ID of every child. */
#define VR_BUS_HARDWARE_ID "Root\\VorlexVirtualReaderBus"
#define VR_CHILD_BUS_NAME "VORLEXVR"

#define VR_MAX_DEVICES 8
#define VR_MIN_REPORT_LENGTH 2
#define VR_MAX_INPUT_REPORT_LENGTH 1024
#define VR_MAX_FEATURE_REPORT_LENGTH 256
#define VR_ALL_DEVICES 0xFFFFFFFFu

#define VR_CTL(n) CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900 + (n), METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
/* in: VR_PLUG_REQUEST; out: VR_DEVICE_INFO of the new device */
#define IOCTL_VR_PLUG VR_CTL(0)
/* in: VR_DEVICE_REQUEST (serial, or VR_ALL_DEVICES) */
#define IOCTL_VR_UNPLUG VR_CTL(1)
/* in: VR_REPORT_REQUEST followed by `length` bytes: one input report */
#define IOCTL_VR_INJECT_INPUT VR_CTL(2)
/* in: VR_REPORT_REQUEST followed by `length` bytes: the get-feature answer */
#define IOCTL_VR_SET_FEATURE_REPLY VR_CTL(3)
/* in: VR_DEVICE_REQUEST; out: up to VR_MAX_FEATURE_REPORT_LENGTH bytes */
#define IOCTL_VR_GET_LAST_FEATURE VR_CTL(4)
/* out: VR_STATUS */
#define IOCTL_VR_STATUS VR_CTL(5)

typedef struct VR_PLUG_REQUEST {
    unsigned short vendorId;
    unsigned short productId;
    unsigned short inputReportLength;
    unsigned short featureReportLength;
} VR_PLUG_REQUEST;

typedef struct VR_DEVICE_INFO {
    unsigned int serial; /* also the device's serial number string, "VR<serial>" */
    unsigned short vendorId;
    unsigned short productId;
    unsigned short inputReportLength;
    unsigned short featureReportLength;
} VR_DEVICE_INFO;

typedef struct VR_DEVICE_REQUEST {
    unsigned int serial;
} VR_DEVICE_REQUEST;

typedef struct VR_REPORT_REQUEST {
    unsigned int serial;
    unsigned int length;
} VR_REPORT_REQUEST;

typedef struct VR_STATUS {
    unsigned int count; /* in order of plugging */
    VR_DEVICE_INFO devices[VR_MAX_DEVICES];
} VR_STATUS;

#endif
