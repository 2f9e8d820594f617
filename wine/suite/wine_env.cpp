// The Wine suite's environment and its entry point: per flavor a fresh prefix with Wine's null
// graphics driver, made on first use and removed at the end, and the one line that says which
// flavors ran.
#include "wine_env.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <map>

namespace wine {
namespace {

struct FlavorState {
    Environment environment;
    std::string loader; // the Wine loader that runs the flavor's programs
    bool prefixTried = false;
    std::string prefixError;
};

std::map<std::string, FlavorState> states;
const Flavor* current = &flavors().front();

FlavorState& state() {
    return states[current->name];
}

bool fileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool run(const std::string& command) {
    int status = 0;
    host(command + " >/dev/null 2>&1", &status);
    return status == 0;
}

// The running flavor's Wine settings, to put before a command. Wine's menu builder is off: it
// would make a set-up's Start-menu shortcut an entry of the host's own desktop menus.
std::string wineEnv() {
    return "env WINEPREFIX=" + quote(state().environment.prefix) +
           " WINEARCH=" + current->wineArch + " WINELOADER=" + quote(state().loader) +
           " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d' ";
}

std::string wineserver(const std::string& arguments) {
    return wineEnv() + "wineserver " + arguments;
}

// Makes the prefix. The graphics driver is chosen before the prefix's wineserver starts for
// real work: wineboot, set the key, stop everything, then keep one server for the whole run.
std::string makePrefix() {
    const std::string preset = std::string("windows-") + current->name;
    if (winFile("wine/tavrol-driver.exe").empty() || winFile("wine/TAVROL-vm.sys").empty())
        return "no " + preset + " build in " + env().winBuild + " (build the " + preset +
               " preset first)";
    int status = 0;
    std::string loader = host("bash " + quote(TAVROL_SOURCE_DIR "/scripts/wine-flavor.sh") +
                                  " loader " + current->name + " 2>&1",
                              &status);
    while (!loader.empty() && loader.back() == '\n')
        loader.pop_back();
    if (status != 0)
        return loader;
    state().loader = loader;
    const std::string pattern = std::string("/tmp/tavrol-wine-") + current->name + "-XXXXXX";
    std::vector<char> dir(pattern.begin(), pattern.end());
    dir.push_back('\0');
    if (!mkdtemp(dir.data()))
        return "cannot make a temporary folder for the prefix";
    state().environment.prefix = dir.data();
    if (!run("timeout 300 " + wineCommand("wineboot -i")) ||
        !run("timeout 120 " + wineserver("-w")))
        return "wineboot could not make the prefix " + env().prefix + " with " + loader;
    // On a loaded machine the first registry call into a new prefix can fail; one more try, once
    // the prefix's wineserver has settled, tells a slow machine from a broken prefix.
    const std::string selectNull =
        "timeout 60 " +
        wineCommand("reg add 'HKCU\\Software\\Wine\\Drivers' /v Graphics /d null /f");
    if (!run(selectNull) && !(run("timeout 120 " + wineserver("-w")) && run(selectNull)))
        return "cannot select the null graphics driver";
    run(wineserver("-k"));
    run("timeout 60 " + wineserver("-w"));
    // Kept between the helper's runs, and while the other flavor's cases run (the cases of a
    // fixture run for one flavor, then for the other), but gone three minutes after the last
    // one even if the suite dies.
    if (!run(wineserver("-p180")))
        return "cannot start a persistent wineserver";
    // Wine's device host can refuse the first start of a driver after a fresh prefix; the helper
    // retries, the program (rightly) does not. One driver started and removed here warms it.
    const std::string warm =
        makeProgramFolder("warmup", {{winFile("wine/TAVROL-vm.sys"), "TAVROL.sys"}});
    const Output started = helper({"service-start", warm + "\\TAVROL.sys"});
    removeService();
    if (started["service"] != "running")
        return "no driver starts in this prefix:\n" + started.text;
    return "";
}

// Which flavors run here, decided once before the cases run.
FlavorPlan plan;

void decideFlavors() {
    HostFacts facts;
    const char* requested = getenv("TAVROL_WINE_FLAVORS");
    facts.requested = requested ? requested : "";
    if (!run("command -v wineserver"))
        facts.noWine = "Wine is not installed (run scripts/wine-setup.sh)";
    facts.i686 = probeI686();
    plan = planFlavors(facts);

    const char* builds = getenv("TAVROL_WIN_BUILDS");
    const std::string buildRoot = builds && *builds ? builds : TAVROL_SOURCE_DIR "/build";
    for (const Flavor& flavor : flavors())
        states[flavor.name].environment.winBuild = buildRoot + "/windows-" + flavor.name;
    for (const auto& left : plan.notRun)
        states[left.first].environment.skipReason =
            left.first + " does not run here: " + left.second;
}

void removePrefixes() {
    for (auto& entry : states) {
        if (entry.second.environment.prefix.empty())
            continue;
        useFlavor(entry.first);
        run(wineserver("-k"));
        run("timeout 60 " + wineserver("-w"));
        if (!getenv("TAVROL_KEEP_PREFIX"))
            run("rm -rf " + quote(entry.second.environment.prefix));
    }
}

} // namespace

std::string skipReasonOf(const std::string& name) {
    auto found = states.find(name);
    return found == states.end() ? "" : found->second.environment.skipReason;
}

std::string wineCommand(const std::string& program) {
    return wineEnv() + quote(state().loader) + " " + program;
}

const Environment& env() {
    return state().environment;
}

const Flavor& flavor() {
    return *current;
}

void useFlavor(const std::string& name) {
    const Flavor* found = findFlavor(name);
    if (found)
        current = found;
    else
        ADD_FAILURE() << "no flavor " << name;
}

std::string useSuiteFlavor() {
    const testing::TestSuite* suite = testing::UnitTest::GetInstance()->current_test_suite();
    const std::string name = suite ? suite->name() : "";
    useFlavor(name.substr(0, name.find('/')));
    if (!env().skipReason.empty())
        return env().skipReason;
    return ensurePrefix();
}

std::string ensurePrefix() {
    if (!state().prefixTried) {
        state().prefixTried = true;
        state().prefixError = makePrefix();
    }
    return state().prefixError;
}

std::string winFile(const std::string& relative) {
    const std::string path = env().winBuild + "/" + relative;
    return fileExists(path) ? path : "";
}

std::string makeProgramFolder(const std::string& name,
                              const std::map<std::string, std::string>& files) {
    const std::string folder = env().prefix + "/drive_c/" + name;
    run("rm -rf " + quote(folder));
    run("mkdir -p " + quote(folder));
    for (const auto& file : files) {
        if (!run("cp " + quote(file.first) + " " + quote(folder + "/" + file.second)))
            ADD_FAILURE() << "cannot copy " << file.first << " to " << folder;
    }
    return "C:\\" + name;
}

Output helper(const std::vector<std::string>& args) {
    std::string command = "cd " + quote(env().prefix + "/drive_c") + " && timeout 120 " +
                          wineCommand(quote(winFile("wine/tavrol-driver.exe")));
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

bool setProgramWindowsVersion(const std::string& exe, const std::string& version) {
    const std::string key = "'HKCU\\Software\\Wine\\AppDefaults\\" + exe + "'";
    if (version.empty()) {
        run(wineCommand("reg delete " + key + " /f"));
        return true;
    }
    return run(wineCommand("reg add " + key + " /v Version /d " + quote(version) + " /f"));
}

std::string logonTaskXml(const std::string& exe) {
    return "<?xml version='1.0'?><Task version='1.2' "
           "xmlns='http://schemas.microsoft.com/windows/2004/02/mit/task'><Triggers><LogonTrigger>"
           "<Enabled>true</Enabled></LogonTrigger></Triggers><Principals><Principal id='Author'>"
           "<GroupId>S-1-5-32-544</GroupId><RunLevel>HighestAvailable</RunLevel></Principal>"
           "</Principals><Settings><Enabled>true</Enabled></Settings><Actions Context='Author'>"
           "<Exec><Command>" +
           exe + "</Command><Arguments>-startup</Arguments></Exec></Actions></Task>";
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
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    // No case may reach a display: the prefixes use Wine's null graphics driver.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    wine::decideFlavors();
    int result = RUN_ALL_TESTS();
    wine::removePrefixes();
    printf("%s\n", wine::plan.line().c_str());
    if (!wine::plan.error.empty()) {
        printf("Wine suite failed: %s\n", wine::plan.error.c_str());
        result = 1;
    }
    return result;
}
