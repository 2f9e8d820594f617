// The straps rule as one table, run against the kernel driver's request core and against
// TAVROL.VXD on the emulated CPU: both drivers must grant exactly these requests.
//
// The one physical word either driver serves is NVIDIA's straps register: BAR 0's base + 0x101000
// of a display function on the request's bus, found by the PCI walk (function 0, and functions
// 1 to 7 only when function 0's header says multi-function), whose BAR 0 is an assigned 32-bit
// memory BAR that the function decodes, aligned to the 16 MiB window a GeForce decodes.
#pragma once

#include <cctype>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "driver/fake_bus.h"

struct PhysCase {
    const char* what;
    uint16_t vendor;
    uint32_t classCode;
    uint16_t command; // PCI command register: bit 1 is memory decoding
    uint32_t bar0, bar1;
    PhysDwordRequest request;
    bool served;
    // Where the card sits on bus 1: device 0, this function. A card at function 1 to 7 gets a
    // function 0 beside it with this header type (kNoFunctionZero: none).
    uint8_t function = 0;
    uint8_t functionZeroHeader = 0;
};

const uint16_t kNvidia = 0x10DE;
const uint16_t kDecoding = 0x0007; // I/O, memory, bus master
const uint8_t kMultiFunction = 0x80;
const uint8_t kNoFunctionZero = 0xFF;

inline PhysDwordRequest physRequest(uint32_t bus, uint32_t address, uint32_t high = 0,
                                    uint32_t value = 0xdeadbeef) {
    return PhysDwordRequest{bus, address, high, value};
}

// The VxD's record has a 32-bit address: rows with a high half are the kernel driver's alone.
inline bool fitsVxdRecord(const PhysCase& c) {
    return c.request.addressHigh == 0;
}

inline PhysCase onFunction(PhysCase c, uint8_t function, uint8_t functionZeroHeader) {
    c.function = function;
    c.functionZeroHeader = functionZeroHeader;
    return c;
}

const PhysCase kStraps = {
    "the straps", kNvidia, 0x030000, kDecoding, 0xE0000000, 0, physRequest(1, 0xE0101000), true};

