/*
 * The virtual reader's bus driver: a root-enumerated bus whose children are
 * virtual HID devices, plugged and driven through a secured control device.
 *
 * Each child PDO answers the HID minidriver requests that VirtualReaderHid
 * passes down to it (descriptors, attributes, strings, read report, set and
 * get feature), the way a USB HID device's stack would.
 *
 * Locking: one lock, the I/O manager's cancel spin lock, guards the bus's
 * child list, its gate for control requests, the control device's pointer to
 * the bus, and every child's report queue, pending reads and feature buffers.
 * Requests are completed, devices created and deleted and PnP told about
 * changes only after it is released.
 *
 * Removal: an open handle keeps the control device alive after the bus is
 * gone, so every control request passes the bus's gate. Removal closes the
 * gate (the control device forgets the bus), waits for the requests inside
 * to leave, and only then takes its snapshot of the children: no plug can
 * add a child behind it, and no request reads a freed bus.
 */
#include <ntifs.h>

#include "../VirtualReaderProtocol.h"
#include "HidMinidriver.h"

#define VR_POOL_TAG 0x72566F56 /* 'VoVr' */
#define VR_REPORT_QUEUE_DEPTH 32
#define VR_MAX_DESCRIPTOR_LENGTH 64
#define VR_ID_CHARACTERS 128

/* Both are looked up at run time: Windows exports only the second (the
 * first lives in a static library there), Wine implements only the first. */
typedef NTSTATUS(NTAPI* CreateDeviceSecureRoutine)(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                                                   DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                                                   PCUNICODE_STRING sddl, LPCGUID classGuid, PDEVICE_OBJECT* device);
typedef NTSTATUS(NTAPI* SetSecurityRoutine)(PVOID object, SECURITY_INFORMATION information,
                                            PSECURITY_DESCRIPTOR descriptor);

/* SYSTEM and administrators: all access; nobody else. */
#define VR_CONTROL_SDDL L"D:P(A;;GA;;;SY)(A;;GA;;;BA)"
/* Device class of the control device, for per-class security overrides. */
static const GUID kControlClass = {0x6b1f4a52, 0x3c1d, 0x4e0b, {0x9a, 0x51, 0x2f, 0x77, 0x0c, 0x4e, 0x8d, 0x13}};

typedef enum VR_KIND { VR_KIND_BUS = 0x42555356, VR_KIND_CHILD, VR_KIND_CONTROL } VR_KIND;

typedef struct VR_BUS VR_BUS;

typedef struct VR_CHILD {
    VR_KIND kind;
    DEVICE_OBJECT* self;
    VR_BUS* bus;
    VR_DEVICE_INFO info;
    BOOLEAN present;    /* plugged: listed in the bus relations */
    BOOLEAN enumerated; /* PnP has seen it, so PnP will remove it */
    BOOLEAN removed;    /* surprise-removed or removed: reads fail */
    UCHAR reportDescriptor[VR_MAX_DESCRIPTOR_LENGTH];
    USHORT reportDescriptorLength;
    LIST_ENTRY pendingReads;
    ULONG queueHead;
    ULONG queueCount;
    USHORT queuedLength[VR_REPORT_QUEUE_DEPTH];
    UCHAR queued[VR_REPORT_QUEUE_DEPTH][VR_MAX_INPUT_REPORT_LENGTH];
    UCHAR featureReply[VR_MAX_FEATURE_REPORT_LENGTH]; /* report ID first */
    USHORT featureReplyLength;
    UCHAR lastFeature[VR_MAX_FEATURE_REPORT_LENGTH]; /* report ID first */
    USHORT lastFeatureLength;
} VR_CHILD;

struct VR_BUS {
    VR_KIND kind;
    DEVICE_OBJECT* self;
    DEVICE_OBJECT* pdo;
    DEVICE_OBJECT* lower;
    DEVICE_OBJECT* control;
    VR_CHILD* children[VR_MAX_DEVICES]; /* present children, in order of plugging */
    ULONG count;
    ULONG nextSerial;
    ULONG activeRequests; /* control requests past the gate */
    BOOLEAN removing;     /* the gate is closed */
    KEVENT idle;          /* set when the last request leaves a closed gate */
};

typedef struct VR_CONTROL {
    VR_KIND kind;
    VR_BUS* bus; /* NULL once the bus is being removed: requests fail */
} VR_CONTROL;

static VR_BUS* g_bus;

/* ---- small helpers (no C runtime in kernel mode) ---- */

static void CopyBytes(void* target, const void* source, SIZE_T length) {
    RtlCopyMemory(target, source, length);
}

static ULONG AppendWide(WCHAR* text, ULONG at, const char* ascii) {
    while (*ascii && at + 1 < VR_ID_CHARACTERS) text[at++] = (WCHAR)*ascii++;
    text[at] = 0;
    return at;
}

static ULONG AppendHex4(WCHAR* text, ULONG at, USHORT value) {
    static const char digits[] = "0123456789ABCDEF";
    int shift;
    for (shift = 12; shift >= 0 && at + 1 < VR_ID_CHARACTERS; shift -= 4) text[at++] = (WCHAR)digits[(value >> shift) & 0xF];
    text[at] = 0;
    return at;
}

