// The set-up programs under Wine: each flavor's set-up in its own prefix, silently with /S, then
// the installed program at work, then the quiet uninstaller that the Uninstall key names. What
// set-up and removal did is read from regedit's export of the whole registry and a listing of
// drive C:, taken before set-up, after it and after removal.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string.h>

#include "wine_env.h"

namespace {

const char kProgramFolder[] = "Program Files/Vantorel Tech/Tavrolin";
const char kInstalledExe[] = "C:\\Program Files\\Vantorel Tech\\Tavrolin\\Tavrol.exe";
const char kUninstaller[] = "C:\\Program Files\\Vantorel Tech\\Tavrolin\\Uninstall.exe";
// Below HKEY_LOCAL_MACHINE, for tavrol-driver.exe.
const char kUninstallPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                              "Vantorel Tavrolin";
const char kRunPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kSettingsPath[] = "Software\\Vantorel Tech\\Tavrolin";
const char kMachinePath[] = "Software\\Tavrolin Test Machine";
// The Run value's name, which is also the log-on task's.
const char kRunValue[] = "Vantorel Tavrolin";
// As regedit names the keys, in lower case.
const char kUninstallKey[] =
    "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\uninstall\\vantorel "
    "tavrolin";
const char kRunKey[] = "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\run";
const char kSettingsKey[] = "hkey_local_machine\\software\\vantorel tech\\tavrolin";
std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The prefix as a picture: registry keys (lower case) with their values as regedit writes them,
// and the files and folders of drive C: with the size of each file ("dir" for a folder).
struct Snapshot {
    std::map<std::string, std::map<std::string, std::string>> keys;
    std::map<std::string, std::string> files;

