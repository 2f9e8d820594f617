// Request codes and records of the Tavrol kernel driver and virtual device driver.
// Shared by the program, the drivers and the simulated PC; every field is a little-endian dword.
#pragma once

#include <stdint.h>

#define TAVROL_DEVICE_TYPE 0x8001u
#define TAVROL_ANY_ACCESS 0u // FILE_ANY_ACCESS
#define TAVROL_WRITE_ACCESS                                                                        \
    2u // FILE_WRITE_ACCESS: the I/O manager passes the request only on a
       // handle opened for writing
// CTL_CODE(0x8001, function, METHOD_BUFFERED, access)
#define TAVROL_CTL_CODE(function, access)                                                          \
    ((TAVROL_DEVICE_TYPE << 16) | ((uint32_t)(access) << 14) | ((uint32_t)(function) << 2))

// Codes that change the hardware ask for write access; the program opens the device for reading
// and writing.
enum TavrolRequestCode : uint32_t {
    IOCTL_PCI_FIND_CLASS = TAVROL_CTL_CODE(0x900, TAVROL_ANY_ACCESS),
    IOCTL_PCI_READ_CONFIG_SPACE = TAVROL_CTL_CODE(0x901, TAVROL_ANY_ACCESS),
    IOCTL_PCI_READ_CONFIG_DWORD = TAVROL_CTL_CODE(0x902, TAVROL_ANY_ACCESS),
    IOCTL_PCI_WRITE_CONFIG_DWORD = TAVROL_CTL_CODE(0x903, TAVROL_WRITE_ACCESS),
    IOCTL_PHYS_READ_DWORD = TAVROL_CTL_CODE(0x904, TAVROL_ANY_ACCESS),
    IOCTL_PHYS_WRITE_DWORD = TAVROL_CTL_CODE(0x905, TAVROL_WRITE_ACCESS),
};

// The virtual device driver of Windows 9x takes plain codes. A Win32 program of Windows 9x cannot
// call the PCI BIOS (the VMM takes the system VM for a 16-bit DPMI client), so configuration space
// goes through the driver as well. Its errors are listed in driver/vxd/tavrol_vxd.asm.
enum TavrolVxdCode : uint32_t {
    VXD_PHYS_READ_DWORD = 1,        // VxdPhysDwordRequest
    VXD_PHYS_WRITE_DWORD = 2,       // VxdPhysDwordRequest
    VXD_PCI_PRESENT = 3,            // VxdPciDwordRequest: the value answers TAVROL_PCI_SIGNATURE
    VXD_PCI_FIND_CLASS = 4,         // VxdPciClassRequest
    VXD_PCI_READ_CONFIG_SPACE = 5,  // VxdPciConfigBlock
    VXD_PCI_READ_CONFIG_DWORD = 6,  // VxdPciDwordRequest
    VXD_PCI_WRITE_CONFIG_DWORD = 7, // VxdPciDwordRequest
};

#define TAVROL_PCI_SIGNATURE 0x20494350u // "PCI ", as the PCI BIOS answers its presence

#define TAVROL_MAX_CLASS_MATCHES 50

// The one physical dword the drivers serve: the straps register of an NVIDIA display function,
// BAR 0's memory base plus this offset.
#define TAVROL_NVIDIA_VENDOR 0x10DEu
#define TAVROL_NVIDIA_STRAPS_OFFSET 0x101000u

struct PciClassEntry {
    uint32_t bus;
    uint32_t slot; // PciSlotWord: device in bits 4..0, function in bits 7..5
};

struct PciClassQuery {
    uint32_t classCode; // in: base class 23..16, subclass 15..8, interface 7..0
    uint32_t count;     // out: matches listed
    PciClassEntry entries[TAVROL_MAX_CLASS_MATCHES];
};

struct PciConfigBlock {
    uint32_t bus;
    uint32_t slot;
    uint8_t config[256];
};

struct PciConfigDwordRequest {
    uint32_t bus;
    uint32_t slot;
    uint32_t offset; // 0..0xFFFF
    uint32_t value;
};

struct PhysDwordRequest {
    uint32_t bus;
    uint32_t addressLow; // the 64-bit physical address is split: it sits unaligned at offset 4
    uint32_t addressHigh;
    uint32_t value;
};

struct VxdPhysDwordRequest {
    uint32_t bus;
    uint32_t address;
    uint32_t value;
};

// The virtual device driver names a function by its PCI address (the BIOS's form: bus in bits
// 15..8, device in bits 7..3, function in bits 2..0; bits 31..16 zero).
struct VxdPciDwordRequest {
    uint32_t address;
    uint32_t offset; // 0..0xFC, dword aligned
    uint32_t value;
};

struct VxdPciClassRequest {
    uint32_t classCode; // base class 23..16, subclass 15..8, interface 7..0
    uint32_t index;     // the index-th match, in the order of the walk over buses 0 to 255
    uint32_t address;   // out: its PCI address
};

struct VxdPciConfigBlock {
    uint32_t address;
    uint8_t config[256];
};

static_assert(IOCTL_PCI_FIND_CLASS == 0x80012400u, "control code layout");
static_assert(IOCTL_PCI_WRITE_CONFIG_DWORD == 0x8001A40Cu, "control code layout");
static_assert(IOCTL_PHYS_WRITE_DWORD == 0x8001A414u, "control code layout");
static_assert(sizeof(PciClassQuery) == 408, "record size");
static_assert(sizeof(PciConfigBlock) == 264, "record size");
static_assert(sizeof(PciConfigDwordRequest) == 16, "record size");
static_assert(sizeof(PhysDwordRequest) == 16, "record size");
static_assert(sizeof(VxdPhysDwordRequest) == 12, "record size");
static_assert(sizeof(VxdPciDwordRequest) == 12, "record size");
static_assert(sizeof(VxdPciClassRequest) == 12, "record size");
static_assert(sizeof(VxdPciConfigBlock) == 260, "record size");
