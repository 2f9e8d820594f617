// Machine profiles, as a person hands them to the simulated PC, and the machine built from one:
// whatever a dump says, the machine keeps to the 256 bytes of each function, and a profile saved
// as the state file reads back as the same profile.
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "sim/machine.h"

namespace {

using fuzz::require;

bool sameFunctions(const std::vector<sim::PciFunctionImage>& a,
                   const std::vector<sim::PciFunctionImage>& b, bool withDescriptions) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].bus != b[i].bus || a[i].device != b[i].device || a[i].function != b[i].function ||
            (withDescriptions && a[i].description != b[i].description))
            return false;
    }
    return true;
}

bool sameProfile(const sim::Profile& a, const sim::Profile& b) {
    if (!sameFunctions(a.functions, b.functions, true) ||
        a.directives.size() != b.directives.size())
        return false;
    for (size_t i = 0; i < a.functions.size(); ++i)
        if (std::memcmp(a.functions[i].config, b.functions[i].config, 256) != 0)
            return false;
    for (size_t i = 0; i < a.directives.size(); ++i)
        if (a.directives[i].name != b.directives[i].name ||
            a.directives[i].args != b.directives[i].args)
            return false;
    return true;
}

sim::Profile readBack(const std::string& text, const char* rule) {
    sim::Profile profile;
    std::string error;
    require(sim::parseProfile(text, "hardware.lspci", &profile, &error), rule);
    return profile;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    sim::Profile profile;
    std::string error;
    if (!sim::parseProfile(text, "fuzz.lspci", &profile, &error)) {
        require(error.compare(0, 11, "fuzz.lspci:") == 0, "a refusal names the file");
        return 0;
    }
    std::string saved = sim::formatProfile(profile);
    sim::Profile back = readBack(saved, "a saved profile reads back");
    require(sameProfile(profile, back), "a saved profile reads back unchanged");
    require(sim::formatProfile(back) == saved, "saving a profile again changes nothing");

    sim::Machine machine;
    machine.load(profile);
    for (const sim::PciFunctionImage& f : profile.functions) {
        int cap = machine.agpCapability(f.bus, f.device, f.function);
        require(cap == 0 || (cap >= 0x40 && cap + 12 <= 256),
                "the AGP registers lie inside the configuration space");
        uint8_t config[256];
        require(machine.readConfig(f.bus, f.device, f.function, 0, config, sizeof config),
                "a function of the profile can be read");
        if (cap)
            machine.writeConfigDword(f.bus, f.device, f.function, uint32_t(cap) + 8, 0xFFFFFFFF);
    }
    require(sameFunctions(profile.functions,
                          readBack(machine.lspciText(), "lspci reads back").functions, false),
            "lspci lists every function at its address");
    sim::Profile current = readBack(machine.hardwareText(), "the state file reads back");
    require(sameFunctions(profile.functions, current.functions, true),
            "the state file keeps every function");
    return 0;
}