static ULONG AppendDecimal(WCHAR* text, ULONG at, ULONG value) {
    WCHAR reversed[12];
    int n = 0;
    do {
        reversed[n++] = (WCHAR)(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0 && at + 1 < VR_ID_CHARACTERS) text[at++] = reversed[--n];
    text[at] = 0;
    return at;
}

static void CompleteRequest(IRP* irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

/* A vendor-defined collection without report IDs: one input report and one
 * feature report of the given lengths (each counting the ID byte). */
static USHORT BuildReportDescriptor(UCHAR* d, USHORT inputLength, USHORT featureLength) {
    USHORT n = 0;
    const USHORT inputCount = (USHORT)(inputLength - 1);
    const USHORT featureCount = (USHORT)(featureLength - 1);
    d[n++] = 0x06; d[n++] = 0x00; d[n++] = 0xFF;                   /* usage page: vendor */
    d[n++] = 0x09; d[n++] = 0x01;                                  /* usage */
    d[n++] = 0xA1; d[n++] = 0x01;                                  /* collection: application */
    d[n++] = 0x15; d[n++] = 0x00;                                  /* logical minimum 0 */
    d[n++] = 0x26; d[n++] = 0xFF; d[n++] = 0x00;                   /* logical maximum 255 */
    d[n++] = 0x75; d[n++] = 0x08;                                  /* report size 8 */
    d[n++] = 0x96; d[n++] = (UCHAR)inputCount; d[n++] = (UCHAR)(inputCount >> 8);
    d[n++] = 0x09; d[n++] = 0x02;
    d[n++] = 0x81; d[n++] = 0x02;                                  /* input: data, variable */
    d[n++] = 0x96; d[n++] = (UCHAR)featureCount; d[n++] = (UCHAR)(featureCount >> 8);
    d[n++] = 0x09; d[n++] = 0x03;
    d[n++] = 0xB1; d[n++] = 0x02;                                  /* feature: data, variable */
    d[n++] = 0xC0;                                                 /* end collection */
    return n;
}

/* ---- pending reads (all with the cancel spin lock held unless said) ---- */

static VOID NTAPI CancelRead(DEVICE_OBJECT* device, IRP* irp) {
    UNREFERENCED_PARAMETER(device);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    CompleteRequest(irp, STATUS_CANCELLED, 0);
}

static IRP* TakePendingRead(VR_CHILD* child) {
    IRP* irp;
    if (IsListEmpty(&child->pendingReads)) return NULL;
    irp = CONTAINING_RECORD(RemoveHeadList(&child->pendingReads), IRP, Tail.Overlay.ListEntry);
    IoSetCancelRoutine(irp, NULL);
    return irp;
}

/* Lock not held: fails every read waiting on a device that is gone. */
static void FailPendingReads(VR_CHILD* child) {
    LIST_ENTRY failed;
    KIRQL irql;
    IRP* irp;
    InitializeListHead(&failed);
    IoAcquireCancelSpinLock(&irql);
    child->removed = TRUE;
    while ((irp = TakePendingRead(child)) != NULL) InsertTailList(&failed, &irp->Tail.Overlay.ListEntry);
    IoReleaseCancelSpinLock(irql);
    while (!IsListEmpty(&failed)) {
        irp = CONTAINING_RECORD(RemoveHeadList(&failed), IRP, Tail.Overlay.ListEntry);
        CompleteRequest(irp, STATUS_DELETE_PENDING, 0);
    }
}

static ULONG CopyReport(const UCHAR* data, USHORT length, IRP* irp) {
    const ULONG capacity = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    const ULONG n = length < capacity ? length : capacity;
    if (n > 0) CopyBytes(irp->UserBuffer, data, n);
    return n;
}

/* ---- the child's HID requests ---- */

static NTSTATUS ChildReadReport(VR_CHILD* child, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    KIRQL irql;
    if (irp->UserBuffer == NULL || stack->Parameters.DeviceIoControl.OutputBufferLength == 0) {
        CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    IoAcquireCancelSpinLock(&irql);
    if (child->removed) {
        IoReleaseCancelSpinLock(irql);
        CompleteRequest(irp, STATUS_DELETE_PENDING, 0);
        return STATUS_DELETE_PENDING;
    }
    if (child->queueCount > 0) {
        const ULONG slot = child->queueHead;
        const ULONG n = CopyReport(child->queued[slot], child->queuedLength[slot], irp);
        child->queueHead = (slot + 1) % VR_REPORT_QUEUE_DEPTH;
        --child->queueCount;
        IoReleaseCancelSpinLock(irql);
        CompleteRequest(irp, STATUS_SUCCESS, n);
        return STATUS_SUCCESS;
    }
    IoSetCancelRoutine(irp, CancelRead);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        IoReleaseCancelSpinLock(irql);
        CompleteRequest(irp, STATUS_CANCELLED, 0);
        return STATUS_CANCELLED;
    }
    IoMarkIrpPending(irp);
    InsertTailList(&child->pendingReads, &irp->Tail.Overlay.ListEntry);
    IoReleaseCancelSpinLock(irql);
    return STATUS_PENDING;
}

static NTSTATUS ChildFeature(VR_CHILD* child, IRP* irp, BOOLEAN set) {
    VR_HID_XFER_PACKET* packet = (VR_HID_XFER_PACKET*)irp->UserBuffer;
    const USHORT featureLength = child->info.featureReportLength;
    ULONG length;
    ULONG_PTR written = 0;
    KIRQL irql;
    if (packet == NULL || packet->reportBuffer == NULL || packet->reportBufferLen == 0 ||
        packet->reportBufferLen > featureLength || packet->reportId != 0) {
        CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    length = packet->reportBufferLen;
    IoAcquireCancelSpinLock(&irql);
    /* Windows passes the report ID byte with the report; Wine leaves it off
     * for report ID 0. Both are kept here with the ID first. */
    if (set) {
        if (length == featureLength) {
            CopyBytes(child->lastFeature, packet->reportBuffer, length);
        } else {
            child->lastFeature[0] = 0;
            CopyBytes(child->lastFeature + 1, packet->reportBuffer, length);
            ++length;
        }
        child->lastFeatureLength = (USHORT)length;
        written = packet->reportBufferLen;
    } else {
        const UCHAR* reply = child->featureReply;
        ULONG available = child->featureReplyLength;
        ULONG n;
        if (length < featureLength && available > 0) {
            ++reply;
            --available;
        }
        n = available < length ? available : length;
        RtlZeroMemory(packet->reportBuffer, length);
        if (n > 0) CopyBytes(packet->reportBuffer, reply, n);
        written = length;
    }
    IoReleaseCancelSpinLock(irql);
    CompleteRequest(irp, STATUS_SUCCESS, written);
    return STATUS_SUCCESS;
}

static NTSTATUS ChildString(VR_CHILD* child, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG id = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
    const ULONG capacity = stack->Parameters.DeviceIoControl.OutputBufferLength / sizeof(WCHAR);
    WCHAR text[VR_ID_CHARACTERS];
    ULONG length;
    /* Windows numbers the strings 14 to 16 (their USB descriptor offsets);
     * Wine's class driver asks for 1 to 3. */
    switch (id) {
    case VR_WINE_STRING_ID_IMANUFACTURER:
    case VR_HID_STRING_ID_IMANUFACTURER: length = AppendWide(text, 0, "Norvik (virtual)"); break;
    case VR_WINE_STRING_ID_IPRODUCT:
    case VR_HID_STRING_ID_IPRODUCT: length = AppendWide(text, 0, "Virtual magnetic stripe reader"); break;
    case VR_WINE_STRING_ID_ISERIALNUMBER:
    case VR_HID_STRING_ID_ISERIALNUMBER: length = AppendDecimal(text, AppendWide(text, 0, "VR"), child->info.serial); break;
    default:
        CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    if (irp->UserBuffer == NULL || capacity < length + 1) {
        CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
        return STATUS_BUFFER_TOO_SMALL;
    }
    CopyBytes(irp->UserBuffer, text, (length + 1) * sizeof(WCHAR));
    CompleteRequest(irp, STATUS_SUCCESS, (length + 1) * sizeof(WCHAR));
    return STATUS_SUCCESS;
}

static NTSTATUS ChildInternalControl(VR_CHILD* child, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case VR_IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
        VR_HID_DESCRIPTOR descriptor;
        if (irp->UserBuffer == NULL || outputLength < sizeof descriptor) break;
        descriptor.bLength = sizeof descriptor;
        descriptor.bDescriptorType = VR_HID_HID_DESCRIPTOR_TYPE;
        descriptor.bcdHID = 0x0111;
        descriptor.bCountry = 0;
        descriptor.bNumDescriptors = 1;
        descriptor.bReportType = VR_HID_REPORT_DESCRIPTOR_TYPE;
        descriptor.wReportLength = child->reportDescriptorLength;
        CopyBytes(irp->UserBuffer, &descriptor, sizeof descriptor);
        CompleteRequest(irp, STATUS_SUCCESS, sizeof descriptor);
        return STATUS_SUCCESS;
    }
    case VR_IOCTL_HID_GET_REPORT_DESCRIPTOR:
        if (irp->UserBuffer == NULL || outputLength < child->reportDescriptorLength) break;
        CopyBytes(irp->UserBuffer, child->reportDescriptor, child->reportDescriptorLength);
        CompleteRequest(irp, STATUS_SUCCESS, child->reportDescriptorLength);
        return STATUS_SUCCESS;
    case VR_IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
        VR_HID_DEVICE_ATTRIBUTES attributes;
        if (irp->UserBuffer == NULL || outputLength < sizeof attributes) break;
        RtlZeroMemory(&attributes, sizeof attributes);
        attributes.Size = sizeof attributes;
        attributes.VendorID = child->info.vendorId;
        attributes.ProductID = child->info.productId;
        attributes.VersionNumber = 0x0100;
        CopyBytes(irp->UserBuffer, &attributes, sizeof attributes);
        CompleteRequest(irp, STATUS_SUCCESS, sizeof attributes);
        return STATUS_SUCCESS;
    }
    case VR_IOCTL_HID_GET_STRING:
        return ChildString(child, irp);
    case VR_IOCTL_HID_READ_REPORT:
        return ChildReadReport(child, irp);
    case VR_IOCTL_HID_SET_FEATURE:
        return ChildFeature(child, irp, TRUE);
    case VR_IOCTL_HID_GET_FEATURE:
        return ChildFeature(child, irp, FALSE);
    case VR_IOCTL_HID_ACTIVATE_DEVICE:
    case VR_IOCTL_HID_DEACTIVATE_DEVICE:
        CompleteRequest(irp, STATUS_SUCCESS, 0);
        return STATUS_SUCCESS;
    default:
        CompleteRequest(irp, STATUS_NOT_SUPPORTED, 0);
        return STATUS_NOT_SUPPORTED;
    }
    CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
    return STATUS_BUFFER_TOO_SMALL;
}

/* ---- the child's PnP ---- */

static WCHAR* AllocateId(ULONG characters) {
    WCHAR* id = (WCHAR*)ExAllocatePoolWithTag(PagedPool, characters * sizeof(WCHAR), VR_POOL_TAG);
    if (id != NULL) RtlZeroMemory(id, characters * sizeof(WCHAR));
    return id;
}

static ULONG AppendDeviceId(WCHAR* text, ULONG at, const VR_CHILD* child) {
    at = AppendWide(text, at, VR_CHILD_BUS_NAME "\\VID_");
    at = AppendHex4(text, at, child->info.vendorId);
    at = AppendWide(text, at, "&PID_");
    return AppendHex4(text, at, child->info.productId);
}

static NTSTATUS ChildQueryId(VR_CHILD* child, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    WCHAR* id;
    ULONG at;
    switch (stack->Parameters.QueryId.IdType) {
    case BusQueryDeviceID:
        if ((id = AllocateId(VR_ID_CHARACTERS)) == NULL) return STATUS_INSUFFICIENT_RESOURCES;
        AppendDeviceId(id, 0, child);
        break;
    case BusQueryInstanceID:
        if ((id = AllocateId(VR_ID_CHARACTERS)) == NULL) return STATUS_INSUFFICIENT_RESOURCES;
        AppendDecimal(id, 0, child->info.serial);
        break;
    case BusQueryHardwareIDs:
        /* Two strings and the closing empty one: the device's own ID, then
         * the generic one the INF installs the HID minidriver for. */
        if ((id = AllocateId(VR_ID_CHARACTERS)) == NULL) return STATUS_INSUFFICIENT_RESOURCES;
        at = AppendDeviceId(id, 0, child) + 1;
        AppendWide(id, at, VR_CHILD_BUS_NAME "\\HidDevice");
        break;
    case BusQueryCompatibleIDs:
        /* None, but an answer all the same: Wine installs no driver without one. */
        if ((id = AllocateId(2)) == NULL) return STATUS_INSUFFICIENT_RESOURCES;
        break;
    default:
        return irp->IoStatus.Status;
    }
    irp->IoStatus.Information = (ULONG_PTR)id;
    return STATUS_SUCCESS;
}

/* A child removed by PnP but still plugged (disabled, or its driver updated)
 * starts again: it reads again, and nothing from before its removal is delivered. */
static void StartChild(VR_CHILD* child) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    child->removed = FALSE;
    child->queueHead = 0;
    child->queueCount = 0;
    IoReleaseCancelSpinLock(irql);
}

