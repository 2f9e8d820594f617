// TAVROL.VXD against the kernel driver's rule: the straps table both drivers run, the caller's
// pointers, the one mapping of a load, and the configuration requests that stand in for the PCI
// BIOS, compared with what the request core answers over the same bus.
#include <cstring>
#include <vector>

#include "built_vxd.h"
#include "driver/fake_bus.h"
#include "driver/straps_rule_cases.h"

namespace {

class VxdStrapsRule : public testing::TestWithParam<PhysCase> {};

// Row by row the answer of the request core's own table: served, or refused before memory.
TEST_P(VxdStrapsRule, GrantsWhatTheKernelDriverGrants) {
    const PhysCase& c = GetParam();
    FakeBus fake;
    addStrapsCard(fake, c);
    fake.phys[c.request.addressLow] = 0x00000E00;
    LoadedVxd vxd(*fake.bus());
    VxdPhysDwordRequest out;
    const uint32_t read = vxd.send(
        VXD_PHYS_READ_DWORD, VxdPhysDwordRequest{c.request.bus, c.request.addressLow, 0}, &out);
    const uint32_t write =
        vxd.send(VXD_PHYS_WRITE_DWORD,
                 VxdPhysDwordRequest{c.request.bus, c.request.addressLow, 0x80000000u}, &out);
    if (c.served) {
        EXPECT_EQ(0u, read);
        EXPECT_EQ(0u, write);
        EXPECT_EQ(0x80000000u, fake.phys[c.request.addressLow]);
        return;
    }
    EXPECT_EQ(static_cast<uint32_t>(ERROR_ACCESS_DENIED), read);
    EXPECT_EQ(static_cast<uint32_t>(ERROR_ACCESS_DENIED), write);
    EXPECT_EQ(0, fake.physAccesses);
    EXPECT_TRUE(vxd.host().mappings().empty());
}

std::vector<PhysCase> vxdCases() {
    std::vector<PhysCase> cases;
    for (const PhysCase& c : kPhysCases)
        if (fitsVxdRecord(c))
            cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(StrapsOnly, VxdStrapsRule, testing::ValuesIn(vxdCases()), physCaseName);

VxdPhysDwordRequest strapsRequest() {
    return VxdPhysDwordRequest{kStraps.request.bus, kStraps.request.addressLow, 0x80000000u};
}

// A card on bus 1 whose straps the driver serves.
struct StrapsPc {
    FakeBus fake;
    StrapsPc() {
        addStrapsCard(fake, kStraps);
        fake.phys[kStraps.request.addressLow] = 0x00000E00;
    }
};

// The byte count, the input and the output must lie where a Win32 program's memory lies: between
// the MS-DOS arena's 4 MiB and the system arena at 3 GiB. Outside, the driver touches nothing (the
// host faults the run if it does).
TEST(VxdPointers, RecordsOutsideTheCallersArenasAreRefused) {
    const uint32_t kOk = 0;
    const struct {
        const char* what;
        uint32_t in, out, count;
    } cases[] = {
        {"input in the system arena", 0xC0010000, kOk, kOk},
        {"output in the system arena", kOk, 0xC0010000, kOk},
        {"byte count in the system arena", kOk, kOk, 0xC0010050},
        {"output below 4 MiB", kOk, 0x003FF000, kOk},
        {"input below 4 MiB", 0x00000100, kOk, kOk},
        {"output running into the system arena", kOk, 0xBFFFFFF8, kOk},
        {"byte count running into the system arena", kOk, kOk, 0xBFFFFFFE},
        {"output wrapping past 4 GiB", kOk, 0xFFFFFFF8, kOk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StrapsPc pc;
        LoadedVxd vxd(*pc.fake.bus());
        vxd.host().placeBuffers(c.in, c.out, c.count);
        VxdPhysDwordRequest out;
        EXPECT_EQ(static_cast<uint32_t>(ERROR_NOACCESS),
                  vxd.send(VXD_PHYS_WRITE_DWORD, strapsRequest(), &out));
        EXPECT_EQ(0, pc.fake.physAccesses);
        EXPECT_EQ(0x00000E00u, pc.fake.phys[kStraps.request.addressLow]);
    }
}

TEST(VxdMapping, TheStrapsAreMappedOncePerLoad) {
    StrapsPc pc;
    LoadedVxd vxd(*pc.fake.bus());
    VxdPhysDwordRequest out;
    for (uint32_t code : {VXD_PHYS_READ_DWORD, VXD_PHYS_WRITE_DWORD, VXD_PHYS_READ_DWORD})
        ASSERT_EQ(0u, vxd.send(code, strapsRequest(), &out));
    EXPECT_EQ(1u, vxd.host().mappings().size());
    EXPECT_EQ(3, pc.fake.physAccesses);
}

} // namespace
