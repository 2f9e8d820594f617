// DriverEntry of TAVROL.sys: one device, its link, its DACL, and the four routines it serves.
#include "tavrol_driver.h"

#include "tavrol_ioctl.h"

namespace {

const WCHAR deviceName[] = L"\\Device\\Tavrol";
const WCHAR linkName[] = L"\\DosDevices\\Tavrol";

NTSTATUS NTAPI completeOpenOrClose(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
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
    driver->MajorFunction[IRP_MJ_CREATE] = completeOpenOrClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = completeOpenOrClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = tavrolDeviceControl;
    driver->DriverUnload = unloadDriver;
    object->Flags |= DO_BUFFERED_IO;
    object->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