static NTSTATUS ChildPnp(VR_CHILD* child, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = irp->IoStatus.Status;
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        StartChild(child);
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_QUERY_ID:
        status = ChildQueryId(child, irp);
        break;
    case IRP_MN_QUERY_CAPABILITIES: {
        DEVICE_CAPABILITIES* caps = stack->Parameters.DeviceCapabilities.Capabilities;
        caps->Removable = TRUE;
        caps->SurpriseRemovalOK = TRUE;
        caps->UniqueID = FALSE;
        status = STATUS_SUCCESS;
        break;
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (stack->Parameters.QueryDeviceRelations.Type == TargetDeviceRelation) {
            DEVICE_RELATIONS* relations =
                (DEVICE_RELATIONS*)ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), VR_POOL_TAG);
            if (relations == NULL) {
                status = STATUS_INSUFFICIENT_RESOURCES;
                break;
            }
            relations->Count = 1;
            relations->Objects[0] = child->self;
            ObReferenceObject(child->self);
            irp->IoStatus.Information = (ULONG_PTR)relations;
            status = STATUS_SUCCESS;
        }
        break;
    case IRP_MN_SURPRISE_REMOVAL:
        FailPendingReads(child);
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        BOOLEAN gone;
        KIRQL irql;
        FailPendingReads(child);
        IoAcquireCancelSpinLock(&irql);
        gone = !child->present;
        IoReleaseCancelSpinLock(irql);
        CompleteRequest(irp, STATUS_SUCCESS, irp->IoStatus.Information);
        /* A child still on the bus lives on until the bus itself goes. */
        if (gone) IoDeleteDevice(child->self);
        return STATUS_SUCCESS;
    }
    default:
        break;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* ---- the control device ---- */

