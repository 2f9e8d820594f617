// The Wine suite's environment: one fresh Wine prefix per run, the Windows build's files, and
// tavrol-driver.exe run inside Wine with its "key=value" observations parsed.
#pragma once

#include <map>
#include <string>
#include <vector>

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

// Set by the environment before any test runs; empty `skipReason` means the suite can run.
struct Environment {
    std::string skipReason;
    std::string winBuild; // the windows-i686 build tree
    std::string prefix;   // WINEPREFIX of this run
};
const Environment& env();

// Makes the prefix on first use; "" when it is ready, else why it could not be made.
std::string ensurePrefix();

// Skips the calling test when the suite cannot run here (no Wine, no Windows build), and fails it
// when the prefix cannot be made.
#define WINE_SUITE_REQUIRED()                                                                      \
    do {                                                                                           \
        if (!wine::env().skipReason.empty())                                                       \
            GTEST_SKIP() << wine::env().skipReason;                                                \
        const std::string prefixError = wine::ensurePrefix();                                      \
        ASSERT_TRUE(prefixError.empty()) << "Wine prefix set-up failed: " << prefixError;          \
    } while (0)

// Files of the Windows build, by path below the build tree; "" when missing.
std::string winFile(const std::string& relative);

// A folder C:\NAME in the prefix holding the given files (source path -> name in the folder).
// Returns its Windows path; an existing folder of that name is replaced.
std::string makeProgramFolder(const std::string& name,
                              const std::map<std::string, std::string>& files);

// Runs tavrol-driver.exe with the arguments inside the prefix.
Output helper(const std::vector<std::string>& args);
std::vector<RequestResult> requests(const std::vector<std::string>& specs);

// Registry and service helpers over tavrol-driver.exe.
std::string serviceState();
void removeService();
void deleteKey(const std::string& path);

// Little-endian hex of dwords, for request inputs.
std::string hexDwords(const std::vector<unsigned>& words);
unsigned dwordAt(const std::string& hex, size_t byteOffset);

// Runs a shell command on the host; returns its stdout and puts its status in *status.
std::string host(const std::string& command, int* status = nullptr);

} // namespace wine
