// The Wine suite's environment: per flavor one fresh Wine prefix and one Windows build tree, and
// tavrol-driver.exe run inside Wine with its "key=value" observations parsed.
//
// A case is written once and runs once per flavor (i686 in a 32-bit prefix, x86_64 in a 64-bit
// one): its fixture derives from wine::FlavorTest (cases that run programs) or
// wine::FlavorImageTest (cases that only read the built files), its cases are TEST_P, and
// WINE_FLAVORS(Fixture) after them instantiates the fixture for each flavor. Every function below
// acts on the flavor of the case that is running.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "flavors.h"
#include "host.h"

namespace wine {

// What one run of tavrol-driver.exe printed, in order.
struct Output {
    int exitCode = -1;
    std::vector<std::pair<std::string, std::string>> lines;
    std::string text; // everything, for failure messages

    // The first value of a key, or "<missing KEY>" so that a comparison fails readably.
    std::string operator[](const std::string& key) const;
    std::vector<std::string> all(const std::string& key) const;
    bool has(const std::string& key) const;
};

// One line of "requests": request=N ok=.. error=.. bytes=.. out=HEX tail=HEX, or open-error=N.
struct RequestResult {
    bool opened = false;
    unsigned long openError = 0;
    bool ok = false;
    unsigned long error = 0;
    unsigned long bytes = 0;
    std::string out;  // hex of the output buffer
    std::string tail; // hex of the four sentinel bytes past it
};

// The running flavor's side of the host, set up before any case runs.
struct Environment {
    std::string skipReason; // why its program and driver cases do not run here; "" when they do
    std::string winBuild;   // its Windows build tree, build/windows-FLAVOR
    std::string prefix;     // its WINEPREFIX, once made
};
const Environment& env();
const Flavor& flavor();
// Why the named flavor's program cases do not run here; "" when they do.
std::string skipReasonOf(const std::string& name);

// Makes the flavor the running one.
void useFlavor(const std::string& name);
// For SetUpTestSuite and TearDownTestSuite, which have no parameter: makes the flavor of the
// running test suite (named FLAVOR/Fixture) the running one. Returns "" when its program cases
// can run and its prefix is ready, else why not.
std::string useSuiteFlavor();

// Makes the running flavor's prefix on first use; "" when it is ready, else why it could not be
// made.
std::string ensurePrefix();

// Skips the calling case when its flavor does not run here, and fails it when the prefix cannot
// be made (a missing Windows build included). For the SetUp of a FlavorTest fixture.
#define WINE_SUITE_REQUIRED()                                                                      \
    do {                                                                                           \
        wine::useFlavor(GetParam());                                                               \
        if (!wine::env().skipReason.empty())                                                       \
            GTEST_SKIP() << wine::env().skipReason;                                                \
        const std::string prefixError = wine::ensurePrefix();                                      \
        ASSERT_TRUE(prefixError.empty()) << "Wine prefix set-up failed: " << prefixError;          \
    } while (0)

// Base of the fixtures whose cases run Windows programs under Wine. A fixture with its own SetUp
// starts it with WINE_SUITE_REQUIRED().
class FlavorTest : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { WINE_SUITE_REQUIRED(); }
};

// Base of the fixtures whose cases read the built images only: they run for every flavor on
// every host.
class FlavorImageTest : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { useFlavor(GetParam()); }
};

// Runs every case of the fixture once per flavor, as FLAVOR/Fixture.Case/0, one flavor after
// the other.
#define WINE_FLAVORS(fixture)                                                                      \
    INSTANTIATE_TEST_SUITE_P(i686, fixture, testing::Values(std::string("i686")));                 \
    INSTANTIATE_TEST_SUITE_P(x86_64, fixture, testing::Values(std::string("x86_64")))

// Files of the running flavor's Windows build, by path below the build tree; "" when missing.
std::string winFile(const std::string& relative);

// A folder C:\NAME in the prefix holding the given files (source path -> name in the folder).
// Returns its Windows path; an existing folder of that name is replaced.
std::string makeProgramFolder(const std::string& name,
                              const std::map<std::string, std::string>& files);

// A shell command that runs `program` (a Windows program and its arguments, quoted for the shell)
// with the running flavor's loader inside its prefix.
std::string wineCommand(const std::string& program);

// Runs tavrol-driver.exe with the arguments inside the prefix.
Output helper(const std::vector<std::string>& args);
std::vector<RequestResult> requests(const std::vector<std::string>& specs);

// The Windows version Wine reports to the program of that file name ("winxp", "win7"), as winecfg
// sets it; "" takes the setting away. False when it could not be changed.
bool setProgramWindowsVersion(const std::string& exe, const std::string& version);

// The log-on task as the program registers it on Windows Vista and 7, running `exe` -startup,
// for the cases that need one there: Wine's Task Scheduler has no log-on triggers, so the
// program's own registration fails under Wine.
std::string logonTaskXml(const std::string& exe);

// Registry and service helpers over tavrol-driver.exe.
std::string serviceState();
void removeService();
void deleteKey(const std::string& path);

// Little-endian hex of dwords, for request inputs.
std::string hexDwords(const std::vector<unsigned>& words);
unsigned dwordAt(const std::string& hex, size_t byteOffset);

} // namespace wine
