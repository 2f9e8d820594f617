// The walk of a PCI function's capability list, one rule for the program, the kernel driver and
// the machines that stand in for hardware. Header only and free of any runtime: it is compiled
// into the kernel driver too.
#pragma once

#include <stdint.h>

enum : uint32_t {
    PCI_CONFIG_SPACE_SIZE = 256,
    PCI_STATUS_REGISTER = 0x06,
    PCI_STATUS_CAPABILITY_LIST = 0x10,
    PCI_HEADER_TYPE_REGISTER = 0x0E,
    PCI_HEADER_TYPE_MASK = 0x7F,
    PCI_CAPABILITY_POINTER = 0x34,
    // Capabilities live above the 64-byte header; a pointer into the header ends the list.
    PCI_FIRST_CAPABILITY = 0x40,
    // 48 dwords above the header: a walk that takes more steps has come round a loop.
    PCI_MAX_CAPABILITIES = (PCI_CONFIG_SPACE_SIZE - PCI_FIRST_CAPABILITY) / 4,
    PCI_CAPABILITY_AGP = 2,
    // ID, next pointer, revision, then the status and the command register.
    PCI_AGP_CAPABILITY_LENGTH = 12,
};

// Reads one byte of the function's configuration space; 0 when it cannot be read.
typedef int (*PciConfigByteReader)(void* context, uint32_t offset, uint8_t* value);

// Offset of the first capability with the given ID whose `length` bytes lie inside the
// configuration space, 0 when there is none. Only functions that announce a list (status bit 4)
// and have a header of type 0 or 1 have one: in a CardBus bridge's header, register 0x34 is not
// a capabilities pointer. Pointers are taken to dwords (their low two bits are reserved), a
// pointer below 0x40 ends the list, and a list that loops ends after 48 steps. A register that
// cannot be read ends the walk with nothing found.
static inline uint32_t pciFindCapability(PciConfigByteReader read, void* context, uint8_t id,
                                         uint32_t length) {
    uint8_t status, headerType, pointer;
    if (!read(context, PCI_STATUS_REGISTER, &status) || !(status & PCI_STATUS_CAPABILITY_LIST) ||
        !read(context, PCI_HEADER_TYPE_REGISTER, &headerType) ||
        (headerType & PCI_HEADER_TYPE_MASK) > 1 || !read(context, PCI_CAPABILITY_POINTER, &pointer))
        return 0;
    for (uint32_t step = 0; step < PCI_MAX_CAPABILITIES; ++step) {
        const uint32_t entry = pointer & 0xFCu;
        uint8_t entryId;
        if (entry < PCI_FIRST_CAPABILITY || !read(context, entry, &entryId) ||
            !read(context, entry + 1, &pointer))
            return 0;
        if (entryId == id)
            return entry + length <= PCI_CONFIG_SPACE_SIZE ? entry : 0;
    }
    return 0;
}

static inline int pciImageByte(void* image, uint32_t offset, uint8_t* value) {
    if (offset >= PCI_CONFIG_SPACE_SIZE)
        return 0;
    *value = static_cast<const uint8_t*>(image)[offset];
    return 1;
}

// The same walk over a 256-byte image of the configuration space.
static inline uint32_t pciFindCapabilityInImage(const uint8_t* image, uint8_t id, uint32_t length) {
    return pciFindCapability(pciImageByte, const_cast<uint8_t*>(image), id, length);
}
