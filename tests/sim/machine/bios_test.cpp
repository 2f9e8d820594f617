// The PCI BIOS of the Windows 9x machine: the five functions, register rules, faults, and NT.
#include <gtest/gtest.h>

#include "sim/boot.h"
#include "sim/pci_bios.h"
#include "sim/machine.h"

namespace {

// ninex.lspci: KT133 host bridge 00:00.0 (AGP at 0xA0), GeForce 256 at 01:00.0 (AGP at 0x44).
const DWORD kCard = 0x0100;

PciBiosRegs regs(DWORD ax, DWORD bx = 0, DWORD ecx = 0, DWORD si = 0, DWORD di = 0) {
    PciBiosRegs r;
    r.eax = ax;
    r.ebx = bx;
    r.ecx = ecx;
    r.edx = 0xdeadbeef;
    r.esi = si;
    r.edi = di;
    return r;
}

sim::TestPc bootNinexWith(const std::string& directives) {
    sim::Profile profile;
    std::string error;
    EXPECT_TRUE(sim::loadProfileFile(sim::machinesDir() + "/ninex.lspci", &profile, &error))
        << error;
    sim::TestPc pc = sim::bootForTest(directives + sim::formatProfile(profile));
    EXPECT_TRUE(pc.ok()) << pc.error();
    return pc;
}

TEST(PciBios, PresentAnswersWithTheSignature) {
    sim::TestPc pc = sim::bootMachineForTest("ninex");
    ASSERT_TRUE(pc.ok()) << pc.error();
    PciBiosRegs r = regs(0xB101);
    EXPECT_TRUE(callPciBios(&r));
    EXPECT_EQ(0x20494350u, r.edx);
    EXPECT_EQ(1u, r.ecx & 0xFF) << "last bus";
    ASSERT_EQ(1u, sim::machine().traceOf(sim::TraceKind::BiosCall).size());
    const sim::TraceEntry& call = sim::machine().trace()[0];
    EXPECT_EQ(0xB101u, call.biosIn.eax);
    EXPECT_FALSE(call.carry);
}

TEST(PciBios, FindClassWalksTheMatchesByIndex) {
    sim::TestPc pc = sim::bootMachineForTest("pci-display");
    ASSERT_TRUE(pc.ok()) << pc.error();
    // pci-display is an NT machine; the BIOS answers only on Windows 9x.
    PciBiosRegs r = regs(0xB103, 0xdead, 0x030000, 0);
    EXPECT_FALSE(callPciBios(&r));

    sim::Profile profile = sim::machine().profile();
    profile.directives.clear();
    sim::Directive ninex;
    ninex.name = "windows";
    ninex.args = {"9x"};
    profile.directives.push_back(ninex);
    sim::TestPc nine = sim::bootProfileForTest(profile);
    r = regs(0xB103, 0xdead, 0x030000, 0);
    ASSERT_TRUE(callPciBios(&r));
    EXPECT_EQ(0x0050u, r.ebx & 0xFFFF) << "00:0a.0, the PCI card";
    r = regs(0xB103, 0xdead, 0x030000, 1);
    ASSERT_TRUE(callPciBios(&r));
    EXPECT_EQ(0x0100u, r.ebx & 0xFFFF) << "01:00.0, the AGP card";
    r = regs(0xB103, 0xdead, 0x030000, 2);
    EXPECT_FALSE(callPciBios(&r));
    EXPECT_EQ(0xdeadu, r.ebx & 0xFFFF) << "BX written without a match";
    r = regs(0xB103, 0, 0x060000, 0x10000); // only SI, the low 16 bits, is the index
    ASSERT_TRUE(callPciBios(&r));
    EXPECT_EQ(0x0000u, r.ebx & 0xFFFF);
}

TEST(PciBios, FindClassSkipsFunctionsOfSingleFunctionDevices) {
    // 00:05.1 is listed but 00:05.0 does not declare itself multi-function; 00:07.2 is listed
    // under a multi-function 00:07.0.
    std::string rows = "00: 86 80 00 11 00 00 00 00 00 00 03 0c 00 00 00 00\n";
    std::string multi = "00: 86 80 00 11 00 00 00 00 00 00 01 06 00 00 80 00\n";
    sim::TestPc pc = sim::bootForTest("#! windows 9x\n00:05.0 a\n" + rows + "00:05.1 b\n" + rows +
                                      "00:07.0 c\n" + multi + "00:07.2 d\n" + rows);
    ASSERT_TRUE(pc.ok()) << pc.error();
    PciBiosRegs r = regs(0xB103, 0, 0x0C0300, 0);
    ASSERT_TRUE(callPciBios(&r));
    EXPECT_EQ(0x0028u, r.ebx & 0xFFFF) << "00:05.0";
    r = regs(0xB103, 0, 0x0C0300, 1);
    ASSERT_TRUE(callPciBios(&r));
    EXPECT_EQ(0x003Au, r.ebx & 0xFFFF) << "00:07.2";
    r = regs(0xB103, 0, 0x0C0300, 2);
    EXPECT_FALSE(callPciBios(&r));
}

TEST(PciBios, ReadsAndWritesConfigurationRegisters) {
    sim::TestPc pc = sim::bootMachineForTest("ninex");
    PciBiosRegs r = regs(0xB108, kCard, 0xAABBCCDD, 0, 0x0B);
    ASSERT_TRUE(callPciBios(&r));
    EXPECT_EQ(0xAABBCC03u, r.ecx) << "only CL carries the byte";

    r = regs(0xB10A, kCard, 0, 0, 0x00);
    ASSERT_TRUE(callPciBios(&r));
    EXPECT_EQ(0x010010DEu, r.ecx);

    r = regs(0xB10D, kCard, 0x1F000104, 0, 0x4C);
    ASSERT_TRUE(callPciBios(&r));
    EXPECT_EQ(0x1F000104u, sim::machine().configDword(1, 0, 0, 0x4C));
    // Read-only registers drop the write but the call succeeds, as on the real bus.
    r = regs(0xB10D, kCard, 0, 0, 0x10);
    ASSERT_TRUE(callPciBios(&r));
    EXPECT_EQ(0xE4000000u, sim::machine().configDword(1, 0, 0, 0x10));

    // An absent function reads all ones.
    r = regs(0xB10A, 0x0108, 0, 0, 0x00);
    ASSERT_TRUE(callPciBios(&r));
    EXPECT_EQ(0xFFFFFFFFu, r.ecx);
}

TEST(PciBios, BadRegistersAndUnknownFunctionsSetTheCarry) {
    sim::TestPc pc = sim::bootMachineForTest("ninex");
    const PciBiosRegs refused[] = {
        regs(0xB108, kCard, 0, 0, 0x100), regs(0xB10A, kCard, 0, 0, 0x4A),
        regs(0xB10A, kCard, 0, 0, 0x100), regs(0xB10D, kCard, 0, 0, 0x4D),
        regs(0xB109, kCard, 0, 0, 0x00),  regs(0xB001, 0, 0, 0, 0),
    };
    for (PciBiosRegs r : refused) {
        SCOPED_TRACE(testing::Message() << std::hex << "ax " << r.eax << " di " << r.edi);
        EXPECT_FALSE(callPciBios(&r));
        EXPECT_EQ(0xFFFFFFFFu, r.eax) << "EAX holds the carry";
    }
    EXPECT_EQ(0x1F000102u, sim::machine().configDword(1, 0, 0, 0x4C));
}

TEST(PciBios, FaultsFromTheProfile) {
    sim::TestPc pc = bootNinexWith("#! bios-fail B108 0x80\n#! bios-fail B103 1\n");
    PciBiosRegs r = regs(0xB108, kCard, 0x77, 0, 0x80);
    EXPECT_FALSE(callPciBios(&r));
    EXPECT_EQ(0x77u, r.ecx) << "a failed read returns nothing";
    r = regs(0xB108, kCard, 0, 0, 0x81);
    EXPECT_TRUE(callPciBios(&r));
    r = regs(0xB103, 0, 0x060000, 0);
    EXPECT_TRUE(callPciBios(&r));
    r = regs(0xB103, 0, 0x060000, 1);
    EXPECT_FALSE(callPciBios(&r));

    sim::TestPc always = bootNinexWith("#! bios-fail B10D\n");
    r = regs(0xB10D, kCard, 0x1F000104, 0, 0x4C);
    EXPECT_FALSE(callPciBios(&r));
    EXPECT_EQ(0x1F000102u, sim::machine().configDword(1, 0, 0, 0x4C)) << "the write went through";

    sim::TestPc odd = bootNinexWith("#! bios-signature 0x20494351\n");
    r = regs(0xB101);
    EXPECT_TRUE(callPciBios(&r));
    EXPECT_EQ(0x20494351u, r.edx);

    sim::TestPc none = bootNinexWith("#! no-pci-bios\n");
    r = regs(0xB101);
    EXPECT_FALSE(callPciBios(&r));
    EXPECT_EQ(0xdeadbeefu, r.edx);
}

TEST(PciBios, NtAnswersNothing) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    for (DWORD ax : {0xB101u, 0xB103u, 0xB108u, 0xB10Au, 0xB10Du}) {
        PciBiosRegs r = regs(ax, 0x0100, 0x030000, 0, 0x4C);
        EXPECT_FALSE(callPciBios(&r)) << std::hex << ax;
    }
    EXPECT_EQ(0x1F000102u, sim::machine().configDword(1, 0, 0, 0x4C));
    EXPECT_EQ(5u, sim::machine().traceOf(sim::TraceKind::BiosCall).size());
}

} // namespace