static VR_CHILD* FindChild(VR_BUS* bus, ULONG serial) {
    ULONG i;
    for (i = 0; i < bus->count; ++i) {
        if (bus->children[i]->info.serial == serial) return bus->children[i];
    }
    return NULL;
}

static NTSTATUS ControlPlug(VR_BUS* bus, IRP* irp, ULONG inputLength, ULONG outputLength, ULONG_PTR* written) {
    VR_PLUG_REQUEST request;
    DEVICE_OBJECT* device;
    VR_CHILD* child;
    NTSTATUS status;
    KIRQL irql;
    BOOLEAN added = FALSE;
    if (inputLength != sizeof request || outputLength < sizeof(VR_DEVICE_INFO)) return STATUS_INVALID_BUFFER_SIZE;
    CopyBytes(&request, irp->AssociatedIrp.SystemBuffer, sizeof request);
    if (request.inputReportLength < VR_MIN_REPORT_LENGTH || request.inputReportLength > VR_MAX_INPUT_REPORT_LENGTH ||
        request.featureReportLength < VR_MIN_REPORT_LENGTH ||
        request.featureReportLength > VR_MAX_FEATURE_REPORT_LENGTH) {
        return STATUS_INVALID_PARAMETER;
    }
    IoAcquireCancelSpinLock(&irql);
    status = bus->count < VR_MAX_DEVICES ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
    IoReleaseCancelSpinLock(irql);
    if (!NT_SUCCESS(status)) return status;

    status = IoCreateDevice(bus->self->DriverObject, sizeof(VR_CHILD), NULL, FILE_DEVICE_UNKNOWN,
                            FILE_AUTOGENERATED_DEVICE_NAME | FILE_DEVICE_SECURE_OPEN, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    child = (VR_CHILD*)device->DeviceExtension;
    RtlZeroMemory(child, sizeof *child);
    child->kind = VR_KIND_CHILD;
    child->self = device;
    child->bus = bus;
    child->info.vendorId = request.vendorId;
    child->info.productId = request.productId;
    child->info.inputReportLength = request.inputReportLength;
    child->info.featureReportLength = request.featureReportLength;
    child->reportDescriptorLength =
        BuildReportDescriptor(child->reportDescriptor, request.inputReportLength, request.featureReportLength);
    InitializeListHead(&child->pendingReads);
    device->Flags |= DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;

    IoAcquireCancelSpinLock(&irql);
    if (bus->count < VR_MAX_DEVICES) {
        child->info.serial = ++bus->nextSerial;
        child->present = TRUE;
        bus->children[bus->count++] = child;
        added = TRUE;
    }
    IoReleaseCancelSpinLock(irql);
    if (!added) {
        IoDeleteDevice(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    CopyBytes(irp->AssociatedIrp.SystemBuffer, &child->info, sizeof child->info);
    *written = sizeof child->info;
    IoInvalidateDeviceRelations(bus->pdo, BusRelations);
    return STATUS_SUCCESS;
}

static NTSTATUS ControlUnplug(VR_BUS* bus, IRP* irp, ULONG inputLength) {
    VR_DEVICE_REQUEST request;
    VR_CHILD* neverSeen[VR_MAX_DEVICES];
    ULONG unseen = 0;
    ULONG i;
    ULONG kept = 0;
    BOOLEAN found = FALSE;
    KIRQL irql;
    if (inputLength != sizeof request) return STATUS_INVALID_BUFFER_SIZE;
    CopyBytes(&request, irp->AssociatedIrp.SystemBuffer, sizeof request);
    IoAcquireCancelSpinLock(&irql);
    for (i = 0; i < bus->count; ++i) {
        VR_CHILD* child = bus->children[i];
        if (request.serial == VR_ALL_DEVICES || child->info.serial == request.serial) {
            found = TRUE;
            child->present = FALSE;
            if (!child->enumerated) neverSeen[unseen++] = child;
        } else {
            bus->children[kept++] = child;
        }
    }
    bus->count = kept;
    IoReleaseCancelSpinLock(irql);
    if (!found && request.serial != VR_ALL_DEVICES) return STATUS_NO_SUCH_DEVICE;
    /* PnP never saw these, so it will never remove them. */
    for (i = 0; i < unseen; ++i) IoDeleteDevice(neverSeen[i]->self);
    IoInvalidateDeviceRelations(bus->pdo, BusRelations);
    return STATUS_SUCCESS;
}

static NTSTATUS ControlReport(VR_BUS* bus, IRP* irp, ULONG inputLength, BOOLEAN input) {
    const UCHAR* buffer = (const UCHAR*)irp->AssociatedIrp.SystemBuffer;
    VR_REPORT_REQUEST request;
    const UCHAR* bytes = buffer + sizeof request;
    VR_CHILD* child;
    IRP* read = NULL;
    ULONG_PTR delivered = 0;
    NTSTATUS status = STATUS_SUCCESS;
    KIRQL irql;
    if (inputLength < sizeof request) return STATUS_INVALID_BUFFER_SIZE;
    CopyBytes(&request, buffer, sizeof request);
    if (request.length == 0 || request.length != inputLength - sizeof request) return STATUS_INVALID_BUFFER_SIZE;
    if (bytes[0] != 0) return STATUS_INVALID_PARAMETER; /* the descriptor has no report IDs */
    IoAcquireCancelSpinLock(&irql);
    child = FindChild(bus, request.serial);
    if (child == NULL || child->removed) {
        status = STATUS_NO_SUCH_DEVICE;
    } else if (request.length > (input ? child->info.inputReportLength : child->info.featureReportLength)) {
        status = STATUS_INVALID_PARAMETER;
    } else if (!input) {
        CopyBytes(child->featureReply, bytes, request.length);
        child->featureReplyLength = (USHORT)request.length;
    } else if ((read = TakePendingRead(child)) != NULL) {
        /* The report travels without its ID byte; the class driver adds it. */
        delivered = CopyReport(bytes + 1, (USHORT)(request.length - 1), read);
    } else if (child->queueCount < VR_REPORT_QUEUE_DEPTH) {
        const ULONG slot = (child->queueHead + child->queueCount) % VR_REPORT_QUEUE_DEPTH;
        CopyBytes(child->queued[slot], bytes + 1, request.length - 1);
        child->queuedLength[slot] = (USHORT)(request.length - 1);
        ++child->queueCount;
    } else {
        status = STATUS_DEVICE_BUSY;
    }
    IoReleaseCancelSpinLock(irql);
    if (read != NULL) CompleteRequest(read, STATUS_SUCCESS, delivered);
    return status;
}

static NTSTATUS ControlLastFeature(VR_BUS* bus, IRP* irp, ULONG inputLength, ULONG outputLength,
                                   ULONG_PTR* written) {
    VR_DEVICE_REQUEST request;
    VR_CHILD* child;
    NTSTATUS status = STATUS_SUCCESS;
    KIRQL irql;
    if (inputLength != sizeof request || outputLength < VR_MAX_FEATURE_REPORT_LENGTH) return STATUS_INVALID_BUFFER_SIZE;
    CopyBytes(&request, irp->AssociatedIrp.SystemBuffer, sizeof request);
    IoAcquireCancelSpinLock(&irql);
    child = FindChild(bus, request.serial);
    if (child == NULL) {
        status = STATUS_NO_SUCH_DEVICE;
    } else {
        CopyBytes(irp->AssociatedIrp.SystemBuffer, child->lastFeature, child->lastFeatureLength);
        *written = child->lastFeatureLength;
    }
    IoReleaseCancelSpinLock(irql);
    return status;
}

static NTSTATUS ControlStatus(VR_BUS* bus, IRP* irp, ULONG outputLength, ULONG_PTR* written) {
    VR_STATUS* status = (VR_STATUS*)irp->AssociatedIrp.SystemBuffer;
    ULONG i;
    KIRQL irql;
    if (outputLength < sizeof *status) return STATUS_INVALID_BUFFER_SIZE;
    RtlZeroMemory(status, sizeof *status);
    IoAcquireCancelSpinLock(&irql);
    status->count = bus->count;
    for (i = 0; i < bus->count; ++i) status->devices[i] = bus->children[i]->info;
    IoReleaseCancelSpinLock(irql);
    *written = sizeof *status;
    return STATUS_SUCCESS;
}

/* The bus a control request may use until it leaves, or NULL once removal has begun. */
static VR_BUS* EnterBus(VR_CONTROL* control) {
    VR_BUS* bus;
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    bus = control->bus;
    if (bus != NULL) ++bus->activeRequests;
    IoReleaseCancelSpinLock(irql);
    return bus;
}

static void LeaveBus(VR_BUS* bus) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    /* Signalled under the lock: once it is released the removal may free the bus. */
    if (--bus->activeRequests == 0 && bus->removing) KeSetEvent(&bus->idle, IO_NO_INCREMENT, FALSE);
    IoReleaseCancelSpinLock(irql);
}

/* Closes the gate and waits until no control request is inside. */
static void CloseGate(VR_BUS* bus) {
    BOOLEAN busy;
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    if (bus->control != NULL) ((VR_CONTROL*)bus->control->DeviceExtension)->bus = NULL;
    bus->removing = TRUE;
    busy = bus->activeRequests > 0;
    IoReleaseCancelSpinLock(irql);
    if (busy) KeWaitForSingleObject(&bus->idle, Executive, KernelMode, FALSE, NULL);
}

static NTSTATUS ControlRequest(VR_CONTROL* control, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    VR_BUS* bus = EnterBus(control);
    ULONG_PTR written = 0;
    NTSTATUS status;
    if (bus == NULL) {
        status = STATUS_DEVICE_REMOVED;
    } else if (irp->AssociatedIrp.SystemBuffer == NULL && (inputLength > 0 || outputLength > 0)) {
        status = STATUS_INVALID_PARAMETER;
    } else {
        switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_VR_PLUG: status = ControlPlug(bus, irp, inputLength, outputLength, &written); break;
        case IOCTL_VR_UNPLUG: status = ControlUnplug(bus, irp, inputLength); break;
        case IOCTL_VR_INJECT_INPUT: status = ControlReport(bus, irp, inputLength, TRUE); break;
        case IOCTL_VR_SET_FEATURE_REPLY: status = ControlReport(bus, irp, inputLength, FALSE); break;
        case IOCTL_VR_GET_LAST_FEATURE: status = ControlLastFeature(bus, irp, inputLength, outputLength, &written); break;
        case IOCTL_VR_STATUS: status = ControlStatus(bus, irp, outputLength, &written); break;
        default: status = STATUS_INVALID_DEVICE_REQUEST; break;
        }
    }
    if (bus != NULL) LeaveBus(bus);
    CompleteRequest(irp, status, NT_SUCCESS(status) ? written : 0);
    return status;
}

static PVOID SystemRoutine(const WCHAR* name) {
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, name);
    return MmGetSystemRoutineAddress(&text);
}