    std::string value(const std::string& key, const std::string& name) const {
        const auto found = keys.find(key);
        if (found == keys.end())
            return "<no key " + key + ">";
        const auto value = found->second.find("\"" + name + "\"");
        return value == found->second.end() ? "<no value " + name + ">" : value->second;
    }
    // One line per key, value and file, for the before-and-after comparison.
    std::set<std::string> entries() const {
        std::set<std::string> all;
        for (const auto& key : keys) {
            all.insert("[" + key.first + "]");
            for (const auto& value : key.second)
                all.insert("[" + key.first + "] " + value.first + "=" + value.second);
        }
        for (const auto& file : files)
            all.insert("C:/" + file.first + " " + file.second);
        return all;
    }
};

// regedit's REG_SZ data, "..." with \\ and \" escaped, as the text it stands for.
std::string regString(const std::string& data) {
    std::string text;
    for (size_t i = 1; i + 1 < data.size(); ++i) {
        if (data[i] == '\\')
            ++i;
        text += data[i];
    }
    return text;
}

// regedit's export of a key and everything below it ("" for the whole registry), as UTF-8.
std::string exportRegistry(const std::string& key) {
    const std::string exported = "/tmp/tavrol-setup-" + std::to_string(getpid()) + ".reg";
    std::string windowsPath = "Z:" + exported;
    for (char& c : windowsPath)
        c = c == '/' ? '\\' : c;
    int status = -1;
    wine::host("timeout 120 " +
                   wine::wineCommand("regedit /E " + wine::quote(windowsPath) +
                                     (key.empty() ? "" : " " + wine::quote(key))) +
                   " >/dev/null 2>&1",
               &status);
    EXPECT_EQ(0, status) << "regedit could not export " << (key.empty() ? "the registry" : key);
    const std::string text =
        wine::host("iconv -f UTF-16 -t UTF-8 " + wine::quote(exported) + " | tr -d '\\r'");
    std::remove(exported.c_str());
    return text;
}

void readExport(const std::string& text, Snapshot* snapshot) {
    std::istringstream lines(text);
    std::string line, key, pending;
    while (std::getline(lines, line)) {
        // Long data goes on over lines that end in a backslash.
        if (!pending.empty() || (!line.empty() && line[0] == '"') || line.rfind("@=", 0) == 0) {
            pending += line;
            if (!pending.empty() && pending.back() == '\\') {
                pending.pop_back();
                continue;
            }
            const size_t equals = pending[0] == '@' ? 1 : pending.find("\"=") + 1;
            snapshot->keys[key][pending.substr(0, equals)] = pending.substr(equals + 1);
            pending.clear();
        } else if (line.size() > 2 && line[0] == '[') {
            key = lower(line.substr(1, line.size() - 2));
            snapshot->keys[key];
        }
    }
}

// The whole registry, or only the keys given (which is quicker: the whole export takes seconds).
Snapshot takeSnapshot(const std::vector<std::string>& keys = {}) {
    Snapshot snapshot;
    if (keys.empty()) {
        readExport(exportRegistry(""), &snapshot);
        EXPECT_LT(1000u, snapshot.keys.size()) << "the registry export is not the whole registry";
    }
    for (const std::string& key : keys)
        readExport(exportRegistry(key), &snapshot);
    std::string line;
    std::istringstream listing(wine::host(
        "cd " + wine::quote(wine::env().prefix + "/drive_c") +
        " && find . -mindepth 1 \\( -type d -printf 'dir %P\\n' \\) -o -printf '%s %P\\n'"));
    while (std::getline(listing, line)) {
        const size_t space = line.find(' ');
        snapshot.files[line.substr(space + 1)] = line.substr(0, space);
    }
    EXPECT_EQ(1u, snapshot.files.count("windows/system32")) << "the listing is not drive C:";
    return snapshot;
}

// The files of a zip, by name.
std::map<std::string, std::string> zipFiles(const std::string& zip) {
    std::map<std::string, std::string> files;
    std::istringstream names(wine::host("unzip -Z1 " + wine::quote(zip)));
    std::string name;
    while (std::getline(names, name))
        files[name] = wine::host("unzip -p " + wine::quote(zip) + " " + wine::quote(name));
    return files;
}

// The Uninstall key's EstimatedSize as regedit writes it: the files' KiB, each rounded up, as
// NSIS counts a section.
std::string estimatedSize(const std::map<std::string, std::string>& files) {
    unsigned kib = 0;
    for (const auto& file : files)
        kib += static_cast<unsigned>((file.second.size() + 1023) / 1024);
    char text[32];
    snprintf(text, sizeof text, "dword:%08x", kib);
    return text;
}

// The set-up of a flavor's build tree, as the path Wine gives the host's root: Z:.
std::string setupOf(const std::string& winBuild, const std::string& suffix) {
    std::string path =
        "Z:" + winBuild + "/dist/tavrolin-" + TAVROL_VERSION + "-setup-" + suffix + ".exe";
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return path;
}

// Something of ours that set-up or the program put on the machine, as the snapshot's entries
// name it: a key "[key" (with its values and subkeys), a value "[key] \"name\"" or a file or
// folder "C:/path".
struct Trace {
    const char* what;
    std::string entry;
};

bool belongsTo(const std::string& entry, const std::string& trace) {
    return entry.rfind(trace, 0) == 0 &&
           (entry.size() == trace.size() || strchr("]\\= /", entry[trace.size()]) != nullptr);
}

bool holds(const std::set<std::string>& entries, const Trace& trace) {
    for (const std::string& entry : entries)
        if (belongsTo(entry, trace.entry))
            return true;
    return false;
}

// What Wine itself changes in a prefix while programs run, and why it is not ours.
struct Churn {
    std::regex pattern;
    const char* why;
};

const std::vector<Churn>& wineChurn() {
    static const std::vector<Churn> churn = {
        {std::regex(
             R"(^\[hkey_local_machine\\(hardware\\devicemap\\video|system\\currentcontrolset\\)"
             R"((control\\(video|class\\\{4d36e96[8e]-|deviceclasses\\)|hardware profiles\\)))"),
         "the display adapter and monitor Wine registers when a prefix's desktop first starts"},
        {std::regex(
             R"(^\[hkey_local_machine\\system\\currentcontrolset\\control\\servicecurrent\] )"),
         "the service manager's count of the services it started"},
        {std::regex(
             R"(^\[hkey_local_machine\\system\\currentcontrolset\\services\\schedule\] "Start"=)"),
         "Wine's Task Scheduler service, made automatic once it is used"},
        {std::regex(
             R"(^\[hkey_users\\[^\\]+\\(console|software\\wine\\temporary system parameters)[\]\\])"),
         "the console and desktop settings Wine keeps for the user"},
        {std::regex(R"(^C:/users/[^/]+/Temp/~nsu[^/]*\.tmp dir$)"),
         "the folder of the uninstaller's copy of itself, which Windows is to delete at the next "
         "start: Wine's restart deletes the copy but leaves the folder"},
    };
    return churn;
}

class SetUpUnderWine : public wine::FlavorTest {
  protected:
    void SetUp() override {
        WINE_SUITE_REQUIRED();
        zip = wine::winFile(std::string("dist/tavrolin-") + TAVROL_VERSION + "-" +
                            wine::flavor().distSuffix + ".zip");
        ASSERT_FALSE(zip.empty()) << "the release zip is not built in " << wine::env().winBuild;
        setup = setupOf(wine::env().winBuild, wine::flavor().distSuffix);
        // A machine that never ran the program; what earlier cases left goes.
        wine::removeService();
        wine::deleteKey(kMachinePath);
        wine::deleteKey("Software\\Vantorel Tech");
        wine::helper({"reg-delete", kRunPath, kRunValue});
        std::remove((wine::env().prefix + "/drive_c/windows/system32/tasks/" + kRunValue).c_str());
    }

