// Booting the virtual PC: one machine, one running program, one C: drive at a time.
#include "sim/boot.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "sim/process.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

std::vector<ResetHook>& resetHooks() {
    static std::vector<ResetHook>* hooks = new std::vector<ResetHook>;
    return *hooks;
}

unsigned generation = 0;

std::string makeTemporaryRoot() {
    std::string pattern = (fs::temp_directory_path() / "tavrol-pc-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        return "";
    return buffer.data();
}

} // namespace

void addResetHook(ResetHook hook) {
    std::vector<ResetHook>& hooks = resetHooks();
    if (std::find(hooks.begin(), hooks.end(), hook) == hooks.end())
        hooks.push_back(hook);
}

unsigned bootGeneration() {
    return generation;
}

void boot(const Profile& profile, const std::string& root, bool freshInstall) {
    ++generation;
    process().reset();
    machine().services().reset();
    machine().load(profile);
    drive().mount((fs::path(root) / "drive_c").string());
    createWindowsFolders();
    if (freshInstall)
        installProgram();
    machine().clearTrace();
    for (ResetHook hook : resetHooks())
        hook();
}

TestPc::TestPc(TestPc&& other) noexcept
    : m_ok(other.m_ok), m_error(std::move(other.m_error)), m_root(std::move(other.m_root)) {
    other.m_ok = false;
    other.m_root.clear();
}

TestPc& TestPc::operator=(TestPc&& other) noexcept {
    // The other object takes over this one's root and removes it when it goes away.
    std::swap(m_ok, other.m_ok);
    std::swap(m_error, other.m_error);
    std::swap(m_root, other.m_root);
    return *this;
}

TestPc::~TestPc() {
    if (m_root.empty())
        return;
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

TestPc bootProfileForTest(const Profile& profile) {
    TestPc pc;
    pc.m_root = makeTemporaryRoot();
    if (pc.m_root.empty()) {
        pc.m_error = "cannot create a temporary folder for the virtual PC";
        return pc;
    }
    boot(profile, pc.m_root, true);
    pc.m_ok = true;
    return pc;
}

TestPc bootForTest(const std::string& profileText) {
    Profile profile;
    std::string error;
    if (!parseProfile(profileText, "test profile", &profile, &error)) {
        TestPc pc;
        pc.m_error = error;
        return pc;
    }
    return bootProfileForTest(profile);
}

TestPc bootMachineForTest(const std::string& machineName) {
    std::string file = machineName;
    if (file.size() < 6 || file.compare(file.size() - 6, 6, ".lspci") != 0)
        file += ".lspci";
    Profile profile;
    std::string error;
    if (!loadProfileFile((fs::path(machinesDir()) / file).string(), &profile, &error)) {
        TestPc pc;
        pc.m_error = error;
        return pc;
    }
    return bootProfileForTest(profile);
}

} // namespace sim
