// The Wine suite's flavors and the choice of those that run here.
#include "flavors.h"

#include <sstream>

#include "host.h"

namespace wine {

const std::vector<Flavor>& flavors() {
    static const std::vector<Flavor> all = {
        {"i686", "win32", "i686-w64-mingw32", "010b", "4.0", "X86", "DriverEntry@8", "win32",
         "win32-imports.txt", true, false},
        {"x86_64", "win64", "x86_64-w64-mingw32", "020b", "5.2", "amd64", "DriverEntry", "win64",
         "win32-imports.txt win64-imports.txt", false, true},
    };
    return all;
}

const Flavor* findFlavor(const std::string& name) {
    for (const Flavor& flavor : flavors())
        if (name == flavor.name)
            return &flavor;
    return nullptr;
}

I686Probe probeI686(const std::string& machine) {
    I686Probe probe;
    std::string line = host("bash " + quote(TAVROL_SOURCE_DIR "/scripts/wine-flavor.sh") +
                                " runs-i686 " + quote(machine.empty() ? "3" : machine) + " 2>&1",
                            &probe.status);
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    probe.reason = line;
    if (probe.status != 0 && probe.reason.empty())
        probe.reason = "scripts/wine-flavor.sh failed with status " + std::to_string(probe.status);
    return probe;
}

namespace {

std::vector<std::string> requestedNames(const std::string& requested) {
    std::string spaced = requested;
    for (char& c : spaced)
        if (c == ',')
            c = ' ';
    std::istringstream words(spaced);
    std::vector<std::string> names;
    for (std::string name; words >> name;)
        names.push_back(name);
    return names;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& candidate : names)
        if (candidate == name)
            return true;
    return false;
}

} // namespace

FlavorPlan planFlavors(const HostFacts& host) {
    FlavorPlan plan;
    const std::vector<std::string> requested = requestedNames(host.requested);
    for (const std::string& name : requested)
        if (!findFlavor(name))
            plan.error += "TAVROL_WINE_FLAVORS names no flavor \"" + name +
                          "\" (the flavors are i686 and x86_64). ";
    for (const Flavor& flavor : flavors()) {
        const std::string name = flavor.name;
        if (!requested.empty() && !contains(requested, name)) {
            plan.notRun.emplace_back(name, "left out by TAVROL_WINE_FLAVORS=" + host.requested);
        } else if (!host.noWine.empty()) {
            plan.notRun.emplace_back(name, host.noWine);
        } else if (name == "i686" && host.i686.status != 0) {
            plan.notRun.emplace_back(name, host.i686.reason);
            // Where the kernel did not plainly refuse, the main product may well be runnable.
            if (host.i686.status != 1)
                plan.error +=
                    "cannot tell whether this host runs i686 programs: " + host.i686.reason + ". ";
        } else {
            plan.run.push_back(name);
        }
    }
    if (plan.run.empty())
        plan.error += "no flavor ran its program and driver cases: a skipped Wine suite is not a "
                      "pass. ";
    if (!plan.error.empty())
        plan.error.pop_back();
    return plan;
}

std::string FlavorPlan::line() const {
    std::string text = "Wine flavors: ran ";
    if (run.empty())
        text += "none";
    for (size_t i = 0; i < run.size(); ++i)
        text += (i == 0 ? "" : " and ") + run[i];
    for (const auto& left : notRun)
        text += "; not " + left.first + ", because " + left.second;
    return text;
}

} // namespace wine