    void TearDown() override {
        wine::setProgramWindowsVersion("Tavrol.exe", "");
        wine::removeService();
        wine::deleteKey(kMachinePath);
    }

    std::string runSetUp() { return wine::helper({"run", setup + " /S"})["run.exit"]; }
    std::string runUninstaller() {
        return wine::helper({"run", std::string("\"") + kUninstaller + "\" /S"})["run.exit"];
    }
    bool installed(const std::string& file) {
        return std::ifstream(wine::env().prefix + "/drive_c/" + kProgramFolder + "/" + file).good();
    }
    // The installed program made the suite's test build, which runs on the virtual PC.
    void useTheTestBuild() {
        const std::string folder = wine::env().prefix + "/drive_c/" + kProgramFolder + "/";
        int status = -1;
        wine::host("cp " + wine::quote(wine::winFile("wine/Tavrol-test.exe")) + " " +
                       wine::quote(folder + "Tavrol.exe") + " && cp " +
                       wine::quote(wine::winFile("wine/TAVROL-vm.sys")) + " " +
                       wine::quote(folder + "TAVROL.sys"),
                   &status);
        ASSERT_EQ(0, status) << "the test build could not be copied in";
    }

    // The installed files, byte for byte those of the zip.
    void expectTheZipsFilesInstalled() {
        const std::map<std::string, std::string> files = zipFiles(zip);
        EXPECT_EQ(wine::flavor().has9x ? 5u : 4u, files.size()) << "the zip's files";
        for (const auto& file : files) {
            const std::string path =
                wine::env().prefix + "/drive_c/" + kProgramFolder + "/" + file.first;
            EXPECT_TRUE(readFile(path) == file.second)
                << path << " is not the zip's " << file.first;
        }
    }

