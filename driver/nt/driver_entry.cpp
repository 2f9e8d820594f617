// DriverEntry of TAVROL.sys: one device, its link, its DACL, and the four routines it serves.
#include "tavrol_driver.h"

#include "request_core.h"
#include "tavrol_ioctl.h"

namespace {

const WCHAR deviceName[] = L"\\Device\\Tavrol";
const WCHAR linkName[] = L"\\DosDevices\\Tavrol";

NTSTATUS complete(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Only the device itself opens: a name below it or a relative open is refused.
NTSTATUS NTAPI openDevice(PDEVICE_OBJECT, PIRP irp) {
    const PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    const int allowed =
        file && tavrolCreateAllowed(file->FileName.Length, file->RelatedFileObject != nullptr);
    return complete(irp, allowed ? STATUS_SUCCESS : STATUS_ACCESS_DENIED);
}

NTSTATUS NTAPI closeDevice(PDEVICE_OBJECT, PIRP irp) {
    return complete(irp, STATUS_SUCCESS);
}

void NTAPI unloadDriver(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, linkName);
    IoDeleteSymbolicLink(&link);
    if (driver->DeviceObject)
        IoDeleteDevice(driver->DeviceObject);
}

} // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    const TavrolBus* bus = nullptr;
    NTSTATUS status = tavrolOpenBus(&bus);
    if (!NT_SUCCESS(status))
        return status;

    UNICODE_STRING device;
    RtlInitUnicodeString(&device, deviceName);
    PDEVICE_OBJECT object = nullptr;
    status = IoCreateDevice(driver, sizeof(TavrolDeviceExtension), &device, TAVROL_DEVICE_TYPE,
                            FILE_DEVICE_SECURE_OPEN, FALSE, &object);
    if (!NT_SUCCESS(status))
        return status;
    // The DACL goes on before the link exists and while the device is still initialising, so no
    // open ever finds the device without it.
    status = tavrolSecureDevice(object);
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, linkName);
    if (NT_SUCCESS(status))
        status = IoCreateSymbolicLink(&link, &device);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(object);
        return status;
    }

    static_cast<TavrolDeviceExtension*>(object->DeviceExtension)->bus = bus;
    driver->MajorFunction[IRP_MJ_CREATE] = openDevice;
    driver->MajorFunction[IRP_MJ_CLOSE] = closeDevice;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = tavrolDeviceControl;
    driver->DriverUnload = unloadDriver;
    object->Flags |= DO_BUFFERED_IO;
    object->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