const PhysCase kPhysCases[] = {
    kStraps,
    {"the straps behind a prefetchable BAR", kNvidia, 0x030000, kDecoding, 0xD8000008, 0,
     physRequest(1, 0xD8101000), true},
    {"the straps of a 3D controller", kNvidia, 0x030200, kDecoding, 0xE0000000, 0,
     physRequest(1, 0xE0101000), true},
    {"the straps of the highest aligned BAR", kNvidia, 0x030000, kDecoding, 0xFF000000, 0,
     physRequest(1, 0xFF101000), true},
    {"the BAR's base", kNvidia, 0x030000, kDecoding, 0xE0000000, 0, physRequest(1, 0xE0000000),
     false},
    {"the dword before the straps", kNvidia, 0x030000, kDecoding, 0xE0000000, 0,
     physRequest(1, 0xE0100FFC), false},
    {"the dword after the straps", kNvidia, 0x030000, kDecoding, 0xE0000000, 0,
     physRequest(1, 0xE0101004), false},
    {"inside the straps dword", kNvidia, 0x030000, kDecoding, 0xE0000000, 0,
     physRequest(1, 0xE0101002), false},
    {"the last dword of 16 MiB", kNvidia, 0x030000, kDecoding, 0xE0000000, 0,
     physRequest(1, 0xE0FFFFFC), false},
    {"RAM", kNvidia, 0x030000, kDecoding, 0xE0000000, 0, physRequest(1, 0x00100000), false},
    // A 64-bit BAR above 4 GiB: its low dword names RAM on a PAE machine.
    {"64-bit BAR, low dword", kNvidia, 0x030000, kDecoding, 0xC000000C, 1,
     physRequest(1, 0xC0101000), false},
    {"64-bit BAR, full address", kNvidia, 0x030000, kDecoding, 0xC000000C, 1,
     physRequest(1, 0xC0101000, 1), false},
    {"BAR below 1 MiB", kNvidia, 0x030000, kDecoding, 0x000C0002, 0, physRequest(1, 0x001C1000),
     false},
    {"I/O BAR", kNvidia, 0x030000, kDecoding, 0x0000D001, 0, physRequest(1, 0x0010E000), false},
    {"unassigned BAR", kNvidia, 0x030000, kDecoding, 0x00000000, 0, physRequest(1, 0x00101000),
     false},
    {"memory decoding off", kNvidia, 0x030000, 0x0005, 0xE0000000, 0, physRequest(1, 0xE0101000),
     false},
    // BAR 0 outside the 16 MiB alignment: a chip's smaller window, never a GeForce's.
    {"BAR aligned to 8 MiB only", kNvidia, 0x030000, kDecoding, 0xE0800000, 0,
     physRequest(1, 0xE0901000), false},
    {"BAR aligned to 1 MiB only", kNvidia, 0x030000, kDecoding, 0xFDF00000, 0,
     physRequest(1, 0xFE001000), false},
    // The sum of a BAR near the top and the offset leaves 32 bits: in 64 bits it names memory
    // above 4 GiB, in 32 bits it wraps to the bottom of RAM.
    {"the straps past 4 GiB", kNvidia, 0x030000, kDecoding, 0xFFF00000, 0,
     physRequest(1, 0x00001000, 1), false},
    {"the straps wrapped below 4 GiB", kNvidia, 0x030000, kDecoding, 0xFFF00000, 0,
     physRequest(1, 0x00001000), false},
    // An integrated chip's small register BAR near the top of 4 GiB: the old window reached the
    // IOAPIC, the HPET and the local APIC from it.
    {"small BAR, IOAPIC", 0x8086, 0x030000, kDecoding, 0xFEB80000, 0, physRequest(1, 0xFEC00000),
     false},
    {"small BAR, HPET", 0x8086, 0x030000, kDecoding, 0xFEB80000, 0, physRequest(1, 0xFED00000),
     false},
    {"small BAR, local APIC", 0x8086, 0x030000, kDecoding, 0xFEB80000, 0,
     physRequest(1, 0xFEE00000), false},
    {"small NVIDIA BAR, IOAPIC", kNvidia, 0x030000, kDecoding, 0xFEB80000, 0,
     physRequest(1, 0xFEC00000), false},
    {"another vendor's straps offset", 0x1002, 0x030000, kDecoding, 0xE0000000, 0,
     physRequest(1, 0xE0101000), false},
    {"NVIDIA function that is no display", kNvidia, 0x060000, kDecoding, 0xE0000000, 0,
     physRequest(1, 0xE0101000), false},
    {"another bus", kNvidia, 0x030000, kDecoding, 0xE0000000, 0, physRequest(0, 0xE0101000), false},
    {"bus beyond 255", kNvidia, 0x030000, kDecoding, 0xE0000000, 0, physRequest(0x101, 0xE0101000),
     false},
    {"the straps address with the high half set", kNvidia, 0x030000, kDecoding, 0xE0000000, 0,
     physRequest(1, 0xE0101000, 1), false},
    // The walk: functions 1 to 7 exist only beside a multi-function function 0.
    onFunction({"function 5 of a multi-function device", kNvidia, 0x030000, kDecoding, 0xE0000000,
                0, physRequest(1, 0xE0101000), true},
               5, kMultiFunction),
    onFunction({"function 5 of a single-function device", kNvidia, 0x030000, kDecoding, 0xE0000000,
                0, physRequest(1, 0xE0101000), false},
               5, 0),
    onFunction({"function 5 without a function 0", kNvidia, 0x030000, kDecoding, 0xE0000000, 0,
                physRequest(1, 0xE0101000), false},
               5, kNoFunctionZero),
};

// Puts the case's card, and the function 0 beside it, on bus 1 of the fake.
inline void addStrapsCard(FakeBus& fake, const PhysCase& c) {
    if (c.function != 0 && c.functionZeroHeader != kNoFunctionZero)
        fake.add(1, 0, 0, 0x040000, c.functionZeroHeader, 0x10DE);
    FakeBus::Function& card = fake.add(1, 0, c.function, c.classCode, 0, c.vendor);
    FakeBus::setDword(card, 0x04, c.command);
    FakeBus::setDword(card, 0x10, c.bar0);
    FakeBus::setDword(card, 0x14, c.bar1);
}

inline void PrintTo(const PhysCase& value, std::ostream* out) {
    *out << value.what;
}

inline std::string physCaseName(const testing::TestParamInfo<PhysCase>& info) {
    std::string name;
    for (const char* p = info.param.what; *p; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p)))
            name += *p;
    return name;
}
