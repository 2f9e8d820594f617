// The Wine suite's Windows flavors, and which of them this host runs. i686 is the main product
// (Windows 98 SE to 7) in a 32-bit prefix; x86_64 is the release for 64-bit Windows in a 64-bit
// prefix. Every host runs x86_64; i686 needs a kernel that executes 32-bit x86 programs.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace wine {

// What is fixed about a flavor: its build tree, its images and its prefix.
struct Flavor {
    const char* name;         // "i686" or "x86_64": the preset and build tree windows-NAME
    const char* wineArch;     // WINEARCH of its prefix
    const char* toolPrefix;   // mingw-w64 binutils that read its images
    const char* peMagic;      // the optional header's magic, as objdump prints it
    const char* osVersion;    // subsystem and OS version of its images, "MAJOR.MINOR"
    const char* manifestArch; // processorArchitecture in Tavrol.exe's manifest
    const char* driverEntry;  // the kernel driver's entry, as the link map names it
    const char* distSuffix;   // dist/tavrolin-VERSION-SUFFIX.zip
    const char*
        importLists;   // the reviewed import lists of Tavrol.exe below tools/, blank-separated
    bool has9x;        // whether Tavrol.exe carries the Windows 9x back end
    bool signedDriver; // whether TAVROL.sys is test-signed
};

// i686 first.
const std::vector<Flavor>& flavors();
const Flavor* findFlavor(const std::string& name);

// What scripts/wine-flavor.sh runs-i686 answered: 0 the kernel runs 32-bit x86 programs, 1 it
// refuses them, 2 the probe could not tell; `reason` is its line.
struct I686Probe {
    int status = 2;
    std::string reason;
};
// `machine` is passed on as the ELF machine the probe program claims ("" for i386).
I686Probe probeI686(const std::string& machine = "");

// What decides which flavors run their program and driver cases.
struct HostFacts {
    std::string requested; // TAVROL_WINE_FLAVORS: names separated by commas or blanks; "" all
    std::string noWine;    // why Wine cannot run here; "" when it can
    I686Probe i686;
};

struct FlavorPlan {
    std::vector<std::string> run;                            // in the order of flavors()
    std::vector<std::pair<std::string, std::string>> notRun; // flavor, why
    std::string error; // set when the suite must fail although every case passes

    // The one line the suite prints: which flavors ran, and why the others did not.
    std::string line() const;
};

FlavorPlan planFlavors(const HostFacts& host);

} // namespace wine
