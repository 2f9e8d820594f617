// Where the program may run at log-on from: only a folder and files that administrators alone
// may change. A log-on run from anywhere else applies nothing and says so once.
#include "program_fixture.h"

#include "sim/file_security.h"

namespace apptest {
namespace {

const char kOwnFolder[] = "C:\\Tavrolin";
const char kUser[] = "S-1-5-21-1004336348-1177238915-682003330-1001";

sim::FileSecurity ownedBy(const char* sid) {
    sim::FileSecurity security = sim::fileSecurity(sim::kProgramDirectory);
    security.owner = sid;
    return security;
}

sim::FileSecurity writableByEveryone() {
    sim::FileSecurity security = sim::fileSecurity(sim::kProgramDirectory);
    security.dacl.push_back({sim::kSidEveryone, 0x00000002, 0, true});
    return security;
}

struct Place {
    const char* name;
    const char* machine;
    const char* folder;  // where Tavrol.exe sits
    const char* changed; // the file or folder given other security, or null
    sim::FileSecurity (*security)();
    bool safe;
    const char* where; // what the check names when it fails, after the folder
};

void PrintTo(const Place& place, std::ostream* out) {
    *out << place.name;
}

class InstallPlaces : public ProgramTest, public testing::WithParamInterface<Place> {};

TEST_P(InstallPlaces, PassOnlyWhereAdministratorsAloneMayChangeTheProgram) {
    const Place& p = GetParam();
    boot(p.machine);
    std::string folder = p.folder;
    if (folder != sim::kProgramDirectory) {
        ASSERT_TRUE(sim::drive().createDirectories(folder));
        sim::process().setModulePath(folder + "\\Tavrol.exe");
    }
    // The simulated program has no image on the drive; Windows' has.
    ASSERT_TRUE(sim::drive().writeFile(folder + "\\Tavrol.exe", "MZ"));
    if (p.changed)
        sim::setFileSecurity(folder + p.changed, p.security());
    char where[MAX_PATH] = "untouched";
    EXPECT_EQ(p.safe, installedSafely(where));
    EXPECT_EQ(p.safe ? std::string() : folder + p.where, where);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, InstallPlaces,
    testing::Values(
        Place{"DefaultInstallOnXp", "default", sim::kProgramDirectory, nullptr, nullptr, true, ""},
        Place{"DefaultInstallOnWindows7", "win7", sim::kProgramDirectory, nullptr, nullptr, true,
              ""},
        Place{"FolderInTheDrivesRoot", "default", kOwnFolder, nullptr, nullptr, false, ""},
        Place{"FolderEveryoneMayWrite", "win7", sim::kProgramDirectory, "", writableByEveryone,
              false, ""},
        Place{"ProgramOwnedByAUser", "default", sim::kProgramDirectory, "\\Tavrol.exe",
              [] { return ownedBy(kUser); }, false, "\\Tavrol.exe"},
        Place{"ResourceLibraryEveryoneMayWrite", "default", sim::kProgramDirectory, "\\Tavrol.tvx",
              writableByEveryone, false, "\\Tavrol.tvx"},
        Place{"DriverOwnedByAUser", "win7", sim::kProgramDirectory, "\\TAVROL.sys",
              [] { return ownedBy(kUser); }, false, "\\TAVROL.sys"},
        Place{"Windows98KeepsNoOwners", "ninex", kOwnFolder, nullptr, nullptr, true, ""}),
    [](const testing::TestParamInfo<Place>& info) { return std::string(info.param.name); });

// A log-on run from a folder others may change installs no driver, touches no register and
// shows one message.
TEST_F(ProgramTest, StartupRunFromAFolderOthersMayChangeAppliesNothing) {
    boot("default");
    storeSettings(1 + 4 * 32);
    sim::setFileSecurity(sim::kProgramDirectory, writableByEveryone());
    sim::machine().clearTrace();
    run("-startup");
    ASSERT_EQ(1u, boxes().size());
    EXPECT_STREQ("warning", boxes()[0].icon());
    EXPECT_EQ(0u, boxes()[0].text.find("Tavrolin did not apply the AGP settings at log-on"))
        << boxes()[0].text;
    EXPECT_TRUE(trace(sim::TraceKind::ConfigWrite).empty());
    EXPECT_EQ(nullptr, sim::machine().services().find("TAVROL"));
    EXPECT_TRUE(trace(sim::TraceKind::ServiceCall).empty()) << "the driver was installed";
}

// Where Windows has SetDefaultDllDirectories, the program keeps its own folder and the current
// one out of the search for every DLL it loads later.
TEST_F(ProgramTest, KeepsItsFolderOutOfTheDllSearchWhereWindowsCan) {
    for (const char* machine : {"default", "win7"}) {
        SCOPED_TRACE(machine);
        boot(machine);
        run("-startup");
        EXPECT_EQ(std::string(machine) == "win7", sim::process().dllsFromSystemFolderOnly());
    }
}

// Tavrol.tvx is taken from beside the executable only: one in another folder Windows searches
// is never loaded.
TEST_F(ProgramTest, ResourceLibraryIsLoadedFromBesideTheProgramOnly) {
    boot("default");
    std::string library = std::string(sim::kProgramDirectory) + "\\Tavrol.tvx";
    std::string planted = sim::systemDirectory() + "\\Tavrol.tvx";
    ASSERT_TRUE(sim::drive().installFile(planted, sim::drive().hostPathOf(library)));
    ASSERT_TRUE(sim::drive().removeFile(library));
    run();
    ASSERT_EQ(1u, boxes().size());
    EXPECT_EQ(0u, boxes()[0].text.find("Failed to load Tavrol.tvx.")) << boxes()[0].text;
}

} // namespace
} // namespace apptest