/* Gives an unnamed-security device the control device's DACL. */
static NTSTATUS SecureDevice(DEVICE_OBJECT* device, SetSecurityRoutine setSecurity) {
    static const SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    struct {
        SID sid;
        ULONG more;
    } system, administrators;
    UCHAR aclBuffer[128];
    ACL* acl = (ACL*)aclBuffer;
    SECURITY_DESCRIPTOR descriptor;
    NTSTATUS status;

    RtlZeroMemory(&system, sizeof system);
    RtlZeroMemory(&administrators, sizeof administrators);
    system.sid.Revision = SID_REVISION;
    system.sid.SubAuthorityCount = 1;
    system.sid.IdentifierAuthority = ntAuthority;
    system.sid.SubAuthority[0] = SECURITY_LOCAL_SYSTEM_RID;
    administrators.sid.Revision = SID_REVISION;
    administrators.sid.SubAuthorityCount = 2;
    administrators.sid.IdentifierAuthority = ntAuthority;
    administrators.sid.SubAuthority[0] = SECURITY_BUILTIN_DOMAIN_RID;
    administrators.more = DOMAIN_ALIAS_RID_ADMINS;

    if (!NT_SUCCESS(status = RtlCreateAcl(acl, sizeof aclBuffer, ACL_REVISION)) ||
        !NT_SUCCESS(status = RtlAddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, &system.sid)) ||
        !NT_SUCCESS(status = RtlAddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, &administrators.sid)) ||
        !NT_SUCCESS(status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)) ||
        !NT_SUCCESS(status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE))) {
        return status;
    }
    return setSecurity(device, DACL_SECURITY_INFORMATION, &descriptor);
}

