// The input of the request-core harness: one request to the kernel driver's core and the PCI bus
// it runs on. The seed maker writes inputs in this form from the shipped machine profiles.
//
//   byte 0        the request: an index into kRequestCodes (the last one is unknown to the core)
//   byte 1        kAliased: the output buffer is the input buffer (METHOD_BUFFERED);
//                 kShortInput, kShortOutput: a buffer one byte short; kFailingReads: reads of
//                 the first function fail
//   next bytes    the request record, as long as the code's record (zeros where the input ends)
//   then          up to 8 functions: bus, slot (device in bits 4..0, function in bits 7..5) and
//                 the 256 bytes of the configuration space (zeros where the input ends)
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "tavrol_ioctl.h"

namespace fuzz {

const uint32_t kRequestCodes[] = {IOCTL_PCI_FIND_CLASS,
                                  IOCTL_PCI_READ_CONFIG_SPACE,
                                  IOCTL_PCI_READ_CONFIG_DWORD,
                                  IOCTL_PCI_WRITE_CONFIG_DWORD,
                                  IOCTL_PHYS_READ_DWORD,
                                  IOCTL_PHYS_WRITE_DWORD,
                                  TAVROL_CTL_CODE(0x906, TAVROL_ANY_ACCESS)};
const size_t kRequestCodeCount = sizeof kRequestCodes / sizeof kRequestCodes[0];

enum : uint8_t { kAliased = 1, kShortInput = 2, kShortOutput = 4, kFailingReads = 8 };

const size_t kMaxFunctions = 8;

struct BusFunction {
    uint32_t bus = 0;
    uint32_t slot = 0;
    uint8_t config[256] = {};
};

struct RequestInput {
    uint32_t code = 0;
    uint8_t flags = 0;
    std::vector<uint8_t> record;
    std::vector<BusFunction> functions;
};

// The size of the record of a request code; an unknown code gets a dword request's size.
inline size_t recordSizeOf(uint32_t code) {
    switch (code) {
    case IOCTL_PCI_FIND_CLASS:
        return sizeof(PciClassQuery);
    case IOCTL_PCI_READ_CONFIG_SPACE:
        return sizeof(PciConfigBlock);
    default:
        return sizeof(PciConfigDwordRequest);
    }
}

inline RequestInput decodeRequest(const uint8_t* data, size_t size) {
    RequestInput input;
    size_t at = 0;
    auto take = [&](void* to, size_t length) {
        size_t got = at < size ? (size - at < length ? size - at : length) : 0;
        if (got)
            std::memcpy(to, data + at, got);
        at += length;
    };
    uint8_t header[2] = {};
    take(header, 2);
    input.code = kRequestCodes[header[0] % kRequestCodeCount];
    input.flags = header[1];
    input.record.assign(recordSizeOf(input.code), 0);
    take(input.record.data(), input.record.size());
    while (at < size && input.functions.size() < kMaxFunctions) {
        BusFunction f;
        uint8_t address[2] = {};
        take(address, 2);
        f.bus = address[0];
        f.slot = address[1];
        take(f.config, sizeof f.config);
        input.functions.push_back(f);
    }
    return input;
}

inline std::vector<uint8_t> encodeRequest(const RequestInput& input) {
    std::vector<uint8_t> bytes;
    size_t index = 0;
    while (index < kRequestCodeCount && kRequestCodes[index] != input.code)
        ++index;
    bytes.push_back(uint8_t(index));
    bytes.push_back(input.flags);
    std::vector<uint8_t> record = input.record;
    record.resize(recordSizeOf(input.code), 0);
    bytes.insert(bytes.end(), record.begin(), record.end());
    for (const BusFunction& f : input.functions) {
        bytes.push_back(uint8_t(f.bus));
        bytes.push_back(uint8_t(f.slot));
        bytes.insert(bytes.end(), f.config, f.config + sizeof f.config);
    }
    return bytes;
}

} // namespace fuzz