    std::string zip, setup;
};

TEST_P(SetUpUnderWine, SilentSetUpInstallsAndItsUninstallerTakesAwayEverythingOfOurs) {
    // As Windows XP the program's log-on entry is the Run value; Wine's Task Scheduler has no
    // log-on triggers, so the task the program registers on Windows 7 is put there below.
    const Snapshot before = takeSnapshot();
    ASSERT_TRUE(wine::setProgramWindowsVersion("Tavrol.exe", "winxp"));
    ASSERT_EQ("0", runSetUp());
    expectTheZipsFilesInstalled();
    useTheTestBuild();
    // The log-on box ticked and applied, then the run killed with the driver loaded.
    const wine::Output run = wine::helper({"session", kInstalledExe, "", "dialog", "click:1005",
                                           "click:1007", "sleep:500", "no-box", "service"});
    ASSERT_EQ("found", run["dialog"]) << run.text;
    EXPECT_EQ("none", run["box.now"]) << "the installed program complained";
    EXPECT_EQ("running", run["service"]);
    EXPECT_EQ("1", run["killed"]);
    ASSERT_EQ(kRunValue, wine::helper({"task-register", kRunValue,
                                       wine::logonTaskXml(kInstalledExe)})["registered"]);
    // Where set-up and the program write, as the whole export below shows them.
    const Snapshot atWork =
        takeSnapshot({"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion",
                      "HKEY_LOCAL_MACHINE\\Software\\Vantorel Tech",
                      "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\TAVROL"});

    const std::string folder = "C:\\\\Program Files\\\\Vantorel Tech\\\\Tavrolin";
    const std::string uninstaller = folder + "\\\\Uninstall.exe\\\"";
    const struct {
        const char* name;
        std::string data; // as regedit writes it
    } values[] = {
        {"DisplayName", "\"Vantorel Tavrolin\""},
        {"DisplayVersion", std::string("\"") + TAVROL_VERSION + "\""},
        {"Publisher", "\"Vantorel Tech\""},
        {"DisplayIcon", "\"" + folder + "\\\\Tavrol.tvx,0\""},
        {"InstallLocation", "\"" + folder + "\""},
        {"UninstallString", "\"\\\"" + uninstaller + "\""},
        {"QuietUninstallString", "\"\\\"" + uninstaller + " /S\""},
        {"EstimatedSize", estimatedSize(zipFiles(zip))},
        {"NoModify", "dword:00000001"},
        {"NoRepair", "dword:00000001"},
    };
    for (const auto& value : values)
        EXPECT_EQ(value.data, atWork.value(kUninstallKey, value.name)) << value.name;
    EXPECT_EQ(std::string("\"") + kInstalledExe + "\" -startup",
              regString(atWork.value(kRunKey, kRunValue)))
        << "the program did not register its log-on entry";

    const std::string quiet = regString(atWork.value(kUninstallKey, "QuietUninstallString"));
    ASSERT_EQ("0", wine::helper({"run", quiet})["run.exit"]);
    // The uninstaller runs from a copy of itself in the temporary folder, which Windows deletes
    // at the next start: so does Wine's.
    wine::host("timeout 60 " + wine::wineCommand("wineboot -r") + " >/dev/null 2>&1");
    wine::deleteKey(kMachinePath);
    ASSERT_TRUE(wine::setProgramWindowsVersion("Tavrol.exe", ""));
    const Snapshot after = takeSnapshot();

    const std::string drivers = "C:/windows/system32/";
    const std::vector<Trace> traces = {
        {"the program's folder", std::string("C:/") + kProgramFolder},
        {"the company's folder", "C:/Program Files/Vantorel Tech"},
        {"the Start-menu shortcut",
         "C:/ProgramData/Microsoft/Windows/Start Menu/Programs/Tavrolin.lnk"},
        {"the driver's copy", drivers + "drivers/TAVROL.sys"},
        {"the log-on task", drivers + "tasks/" + kRunValue},
        {"the Uninstall key", std::string("[") + kUninstallKey},
        {"the Run value", std::string("[") + kRunKey + "] \"" + kRunValue + "\""},
        {"the settings key", std::string("[") + kSettingsKey},
        {"the company's key", "[hkey_local_machine\\software\\vantorel tech"},
        {"the driver service", "[hkey_local_machine\\system\\currentcontrolset\\services\\tavrol"},
    };
    const std::set<std::string> was = before.entries(), atWorkEntries = atWork.entries(),
                                is = after.entries();
    for (const Trace& trace : traces) {
        EXPECT_TRUE(holds(atWorkEntries, trace)) << trace.what << " never showed";
        EXPECT_FALSE(holds(is, trace)) << trace.what << " was left behind";
    }
    std::vector<std::string> changed;
    std::set_symmetric_difference(was.begin(), was.end(), is.begin(), is.end(),
                                  std::back_inserter(changed));
    std::string unexplained, wineOwn;
    for (const std::string& entry : changed) {
        const Churn* wine = nullptr;
        for (const Churn& churn : wineChurn())
            wine = wine ? wine : std::regex_search(entry, churn.pattern) ? &churn : nullptr;
        std::string& list = wine ? wineOwn : unexplained;
        list += (was.count(entry) ? "gone: " : "new:  ") + entry +
                (wine ? std::string(" (") + wine->why + ")" : "") + "\n";
    }
    EXPECT_EQ("", unexplained) << "set-up and removal changed the machine; Wine's own changes:\n"
                               << wineOwn;
}

// An earlier version's set-up left its own version number and its own files; its runs left the
// settings and the log-on entry. Set-up over it replaces the files and keeps both.
TEST_P(SetUpUnderWine, SetUpOverAnEarlierVersionKeepsTheSettingsAndTheLogOnEntry) {
    ASSERT_EQ("0", runSetUp());
    const std::string runCommand = std::string("\"") + kInstalledExe + "\" -startup";
    ASSERT_EQ("DisplayVersion", wine::helper({"reg-set", kUninstallPath, "DisplayVersion", "string",
                                              "0.9.0"})["set"]);
    ASSERT_EQ("Settings",
              wine::helper({"reg-set", kSettingsPath, "Settings", "dword", "137"})["set"]);
    ASSERT_EQ(kRunValue,
              wine::helper({"reg-set", kRunPath, kRunValue, "string", runCommand})["set"]);
    useTheTestBuild();

    ASSERT_EQ("0", runSetUp());
    expectTheZipsFilesInstalled();
    EXPECT_EQ(TAVROL_VERSION,
              wine::helper({"reg-get", kUninstallPath, "DisplayVersion"})["string"]);
    EXPECT_EQ("137", wine::helper({"reg-get", kSettingsPath, "Settings"})["dword"]);
    const wine::Output run = wine::helper({"reg-get", kRunPath, kRunValue});
    std::string escaped;
    for (char c : runCommand)
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_EQ(escaped, run["string"]) << "the log-on entry changed";
    EXPECT_EQ("0", runUninstaller());
}

// While the program is open, neither set-up nor removal touches anything: set-up ends at once
// with NSIS's code for a script that stopped it, and the uninstaller leaves the program there.
TEST_P(SetUpUnderWine, SetUpAndRemovalRefuseWhileTheProgramIsOpen) {
    ASSERT_EQ("0", runSetUp());
    ASSERT_EQ("DisplayVersion", wine::helper({"reg-set", kUninstallPath, "DisplayVersion", "string",
                                              "0.9.0"})["set"]);
    const std::string open =
        wine::makeProgramFolder("tavrolin", {{wine::winFile("wine/Tavrol-test.exe"), "Tavrol.exe"},
                                             {wine::winFile("src/Tavrol.tvx"), "Tavrol.tvx"},
                                             {wine::winFile("wine/TAVROL-vm.sys"), "TAVROL.sys"}});
    const wine::Output out =
        wine::helper({"session", open + "\\Tavrol.exe", "", "dialog", "run:" + setup + " /S",
                      std::string("run:\"") + kUninstaller + "\" /S", "click:2", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    const std::vector<std::string> exits = out.all("run.exit");
    ASSERT_EQ(2u, exits.size()) << out.text;
    EXPECT_EQ("2", exits[0]) << "set-up did not refuse";
    EXPECT_EQ("0.9.0", wine::helper({"reg-get", kUninstallPath, "DisplayVersion"})["string"])
        << "set-up went on";
    EXPECT_TRUE(installed("Tavrol.exe")) << "the uninstaller went on";
    EXPECT_EQ("present", wine::helper({"reg-get", kUninstallPath, "DisplayName"})["key"]);
    EXPECT_EQ("0", out["exit"]);
    // Closed, it goes.
    EXPECT_EQ("0", runUninstaller());
    EXPECT_FALSE(installed("Tavrol.exe"));
}

// A TAVROL service that loads some other file is not the one our runs leave: removal keeps it.
TEST_P(SetUpUnderWine, RemovalKeepsATavrolServiceThatIsNotOurs) {
    ASSERT_EQ("0", runSetUp());
    const std::string other =
        wine::makeProgramFolder("other", {{wine::winFile("wine/TAVROL-vm.sys"), "TAVROL.sys"}});
    ASSERT_EQ("running", wine::helper({"service-start", other + "\\TAVROL.sys"})["service"]);
    EXPECT_EQ("0", runUninstaller());
    EXPECT_FALSE(installed("Tavrol.exe"));
    EXPECT_EQ("running", wine::serviceState());
    EXPECT_TRUE(std::ifstream(wine::env().prefix + "/drive_c/other/TAVROL.sys").good());
}

// The win32 set-up on 64-bit Windows stops before it installs anything; Windows itself does not
// start the win64 set-up on 32-bit Windows.
TEST_P(SetUpUnderWine, SetUpOfTheOtherArchitectureInstallsNothing) {
    const bool in64 = std::string(wine::flavor().name) == "x86_64";
    // The win32 set-up needs the 32-bit Wine, which runs only where the i686 flavor does.
    const std::string i686 = wine::skipReasonOf("i686");
    if (in64 && !i686.empty())
        GTEST_SKIP() << "this host does not run the win32 set-up: " << i686;
    std::string otherBuild = wine::env().winBuild;
    otherBuild.replace(otherBuild.rfind(wine::flavor().name), std::string::npos,
                       in64 ? "i686" : "x86_64");
    const std::string suffix = in64 ? "win32" : "win64";
    ASSERT_TRUE(std::ifstream(otherBuild + "/dist/tavrolin-" + TAVROL_VERSION + "-setup-" + suffix +
                              ".exe"))
        << "the " << suffix << " set-up is not built in " << otherBuild;
    const std::string otherSetup = setupOf(otherBuild, suffix);
    const wine::Output out = wine::helper({"run", otherSetup + " /S"});
    if (in64)
        EXPECT_EQ("2", out["run.exit"]) << out.text;
    else
        EXPECT_EQ("CreateProcessA 193", out["error"]) << "not ERROR_BAD_EXE_FORMAT:\n" << out.text;
    const std::string drive = wine::env().prefix + "/drive_c/";
    EXPECT_FALSE(std::ifstream(drive + "Program Files (x86)/Vantorel Tech/Tavrolin/Tavrol.exe"));
    EXPECT_FALSE(std::ifstream(drive + kProgramFolder + "/Tavrol.exe"));
}

WINE_FLAVORS(SetUpUnderWine);

} // namespace
