// The Wine suite's environment and its entry point: a fresh 32-bit prefix with Wine's null
// graphics driver, made once per run and removed afterwards.
#include "wine_env.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>

namespace wine {
namespace {

Environment environment;
bool prefixTried = false;
std::string prefixError;

bool fileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool run(const std::string& command) {
    int status = 0;
    host(command + " >/dev/null 2>&1", &status);
    return status == 0;
}

// Makes the prefix. The graphics driver is chosen before the prefix's wineserver starts for
// real work: wineboot, set the key, stop everything, then keep one server for the whole run.
std::string makePrefix() {
    char dir[] = "/tmp/tavrol-wine-XXXXXX";
    if (!mkdtemp(dir))
        return "cannot make a temporary folder for the prefix";
    environment.prefix = dir;
    setenv("WINEPREFIX", dir, 1);
    setenv("WINEARCH", "win32", 1);
    setenv("WINEDEBUG", "-all", 1);
    // No Mono and no Gecko: nothing here needs them, and their installers would ask.
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    if (!run("timeout 300 wineboot -i") || !run("timeout 120 wineserver -w"))
        return "wineboot could not make the prefix " + environment.prefix;
    if (!run("timeout 60 wine reg add 'HKCU\\Software\\Wine\\Drivers' /v Graphics /d null /f"))
        return "cannot select the null graphics driver";
    run("wineserver -k");
    run("timeout 60 wineserver -w");
    // Kept between the helper's runs, but gone 30 s after the last one even if the suite dies.
    if (!run("wineserver -p30"))
        return "cannot start a persistent wineserver";
    return "";
}

class SuiteEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        const char* build = getenv("TAVROL_WIN_BUILD");
        environment.winBuild = build && *build ? build : TAVROL_SOURCE_DIR "/build/windows-i686";
        if (!run("command -v wine && command -v wineboot && command -v wineserver")) {
            environment.skipReason = "Wine is not installed (run scripts/wine-setup.sh)";
            return;
        }
        if (winFile("wine/tavrol-driver.exe").empty()) {
            environment.skipReason = "no Windows build in " + environment.winBuild +
                                     " (build the windows-i686 preset first)";
            return;
        }
    }

    void TearDown() override {
        if (environment.prefix.empty())
            return;
        run("wineserver -k");
        run("timeout 60 wineserver -w");
        if (!getenv("TAVROL_KEEP_PREFIX"))
            run("rm -rf " + quote(environment.prefix));
    }
};

} // namespace

const Environment& env() {
    return environment;
}

std::string ensurePrefix() {
    if (!prefixTried) {
        prefixTried = true;
        prefixError = makePrefix();
    }
    return prefixError;
}

std::string host(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return output;
    }
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    const int result = pclose(pipe);
    if (status)
        *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return output;
}

std::string winFile(const std::string& relative) {
    const std::string path = environment.winBuild + "/" + relative;
    return fileExists(path) ? path : "";
}

std::string makeProgramFolder(const std::string& name,
                              const std::map<std::string, std::string>& files) {
    const std::string folder = environment.prefix + "/drive_c/" + name;
    run("rm -rf " + quote(folder));
    run("mkdir -p " + quote(folder));
    for (const auto& file : files) {
        if (!run("cp " + quote(file.first) + " " + quote(folder + "/" + file.second)))
            ADD_FAILURE() << "cannot copy " << file.first << " to " << folder;
    }
    return "C:\\" + name;
}

std::string Output::operator[](const std::string& key) const {
    for (const auto& line : lines)
        if (line.first == key)
            return line.second;
    return "<missing " + key + ">";
}

std::vector<std::string> Output::all(const std::string& key) const {
    std::vector<std::string> values;
    for (const auto& line : lines)
        if (line.first == key)
            values.push_back(line.second);
    return values;
}

bool Output::has(const std::string& key) const {
    for (const auto& line : lines)
        if (line.first == key)
            return true;
    return false;
}

Output helper(const std::vector<std::string>& args) {
    std::string command = "cd " + quote(environment.prefix + "/drive_c") + " && timeout 120 wine " +
                          quote(winFile("wine/tavrol-driver.exe"));
    for (const std::string& arg : args)
        command += " " + quote(arg);
    Output output;
    output.text = host(command + " 2>/dev/null", &output.exitCode);
    size_t start = 0;
    while (start < output.text.size()) {
        size_t end = output.text.find('\n', start);
        if (end == std::string::npos)
            end = output.text.size();
        std::string line = output.text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            output.lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        start = end + 1;
    }
    return output;
}

std::vector<RequestResult> requests(const std::vector<std::string>& specs) {
    std::vector<std::string> args = {"requests"};
    args.insert(args.end(), specs.begin(), specs.end());
    const Output output = helper(args);
    std::vector<RequestResult> results;
    for (const std::string& value : output.all("request")) {
        RequestResult result;
        char out[4096] = "", tail[16] = "";
        int index = 0, ok = 0;
        if (sscanf(value.c_str(), "%d open-error=%lu", &index, &result.openError) == 2) {
            results.push_back(result);
            continue;
        }
        result.opened = true;
        if (sscanf(value.c_str(), "%d ok=%d error=%lu bytes=%lu out=%4095s tail=%15s", &index, &ok,
                   &result.error, &result.bytes, out, tail) < 4)
            ADD_FAILURE() << "unreadable request line: " << value;
        // An empty output buffer prints "out= tail=...".
        if (std::string(out).rfind("tail=", 0) == 0) {
            sscanf(out, "tail=%15s", tail);
            out[0] = 0;
        }
        result.ok = ok != 0;
        result.out = out;
        result.tail = tail;
        results.push_back(result);
    }
    if (results.size() != specs.size())
        ADD_FAILURE() << "expected " << specs.size() << " request results, got:\n" << output.text;
    results.resize(specs.size());
    return results;
}

std::string serviceState() {
    return helper({"service-query"})["service"];
}

void removeService() {
    helper({"service-remove"});
}

void deleteKey(const std::string& path) {
    helper({"reg-delete", path});
}

std::string hexDwords(const std::vector<unsigned>& words) {
    std::string text;
    char byte[3];
    for (unsigned word : words)
        for (int i = 0; i < 4; ++i) {
            snprintf(byte, sizeof byte, "%02x", (word >> (8 * i)) & 0xff);
            text += byte;
        }
    return text;
}

unsigned dwordAt(const std::string& hex, size_t byteOffset) {
    if (hex.size() < 2 * (byteOffset + 4))
        return 0xdeadbeef;
    unsigned value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | std::stoul(hex.substr(2 * (byteOffset + i), 2), nullptr, 16);
    return value;
}

} // namespace wine

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new wine::SuiteEnvironment);
    return RUN_ALL_TESTS();
}
