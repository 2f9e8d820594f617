// The kernel driver's request core, through its public entry point, over a PCI bus made from the
// input: whatever the request and the bus, the core reads only inside configuration spaces, writes
// nothing but an AGP command register, reports exactly what it wrote and leaves the output alone
// when it fails.
#include <cstring>
#include <map>
#include <vector>

#include "fuzz_check.h"
#include "pci_capability.h"
#include "request_core.h"
#include "request_input.h"

namespace {

using fuzz::require;

struct Bus {
    std::vector<fuzz::BusFunction> functions;
    bool firstFails = false;
    std::map<uint64_t, uint32_t> phys;
    std::vector<fuzz::BusFunction> before; // the spaces as the request found them
    struct Access {
        uint32_t bus, slot, offset;
    };
    std::vector<Access> configWrites;
    std::vector<uint64_t> physAccesses;

    fuzz::BusFunction* find(uint32_t bus, uint32_t slot) {
        for (fuzz::BusFunction& f : functions)
            if (f.bus == bus && f.slot == slot)
                return &f;
        return nullptr;
    }
};

Bus* busOf(void* context) {
    return static_cast<Bus*>(context);
}

int readConfig(void* context, uint32_t bus, uint32_t slot, uint32_t offset, void* buffer,
               uint32_t length) {
    Bus* b = busOf(context);
    require(length <= 256 && offset <= 256 - length, "reads stay inside the configuration space");
    fuzz::BusFunction* f = b->find(bus, slot);
    if (b->firstFails && f == &b->functions.front())
        return 0;
    if (!f) {
        std::memset(buffer, 0xFF, length); // an empty slot answers all ones
        return 1;
    }
    std::memcpy(buffer, f->config + offset, length);
    return 1;
}

int writeConfig(void* context, uint32_t bus, uint32_t slot, uint32_t offset, uint32_t value) {
    Bus* b = busOf(context);
    require(offset <= 252 && offset % 4 == 0, "writes are aligned dwords inside the space");
    b->configWrites.push_back({bus, slot, offset});
    fuzz::BusFunction* f = b->find(bus, slot);
    if (!f)
        return 0;
    std::memcpy(f->config + offset, &value, 4);
    return 1;
}

int readPhys(void* context, uint64_t address, uint32_t* value) {
    Bus* b = busOf(context);
    b->physAccesses.push_back(address);
    auto word = b->phys.find(address);
    *value = word == b->phys.end() ? 0 : word->second;
    return 1;
}

int writePhys(void* context, uint64_t address, uint32_t value) {
    Bus* b = busOf(context);
    b->physAccesses.push_back(address);
    b->phys[address] = value;
    return 1;
}

// The AGP command register of a function as the request found it; 0 when it has none.
uint32_t agpCommandOf(const Bus& bus, uint32_t busNumber, uint32_t slot) {
    for (const fuzz::BusFunction& f : bus.before)
        if (f.bus == busNumber && f.slot == slot) {
            uint32_t cap =
                pciFindCapabilityInImage(f.config, PCI_CAPABILITY_AGP, PCI_AGP_CAPABILITY_LENGTH);
            return cap ? cap + 8 : 0;
        }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RequestInput input = fuzz::decodeRequest(data, size);
    Bus bus;
    bus.functions = input.functions;
    bus.before = input.functions;
    bus.firstFails = (input.flags & fuzz::kFailingReads) && !bus.functions.empty();
    TavrolBus platform = {&bus, readConfig, writeConfig, readPhys, writePhys};

    uint32_t size32 = uint32_t(input.record.size());
    std::vector<uint8_t> in = input.record, out(input.record.size(), 0xA5);
    uint8_t* output = (input.flags & fuzz::kAliased) ? in.data() : out.data();
    std::vector<uint8_t> outputBefore(output, output + size32);
    uint32_t inputLength = size32 - ((input.flags & fuzz::kShortInput) ? 1 : 0);
    uint32_t outputLength = size32 - ((input.flags & fuzz::kShortOutput) ? 1 : 0);
    uint32_t written = 0xFFFFFFFF;
    int status = tavrolHandleRequest(&platform, input.code, in.data(), inputLength, output,
                                     outputLength, &written);

    require(written == (status == TAVROL_STATUS_OK ? size32 : 0),
            "the core reports the bytes it wrote, and none when it fails");
    if (status != TAVROL_STATUS_OK)
        require(std::memcmp(output, outputBefore.data(), size32) == 0,
                "a failed request leaves the output alone");
    require(bus.configWrites.size() <= 1, "a request writes one register at most");
    for (const Bus::Access& w : bus.configWrites)
        require(input.code == IOCTL_PCI_WRITE_CONFIG_DWORD &&
                    w.offset == agpCommandOf(bus, w.bus, w.slot),
                "only the AGP command register takes a write");
    bool physRequest = input.code == IOCTL_PHYS_READ_DWORD || input.code == IOCTL_PHYS_WRITE_DWORD;
    require(bus.physAccesses.size() <= (physRequest ? 1u : 0u),
            "only a memory request touches memory, once");
    for (uint64_t address : bus.physAccesses)
        require(address % 4 == 0, "memory is reached in aligned dwords");
    if (status == TAVROL_STATUS_OK && input.code == IOCTL_PCI_FIND_CLASS) {
        PciClassQuery query;
        std::memcpy(&query, output, sizeof query);
        require(query.count <= TAVROL_MAX_CLASS_MATCHES, "no more matches than the record holds");
    }
    return 0;
}
