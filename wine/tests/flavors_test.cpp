// Which flavors the Wine suite runs on which host, and how it finds out that a host's kernel runs
// no 32-bit programs.
#include <gtest/gtest.h>

#include "flavors.h"
#include "host.h"

namespace {

const std::string kRefused = "this kernel does not execute 32-bit x86 programs (Exec format error)";
const std::string kNoWine = "Wine is not installed (run scripts/wine-setup.sh)";

struct PlanCase {
    const char* what;
    std::string requested;
    std::string noWine;
    int i686Status;
    std::vector<std::string> run;
    std::string line;
    std::string error; // a part of the error, "" when there must be none
};

void PrintTo(const PlanCase& plan, std::ostream* out) {
    *out << plan.what;
}

class FlavorChoice : public testing::TestWithParam<PlanCase> {};

TEST_P(FlavorChoice, RunsWhatTheHostCanAndSaysWhyNotTheRest) {
    const PlanCase& c = GetParam();
    wine::HostFacts host;
    host.requested = c.requested;
    host.noWine = c.noWine;
    host.i686.status = c.i686Status;
    host.i686.reason = c.i686Status == 1 ? kRefused : c.i686Status == 2 ? "probe broke" : "";
    const wine::FlavorPlan plan = wine::planFlavors(host);
    EXPECT_EQ(c.run, plan.run);
    EXPECT_EQ(c.line, plan.line());
    if (c.error.empty())
        EXPECT_EQ("", plan.error);
    else
        EXPECT_NE(std::string::npos, plan.error.find(c.error)) << plan.error;
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, FlavorChoice,
    testing::Values(
        PlanCase{"both", "", "", 0, {"i686", "x86_64"}, "Wine flavors: ran i686 and x86_64", ""},
        PlanCase{"no 32-bit programs",
                 "",
                 "",
                 1,
                 {"x86_64"},
                 "Wine flavors: ran x86_64; not i686, because " + kRefused,
                 ""},
        PlanCase{"restricted like such a host",
                 "x86_64",
                 "",
                 0,
                 {"x86_64"},
                 "Wine flavors: ran x86_64; not i686, because left out by "
                 "TAVROL_WINE_FLAVORS=x86_64",
                 ""},
        PlanCase{"both named",
                 "i686, x86_64",
                 "",
                 0,
                 {"i686", "x86_64"},
                 "Wine flavors: ran i686 and x86_64",
                 ""},
        PlanCase{"only i686 asked where it cannot run",
                 "i686",
                 "",
                 1,
                 {},
                 "Wine flavors: ran none; not i686, because " + kRefused +
                     "; not x86_64, because left out by TAVROL_WINE_FLAVORS=i686",
                 "a skipped Wine suite is not a pass"},
        PlanCase{"no Wine",
                 "",
                 kNoWine,
                 0,
                 {},
                 "Wine flavors: ran none; not i686, because " + kNoWine + "; not x86_64, because " +
                     kNoWine,
                 "no flavor ran"},
        PlanCase{"a name that is no flavor",
                 "x64",
                 "",
                 0,
                 {},
                 "Wine flavors: ran none; not i686, because left out by TAVROL_WINE_FLAVORS=x64; "
                 "not x86_64, because left out by TAVROL_WINE_FLAVORS=x64",
                 "names no flavor \"x64\""},
        PlanCase{"a probe that cannot tell",
                 "",
                 "",
                 2,
                 {"x86_64"},
                 "Wine flavors: ran x86_64; not i686, because probe broke",
                 "cannot tell whether this host runs i686 programs: probe broke"}));

// The probe runs a real program: on this host its answer must agree with the kernel's answer for
// the 32-bit dynamic loader, where that is installed.
TEST(I686Probe, AgreesWithTheKernelAboutThe32BitLoader) {
    int status = -1;
    const std::string loader = wine::host("/lib/ld-linux.so.2 --version 2>&1", &status);
    const wine::I686Probe probe = wine::probeI686();
    if (status == 0) {
        EXPECT_EQ(0, probe.status) << probe.reason;
        EXPECT_EQ("", probe.reason);
    } else if (loader.find("Exec format error") != std::string::npos) {
        EXPECT_EQ(1, probe.status);
        EXPECT_EQ(kRefused, probe.reason);
    } else {
        GTEST_SKIP() << "no 32-bit loader to compare with: " << loader;
    }
}

// A program the kernel refuses to execute (here one that claims no machine at all, which no
// kernel runs) reads exactly as a kernel without 32-bit support reads an i386 one.
TEST(I686Probe, ReportsAProgramTheKernelRefusesAsAHostWithout32BitPrograms) {
    const wine::I686Probe probe = wine::probeI686("0");
    EXPECT_EQ(1, probe.status);
    EXPECT_EQ(kRefused, probe.reason);
}

} // namespace
