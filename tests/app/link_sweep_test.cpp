// Every profile in machines/, and each chipset erratum on a profile with that bridge: every
// choice the main dialog offers, reached in every order of rate, sideband and fast writes,
// through Apply, OK and the log-on run. After each, the simulated link has recorded no fault,
// both ends run the same modes, and the stored settings hold only modes in force.
#include "program_fixture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "agpcfg/agpcfg.h"
#include "sim/ui.h"

namespace apptest {
namespace {

constexpr int kRateCombo = 1002, kSidebandBox = 1003, kFastWriteBox = 1004, kRunBox = 1005;
constexpr int kApply = 1007;
constexpr uint32_t kLinkModes = AGP_RATE_MASK | AGP_FAST_WRITE | AGP_SIDEBAND;

struct SweepCase {
    std::string name;
    std::string profile;
};

void PrintTo(const SweepCase& value, std::ostream* out) {
    *out << value.name;
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A base profile whose host bridge, at 00:00.0, becomes the erratum's chipset.
SweepCase quirkCase(const AgpQuirk& quirk) {
    const char* base = quirk.graphicsVendor == 0x10DE ? "default" : "ati";
    sim::Profile profile;
    std::string error;
    sim::parseProfile(readText(sim::machinesDir() + "/" + base + ".lspci"), base, &profile, &error);
    for (sim::PciFunctionImage& f : profile.functions) {
        if (f.bus == 0 && f.device == 0 && f.function == 0) {
            f.config[0] = static_cast<uint8_t>(quirk.bridgeVendor);
            f.config[1] = static_cast<uint8_t>(quirk.bridgeVendor >> 8);
            f.config[2] = static_cast<uint8_t>(quirk.bridgeDevice);
            f.config[3] = static_cast<uint8_t>(quirk.bridgeDevice >> 8);
            f.config[8] = quirk.lastRevision;
        }
    }
    char name[40];
    std::snprintf(name, sizeof name, "quirk_%04x_%04x_rev%02x", quirk.bridgeVendor,
                  quirk.bridgeDevice, quirk.lastRevision);
    return {name, sim::formatProfile(profile)};
}

std::vector<SweepCase> sweepCases() {
    std::vector<SweepCase> cases;
    for (const auto& entry : std::filesystem::directory_iterator(sim::machinesDir())) {
        if (entry.path().extension() != ".lspci")
            continue;
        std::string name = entry.path().stem().string();
        std::replace(name.begin(), name.end(), '-', '_');
        cases.push_back({name, readText(entry.path().string())});
    }
    std::sort(cases.begin(), cases.end(),
              [](const SweepCase& a, const SweepCase& b) { return a.name < b.name; });
    int count = 0;
    const AgpQuirk* quirks = agpQuirks(&count);
    for (int i = 0; i < count; ++i)
        cases.push_back(quirkCase(quirks[i]));
    return cases;
}

// One state of the three controls: a rate text, and the check of each box (-1: disabled).
struct Choice {
    std::string rate;
    int sideband;
    int fastWrite;
};

std::string describe(const Choice& c) {
    return c.rate + " sideband " + std::to_string(c.sideband) + " fast writes " +
           std::to_string(c.fastWrite);
}

sim::ControlInfo controlOf(int id) {
    sim::ControlInfo info;
    EXPECT_TRUE(sim::ui().findControl(sim::ui().topDialog(), id, &info)) << id;
    return info;
}

// Every combination the dialog offers: its rate items times the states of the enabled boxes.
std::vector<Choice> offeredChoices() {
    std::vector<Choice> choices;
    sim::ControlInfo combo = controlOf(kRateCombo);
    std::vector<int> sideband = {-1}, fastWrite = {-1};
    if (controlOf(kSidebandBox).enabled)
        sideband = {0, 1};
    if (controlOf(kFastWriteBox).enabled)
        fastWrite = {0, 1};
    for (const std::string& rate : combo.enabled ? combo.items : std::vector<std::string>{""})
        for (int s : sideband)
            for (int f : fastWrite)
                choices.push_back({rate, s, f});
    return choices;
}

// Sets one control of the choice: 0 the rate, 1 sideband, 2 fast writes.
void setControl(const Choice& c, int which) {
    sim::UiResult done;
    if (which == 0 && !c.rate.empty())
        done = sim::ui().select(kRateCombo, c.rate);
    if (which == 1 && c.sideband >= 0)
        done = sim::ui().check(kSidebandBox, c.sideband);
    if (which == 2 && c.fastWrite >= 0)
        done = sim::ui().check(kFastWriteBox, c.fastWrite);
    EXPECT_TRUE(done.ok) << describe(c) << ": control " << which;
}

class LinkSweep : public ProgramTest, public testing::WithParamInterface<SweepCase> {
  protected:
    void SetUp() override {
        boot(GetParam().profile, true);
        for (const sim::PciFunctionImage& f : sim::machine().functions()) {
            if (!sim::machine().agpCapability(f.bus, f.device, f.function))
                continue;
            uint32_t classCode = f.config[0x0B] << 16 | f.config[0x0A] << 8 | f.config[0x09];
            Function* end = classCode == PCI_CLASS_HOST_BRIDGE ? &m_bridge
                            : classCode == PCI_CLASS_VGA       ? &m_graphics
                                                               : nullptr;
            if (end && end->bus < 0)
                *end = {f.bus, f.device, f.function};
        }
    }

    // No fault on the link, both ends in the same modes, and a stored word that names only the
    // modes the card runs.
    void expectSound(const std::string& when) {
        SCOPED_TRACE(when);
        std::string faults;
        for (const std::string& fault : sim::machine().linkFaults())
            faults += fault + "; ";
        EXPECT_EQ("", faults);
        if (m_bridge.bus < 0 || m_graphics.bus < 0)
            return;
        uint32_t bridge = command(m_bridge), graphics = command(m_graphics);
        EXPECT_EQ(bridge & kLinkModes, graphics & kLinkModes)
            << std::hex << "bridge 0x" << bridge << ", card 0x" << graphics;
        DWORD word = 0;
        if (!settingsValue(&word))
            return;
        int rate = (word >> 5) & 7, sideband = (word >> 3) & 3, fastWrite = (word >> 1) & 3;
        EXPECT_EQ(graphics & AGP_RATE_MASK, static_cast<uint32_t>(rate)) << word;
        if (sideband != AGP_MODE_UNSUPPORTED) {
            EXPECT_EQ((graphics & AGP_SIDEBAND) != 0, sideband == AGP_MODE_ON) << word;
        }
        if (fastWrite != AGP_MODE_UNSUPPORTED) {
            EXPECT_EQ((graphics & AGP_FAST_WRITE) != 0, fastWrite == AGP_MODE_ON) << word;
        }
    }

    Function m_bridge = {-1, 0, 0};
    Function m_graphics = {-1, 0, 0};
};

TEST_P(LinkSweep, EveryChoiceInEveryOrderLeavesASoundLink) {
    const int orders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    std::vector<Choice> choices;
    // Apply after each single change, in every order, from wherever the last choice left it.
    sim::ui().queueStep([&] {
        choices = offeredChoices();
        for (const Choice& c : choices)
            for (const auto& order : orders)
                for (int which : order) {
                    setControl(c, which);
                    ASSERT_TRUE(sim::ui().click(kApply).ok);
                    expectSound("Apply towards " + describe(c));
                }
        ASSERT_TRUE(sim::ui().click(IDCANCEL).ok);
    });
    run();
    expectSound("after the Apply runs");
    if (choices.empty()) {
        sim::ui().clearPending(); // no usable link: the dialog did not open
        return;
    }
    sim::Profile original = sim::machine().profile();

    // OK with the choice and the log-on entry, then a restart and the log-on run.
    for (const Choice& c : choices) {
        sim::ui().queueStep([&] {
            for (int which : {0, 1, 2})
                setControl(c, which);
            ASSERT_TRUE(sim::ui().check(kRunBox, 1).ok);
            ASSERT_TRUE(sim::ui().click(IDOK).ok);
        });
        run();
        expectSound("OK with " + describe(c));
        sim::machine().load(original);
        run("-startup");
        expectSound("log-on run after " + describe(c));
    }
}

INSTANTIATE_TEST_SUITE_P(MachinesAndErrata, LinkSweep, testing::ValuesIn(sweepCases()),
                         [](const testing::TestParamInfo<SweepCase>& info) {
                             return info.param.name;
                         });

} // namespace
} // namespace apptest
