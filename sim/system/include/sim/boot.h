// Booting the virtual PC: the machine of a profile, a fresh process and the C: drive, and the hooks
// that put every other component's per-PC state back to its start (see machine.h for a test's
// use).
#pragma once

#include <string>

#include "sim/machine.h"

namespace sim {

// Registers a function that puts another component's per-PC state back to its start; every boot
// calls all of them before the new PC is set up. Registering the same function twice is harmless.
typedef void (*ResetHook)();
void addResetHook(ResetHook hook);
// Counts boots, for components that prefer to notice a new PC lazily.
unsigned bootGeneration();

// Boots a PC from a profile on a root folder: the C: drive is root/drive_c. With `freshInstall`
// the program directory is created with the driver files the profile does not declare absent.
// The process starts in the program directory with the default module path and command line.
// The service database starts empty: a saved one is loaded with services().loadText afterwards.
void boot(const Profile& profile, const std::string& root, bool freshInstall);

class TestPc {
  public:
    TestPc() = default;
    TestPc(TestPc&& other) noexcept;
    TestPc& operator=(TestPc&& other) noexcept;
    TestPc(const TestPc&) = delete;
    TestPc& operator=(const TestPc&) = delete;
    ~TestPc();

    bool ok() const { return m_ok; }
    const std::string& error() const { return m_error; }
    const std::string& root() const { return m_root; }

  private:
    friend TestPc bootForTest(const std::string& profileText);
    friend TestPc bootProfileForTest(const Profile& profile);
    friend TestPc bootMachineForTest(const std::string& machineName);
    bool m_ok = false;
    std::string m_error;
    std::string m_root;
};

// A fresh PC from profile text (an empty text gives an NT machine without PCI functions).
TestPc bootForTest(const std::string& profileText);
TestPc bootProfileForTest(const Profile& profile);
// A fresh PC from machines/<name>.lspci ("default", "ninex", "ati", ...).
TestPc bootMachineForTest(const std::string& machineName);

} // namespace sim