/* Only SYSTEM and administrators may open the control device: it is never
 * created without an explicit security descriptor. */
static NTSTATUS CreateSecuredDevice(DRIVER_OBJECT* driver, UNICODE_STRING* name, DEVICE_OBJECT** device) {
    CreateDeviceSecureRoutine createSecure = (CreateDeviceSecureRoutine)SystemRoutine(L"IoCreateDeviceSecure");
    SetSecurityRoutine setSecurity;
    NTSTATUS status;
    if (createSecure != NULL) {
        UNICODE_STRING sddl;
        RtlInitUnicodeString(&sddl, VR_CONTROL_SDDL);
        return createSecure(driver, sizeof(VR_CONTROL), name, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE,
                            &sddl, &kControlClass, device);
    }
    setSecurity = (SetSecurityRoutine)SystemRoutine(L"ObSetSecurityObjectByPointer");
    if (setSecurity == NULL) return STATUS_NOT_SUPPORTED;
    status = IoCreateDevice(driver, sizeof(VR_CONTROL), name, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE,
                            device);
    if (!NT_SUCCESS(status)) return status;
    if (!NT_SUCCESS(status = SecureDevice(*device, setSecurity))) IoDeleteDevice(*device);
    return status;
}

static NTSTATUS CreateControlDevice(VR_BUS* bus) {
    UNICODE_STRING name;
    UNICODE_STRING link;
    DEVICE_OBJECT* device;
    VR_CONTROL* control;
    NTSTATUS status;
    RtlInitUnicodeString(&name, VR_CONTROL_DEVICE_NAME);
    RtlInitUnicodeString(&link, VR_CONTROL_LINK_NAME);
    status = CreateSecuredDevice(bus->self->DriverObject, &name, &device);
    if (!NT_SUCCESS(status)) {
        DbgPrint("VorlexVirtualReader: no secured control device, status %#lx\n", (unsigned long)status);
        return status;
    }
    control = (VR_CONTROL*)device->DeviceExtension;
    control->kind = VR_KIND_CONTROL;
    control->bus = bus;
    if (!NT_SUCCESS(status = IoCreateSymbolicLink(&link, &name))) {
        IoDeleteDevice(device);
        return status;
    }
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    bus->control = device;
    return STATUS_SUCCESS;
}

