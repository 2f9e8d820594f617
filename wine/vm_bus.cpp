// The bus back end of the driver built for the Wine suite: the compiled-in virtual PC, whose
// state is kept in the registry so that it outlives each run's load and unload of the driver.
#include "tavrol_driver.h"

#include "vm_machine.h"

namespace {

const WCHAR stateKeyName[] = L"\\Registry\\Machine\\Software\\Tavrolin Test Machine";
const WCHAR stateValueName[] = L"State";

VmMachine machine;
TavrolBus bus;
// The state record is small (a few configuration spaces); one static buffer serves load and
// save, so the driver needs no pool allocation.
ULONG stateBuffer[(sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 16 * 256 + 12 +
                   VM_MAX_PHYS_WORDS * sizeof(VmPhysWord) + 4) /
                      sizeof(ULONG) +
                  1];

HANDLE openStateKey() {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, stateKeyName);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    HANDLE key = nullptr;
    ULONG disposition = 0;
    if (!NT_SUCCESS(ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr,
                                REG_OPTION_NON_VOLATILE, &disposition)))
        return nullptr;
    return key;
}

void loadState() {
    HANDLE key = openStateKey();
    if (!key)
        return;
    UNICODE_STRING value;
    RtlInitUnicodeString(&value, stateValueName);
    ULONG length = 0;
    auto* info = reinterpret_cast<KEY_VALUE_PARTIAL_INFORMATION*>(stateBuffer);
    if (NT_SUCCESS(ZwQueryValueKey(key, &value, KeyValuePartialInformation, info,
                                   sizeof stateBuffer, &length)) &&
        info->Type == REG_BINARY)
        vmLoadState(&machine, info->Data, info->DataLength);
    ZwClose(key);
}

void saveState() {
    HANDLE key = openStateKey();
    if (!key)
        return;
    UNICODE_STRING value;
    RtlInitUnicodeString(&value, stateValueName);
    vmSaveState(&machine, stateBuffer);
    ZwSetValueKey(key, &value, 0, REG_BINARY, stateBuffer, vmStateSize(&machine));
    ZwClose(key);
}

int writeConfigAndSave(void* context, uint32_t busNumber, uint32_t slot, uint32_t offset,
                       uint32_t value) {
    const int ok = vmBus(&machine).writeConfig(context, busNumber, slot, offset, value);
    if (ok)
        saveState();
    return ok;
}

int writePhysAndSave(void* context, uint64_t address, uint32_t value) {
    const int ok = vmBus(&machine).writePhys(context, address, value);
    if (ok)
        saveState();
    return ok;
}

} // namespace

NTSTATUS tavrolOpenBus(const TavrolBus** result) {
    if (!vmInit(&machine, vmProfileFunctions, vmProfileFunctionCount, vmProfilePhys,
                vmProfilePhysCount) ||
        vmStateSize(&machine) > sizeof stateBuffer - sizeof(KEY_VALUE_PARTIAL_INFORMATION))
        return STATUS_INSUFFICIENT_RESOURCES;
    loadState();
    bus = vmBus(&machine);
    bus.writeConfig = writeConfigAndSave;
    bus.writePhys = writePhysAndSave;
    *result = &bus;
    return STATUS_SUCCESS;
}
