// The bus of a real PC: configuration space through the HAL, physical memory mapped one dword
// at a time.
#include "tavrol_driver.h"

#include "request_core.h"

namespace {

int readConfig(void*, uint32_t bus, uint32_t slot, uint32_t offset, void* buffer, uint32_t length) {
    // 0 means the bus does not exist, 2 an empty slot; only the full length is a read.
    return HalGetBusDataByOffset(PCIConfiguration, bus, slot, buffer, offset, length) == length;
}

int writeConfig(void*, uint32_t bus, uint32_t slot, uint32_t offset, uint32_t value) {
    return HalSetBusDataByOffset(PCIConfiguration, bus, slot, &value, offset, sizeof value) ==
           sizeof value;
}

// Maps one non-cached dword and unmaps it at once: nothing stays mapped between requests.
volatile ULONG* mapDword(uint64_t address) {
    PHYSICAL_ADDRESS physical;
    physical.QuadPart = static_cast<LONGLONG>(address);
    return static_cast<volatile ULONG*>(MmMapIoSpace(physical, sizeof(ULONG), MmNonCached));
}

int readPhys(void*, uint64_t address, uint32_t* value) {
    volatile ULONG* word = mapDword(address);
    if (!word)
        return 0;
    *value = *word;
    MmUnmapIoSpace(const_cast<ULONG*>(word), sizeof(ULONG));
    return 1;
}

int writePhys(void*, uint64_t address, uint32_t value) {
    volatile ULONG* word = mapDword(address);
    if (!word)
        return 0;
    *word = value;
    MmUnmapIoSpace(const_cast<ULONG*>(word), sizeof(ULONG));
    return 1;
}

const TavrolBus halBus = {nullptr, readConfig, writeConfig, readPhys, writePhys};

} // namespace

NTSTATUS tavrolOpenBus(const TavrolBus** bus) {
    *bus = &halBus;
    return STATUS_SUCCESS;
}