static void DeleteControlDevice(VR_BUS* bus) {
    UNICODE_STRING link;
    if (bus->control == NULL) return;
    RtlInitUnicodeString(&link, VR_CONTROL_LINK_NAME);
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(bus->control);
    bus->control = NULL;
}

/* ---- the bus FDO ---- */

static NTSTATUS NTAPI SignalCompletion(DEVICE_OBJECT* device, IRP* irp, PVOID context) {
    UNREFERENCED_PARAMETER(device);
    UNREFERENCED_PARAMETER(irp);
    KeSetEvent((KEVENT*)context, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

static NTSTATUS ForwardAndWait(VR_BUS* bus, IRP* irp) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalCompletion, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(bus->lower, irp) == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    }
    return irp->IoStatus.Status;
}

static NTSTATUS PassDown(VR_BUS* bus, IRP* irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(bus->lower, irp);
}

static NTSTATUS BusRelationsAnswer(VR_BUS* bus, IRP* irp) {
    DEVICE_RELATIONS* relations = (DEVICE_RELATIONS*)ExAllocatePoolWithTag(
        PagedPool, sizeof(DEVICE_RELATIONS) + VR_MAX_DEVICES * sizeof(DEVICE_OBJECT*), VR_POOL_TAG);
    KIRQL irql;
    ULONG i;
    if (relations == NULL) {
        CompleteRequest(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoAcquireCancelSpinLock(&irql);
    relations->Count = bus->count;
    for (i = 0; i < bus->count; ++i) {
        relations->Objects[i] = bus->children[i]->self;
        bus->children[i]->enumerated = TRUE;
        ObReferenceObject(bus->children[i]->self);
    }
    IoReleaseCancelSpinLock(irql);
    irp->IoStatus.Information = (ULONG_PTR)relations;
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(bus, irp);
}

static NTSTATUS RemoveBus(VR_BUS* bus, IRP* irp) {
    VR_CHILD* children[VR_MAX_DEVICES];
    ULONG count;
    ULONG i;
    KIRQL irql;
    NTSTATUS status;
    CloseGate(bus);
    DeleteControlDevice(bus);
    IoAcquireCancelSpinLock(&irql);
    count = bus->count;
    for (i = 0; i < count; ++i) {
        children[i] = bus->children[i];
        children[i]->present = FALSE;
    }
    bus->count = 0;
    IoReleaseCancelSpinLock(irql);
    for (i = 0; i < count; ++i) {
        FailPendingReads(children[i]);
        IoDeleteDevice(children[i]->self);
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    status = PassDown(bus, irp);
    IoDetachDevice(bus->lower);
    if (g_bus == bus) g_bus = NULL;
    IoDeleteDevice(bus->self);
    return status;
}

static NTSTATUS BusPnp(VR_BUS* bus, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status;
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = ForwardAndWait(bus, irp);
        if (NT_SUCCESS(status) && bus->control == NULL) status = CreateControlDevice(bus);
        CompleteRequest(irp, status, irp->IoStatus.Information);
        return status;
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (stack->Parameters.QueryDeviceRelations.Type == BusRelations) return BusRelationsAnswer(bus, irp);
        return PassDown(bus, irp);
    case IRP_MN_REMOVE_DEVICE:
        return RemoveBus(bus, irp);
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(bus, irp);
    default:
        return PassDown(bus, irp);
    }
}

/* ---- dispatch ---- */

static VR_KIND KindOf(DEVICE_OBJECT* device) { return *(VR_KIND*)device->DeviceExtension; }

static NTSTATUS NTAPI DispatchCreateClose(DEVICE_OBJECT* device, IRP* irp) {
    UNREFERENCED_PARAMETER(device);
    CompleteRequest(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI DispatchDeviceControl(DEVICE_OBJECT* device, IRP* irp) {
    if (KindOf(device) == VR_KIND_CONTROL) return ControlRequest((VR_CONTROL*)device->DeviceExtension, irp);
    if (KindOf(device) == VR_KIND_BUS) return PassDown((VR_BUS*)device->DeviceExtension, irp);
    CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    return STATUS_INVALID_DEVICE_REQUEST;
}

static NTSTATUS NTAPI DispatchInternalControl(DEVICE_OBJECT* device, IRP* irp) {
    if (KindOf(device) == VR_KIND_CHILD) return ChildInternalControl((VR_CHILD*)device->DeviceExtension, irp);
    if (KindOf(device) == VR_KIND_BUS) return PassDown((VR_BUS*)device->DeviceExtension, irp);
    CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    return STATUS_INVALID_DEVICE_REQUEST;
}

static NTSTATUS NTAPI DispatchPnp(DEVICE_OBJECT* device, IRP* irp) {
    if (KindOf(device) == VR_KIND_CHILD) return ChildPnp((VR_CHILD*)device->DeviceExtension, irp);
    if (KindOf(device) == VR_KIND_BUS) return BusPnp((VR_BUS*)device->DeviceExtension, irp);
    CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    return STATUS_INVALID_DEVICE_REQUEST;
}

static NTSTATUS NTAPI DispatchPower(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = irp->IoStatus.Status;
    PoStartNextPowerIrp(irp);
    if (KindOf(device) == VR_KIND_BUS) {
        IoSkipCurrentIrpStackLocation(irp);
        return PoCallDriver(((VR_BUS*)device->DeviceExtension)->lower, irp);
    }
    if (stack->MinorFunction == IRP_MN_SET_POWER || stack->MinorFunction == IRP_MN_QUERY_POWER) status = STATUS_SUCCESS;
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI DispatchOther(DEVICE_OBJECT* device, IRP* irp) {
    NTSTATUS status;
    if (KindOf(device) == VR_KIND_BUS) return PassDown((VR_BUS*)device->DeviceExtension, irp);
    status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
    DEVICE_OBJECT* device;
    VR_BUS* bus;
    NTSTATUS status;
    if (g_bus != NULL) return STATUS_DEVICE_ALREADY_ATTACHED; /* one bus per system */
    status = IoCreateDevice(driver, sizeof(VR_BUS), NULL, FILE_DEVICE_BUS_EXTENDER, FILE_DEVICE_SECURE_OPEN, FALSE,
                            &device);
    if (!NT_SUCCESS(status)) return status;
    bus = (VR_BUS*)device->DeviceExtension;
    RtlZeroMemory(bus, sizeof *bus);
    bus->kind = VR_KIND_BUS;
    bus->self = device;
    bus->pdo = pdo;
    KeInitializeEvent(&bus->idle, NotificationEvent, FALSE);
    bus->lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (bus->lower == NULL) {
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    g_bus = bus;
    device->Flags |= DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static VOID NTAPI DriverUnload(DRIVER_OBJECT* driver) { UNREFERENCED_PARAMETER(driver); }

/* Keeps an absolute address in the image, so that the linker emits the
 * relocation section a kernel image must have. */
static PDRIVER_DISPATCH volatile g_relocationAnchor = DispatchOther;

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath) {
    ULONG i;
    UNREFERENCED_PARAMETER(registryPath);
    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = DispatchOther;
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = g_relocationAnchor;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = DriverUnload;
    return STATUS_SUCCESS;
}
