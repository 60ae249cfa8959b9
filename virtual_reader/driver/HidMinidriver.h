/*
 * The HID minidriver interface, declared from the Windows driver
 * documentation. mingw-w64's ddk/hidclass.h numbers these IOCTLs wrongly
 * and has no hidport.h, so nothing here comes from it.
 */
#ifndef VORLEX_HID_MINIDRIVER_H
#define VORLEX_HID_MINIDRIVER_H

#include <ntddk.h>

#define VR_HID_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define VR_HID_IN_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_IN_DIRECT, FILE_ANY_ACCESS)
#define VR_HID_OUT_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_OUT_DIRECT, FILE_ANY_ACCESS)

#define VR_IOCTL_HID_GET_DEVICE_DESCRIPTOR VR_HID_CTL_CODE(0)
#define VR_IOCTL_HID_GET_REPORT_DESCRIPTOR VR_HID_CTL_CODE(1)
#define VR_IOCTL_HID_READ_REPORT VR_HID_CTL_CODE(2)
#define VR_IOCTL_HID_WRITE_REPORT VR_HID_CTL_CODE(3)
#define VR_IOCTL_HID_GET_STRING VR_HID_CTL_CODE(4)
#define VR_IOCTL_HID_ACTIVATE_DEVICE VR_HID_CTL_CODE(7)
#define VR_IOCTL_HID_DEACTIVATE_DEVICE VR_HID_CTL_CODE(8)
#define VR_IOCTL_HID_GET_DEVICE_ATTRIBUTES VR_HID_CTL_CODE(9)
#define VR_IOCTL_HID_SET_FEATURE VR_HID_IN_CTL_CODE(100)
#define VR_IOCTL_HID_GET_FEATURE VR_HID_OUT_CTL_CODE(100)

#define VR_HID_STRING_ID_IMANUFACTURER 14
#define VR_HID_STRING_ID_IPRODUCT 15
#define VR_HID_STRING_ID_ISERIALNUMBER 16
#define VR_WINE_STRING_ID_IMANUFACTURER 1
#define VR_WINE_STRING_ID_IPRODUCT 2
#define VR_WINE_STRING_ID_ISERIALNUMBER 3

#define VR_HID_REVISION 1
#define VR_HID_HID_DESCRIPTOR_TYPE 0x21
#define VR_HID_REPORT_DESCRIPTOR_TYPE 0x22

typedef struct VR_HID_MINIDRIVER_REGISTRATION {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} VR_HID_MINIDRIVER_REGISTRATION;

typedef struct VR_HID_DEVICE_EXTENSION {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} VR_HID_DEVICE_EXTENSION;

typedef struct VR_HID_DEVICE_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} VR_HID_DEVICE_ATTRIBUTES;

#pragma pack(push, 1)
typedef struct VR_HID_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    UCHAR bReportType;
    USHORT wReportLength;
} VR_HID_DESCRIPTOR;
#pragma pack(pop)

typedef struct VR_HID_XFER_PACKET {
    PUCHAR reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
} VR_HID_XFER_PACKET;

NTSTATUS NTAPI HidRegisterMinidriver(VR_HID_MINIDRIVER_REGISTRATION* registration);

#endif
