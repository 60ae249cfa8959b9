/*
 * The virtual reader's HID minidriver: registers with the HID class driver
 * and passes every request down to the virtual bus's child device, which
 * answers it. The class driver owns and deletes the device objects.
 */
#include <ntddk.h>

#include "HidMinidriver.h"

static PDEVICE_OBJECT Lower(DEVICE_OBJECT* device) {
    return ((VR_HID_DEVICE_EXTENSION*)device->DeviceExtension)->NextDeviceObject;
}

static NTSTATUS NTAPI PassDown(DEVICE_OBJECT* device, IRP* irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(Lower(device), irp);
}

static NTSTATUS NTAPI PassDownPower(DEVICE_OBJECT* device, IRP* irp) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(Lower(device), irp);
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* fdo) {
    UNREFERENCED_PARAMETER(driver);
    fdo->Flags |= DO_POWER_PAGABLE;
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static VOID NTAPI DriverUnload(DRIVER_OBJECT* driver) { UNREFERENCED_PARAMETER(driver); }

/* Keeps an absolute address in the image, so that the linker emits the
 * relocation section a kernel image must have. */
static PDRIVER_DISPATCH volatile g_relocationAnchor = PassDown;

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath) {
    VR_HID_MINIDRIVER_REGISTRATION registration;
    ULONG i;
    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = g_relocationAnchor;
    driver->MajorFunction[IRP_MJ_POWER] = PassDownPower;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = DriverUnload;

    RtlZeroMemory(&registration, sizeof registration);
    registration.Revision = VR_HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registryPath;
    registration.DeviceExtensionSize = 0;
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
