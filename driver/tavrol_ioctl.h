// Request codes and records of the Tavrol kernel driver and virtual device driver.
// Shared by the program, the drivers and the simulated PC; every field is a little-endian dword.
#pragma once

#include <stdint.h>

#define TAVROL_DEVICE_TYPE 0x8001u
// CTL_CODE(0x8001, function, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define TAVROL_CTL_CODE(function) ((TAVROL_DEVICE_TYPE << 16) | ((uint32_t)(function) << 2))

enum TavrolRequestCode : uint32_t {
    IOCTL_PCI_FIND_CLASS = TAVROL_CTL_CODE(0x900),
    IOCTL_PCI_READ_CONFIG_SPACE = TAVROL_CTL_CODE(0x901),
    IOCTL_PCI_READ_CONFIG_DWORD = TAVROL_CTL_CODE(0x902),
    IOCTL_PCI_WRITE_CONFIG_DWORD = TAVROL_CTL_CODE(0x903),
    IOCTL_PHYS_READ_DWORD = TAVROL_CTL_CODE(0x904),
    IOCTL_PHYS_WRITE_DWORD = TAVROL_CTL_CODE(0x905),
};

// The virtual device driver of Windows 9x takes plain codes.
enum TavrolVxdCode : uint32_t {
    VXD_PHYS_READ_DWORD = 1,
    VXD_PHYS_WRITE_DWORD = 2,
};

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

static_assert(IOCTL_PCI_FIND_CLASS == 0x80012400u, "control code layout");
static_assert(IOCTL_PHYS_WRITE_DWORD == 0x80012414u, "control code layout");
static_assert(sizeof(PciClassQuery) == 408, "record size");
static_assert(sizeof(PciConfigBlock) == 264, "record size");
static_assert(sizeof(PciConfigDwordRequest) == 16, "record size");
static_assert(sizeof(PhysDwordRequest) == 16, "record size");
static_assert(sizeof(VxdPhysDwordRequest) == 12, "record size");
