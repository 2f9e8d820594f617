// The device-control routine: every request goes to the portable request core.
#include "tavrol_driver.h"

#include "request_core.h"

NTSTATUS tavrolNtStatus(int coreStatus, ULONG inputLength, ULONG outputLength) {
    switch (coreStatus) {
    case TAVROL_STATUS_OK:
        return STATUS_SUCCESS;
    case TAVROL_STATUS_INVALID_REQUEST:
        return STATUS_INVALID_DEVICE_REQUEST;
    case TAVROL_STATUS_BAD_LENGTH:
        // Both records of a request have one size: a shorter output cannot hold the answer.
        return outputLength < inputLength ? STATUS_BUFFER_TOO_SMALL : STATUS_INVALID_PARAMETER;
    case TAVROL_STATUS_ACCESS_DENIED:
        return STATUS_ACCESS_DENIED;
    default:
        return STATUS_UNSUCCESSFUL;
    }
}

NTSTATUS NTAPI tavrolDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const TavrolBus* bus = static_cast<TavrolDeviceExtension*>(device->DeviceExtension)->bus;
    // Under METHOD_BUFFERED input and output share the one system buffer; the core copes with
    // the alias and checks both lengths before it touches the buffer.
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    uint32_t written = 0;
    const int coreStatus =
        tavrolHandleRequest(bus, stack->Parameters.DeviceIoControl.IoControlCode, buffer,
                            stack->Parameters.DeviceIoControl.InputBufferLength, buffer,
                            stack->Parameters.DeviceIoControl.OutputBufferLength, &written);
    const NTSTATUS status =
        tavrolNtStatus(coreStatus, stack->Parameters.DeviceIoControl.InputBufferLength,
                       stack->Parameters.DeviceIoControl.OutputBufferLength);
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? written : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}
