// The do-nothing kernel driver of the start-up benchmark's floor: it loads, offers to be unloaded
// and serves nothing.
#include "../../driver/nt/nt_kernel.h"

namespace {

void NTAPI unloadDriver(PDRIVER_OBJECT) {}

} // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    driver->DriverUnload = unloadDriver;
    return STATUS_SUCCESS;
}
