// The registry kept in a state directory: write-through, refused files, and several processes.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/registry.h"
#include "sim_win32.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

LONG setDword(HKEY root, const char* path, const char* name, DWORD value) {
    HKEY key;
    LONG result = RegCreateKeyA(root, path, &key);
    if (result != ERROR_SUCCESS)
        return result;
    result = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(key);
    return result;
}

LONG getDword(HKEY root, const char* path, const char* name, DWORD* value) {
    HKEY key;
    LONG result = RegOpenKeyA(root, path, &key);
    if (result != ERROR_SUCCESS)
        return result;
    DWORD size = 4;
    result = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return result;
}

// Runs `body` in a child process and returns its exit status (the body's result).
template <typename Body> int inChild(Body body) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class RegistryState : public ::testing::Test {
  protected:
    void SetUp() override {
        pc = sim::bootForTest("");
        ASSERT_TRUE(pc.ok()) << pc.error();
        stateDir = pc.root() + "/state";
        file = stateDir + "/registry.reg";
    }
    void attach() {
        std::string error;
        ASSERT_TRUE(sim::registry().attach(stateDir, &error)) << error;
    }
    sim::TestPc pc;
    std::string stateDir;
    std::string file;
};

TEST_F(RegistryState, ANewStateDirectoryGetsTheRegistryAndEveryChangeIsWrittenAtOnce) {
    attach();
    EXPECT_EQ(file, sim::registry().filePath());
    EXPECT_EQ(sim::registry().toText(), readFile(file));

    ASSERT_EQ(ERROR_SUCCESS,
              setDword(HKEY_LOCAL_MACHINE, "Software\\Vantorel Tech\\Tavrolin", "Settings", 0x89));
    EXPECT_NE(std::string::npos,
              readFile(file).find("[HKEY_LOCAL_MACHINE\\Software\\Vantorel Tech\\Tavrolin]\n"
                                  "\"Settings\"=dword:00000089\n"));
    ASSERT_EQ(ERROR_SUCCESS,
              RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Vantorel Tech\\Tavrolin"));
    EXPECT_EQ(std::string::npos, readFile(file).find("Tavrolin]"));
}

TEST_F(RegistryState, TheNextRunFindsWhatTheLastOneStored) {
    attach();
    ASSERT_EQ(ERROR_SUCCESS, setDword(HKEY_CURRENT_USER, "Software\\Test", "Kept", 42));
    sim::TestPc next = sim::bootForTest("");
    ASSERT_TRUE(next.ok());
    DWORD value = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, getDword(HKEY_CURRENT_USER, "Software\\Test", "Kept", &value))
        << "a fresh boot without the state directory starts empty";
    attach();
    EXPECT_EQ(ERROR_SUCCESS, getDword(HKEY_CURRENT_USER, "Software\\Test", "Kept", &value));
    EXPECT_EQ(42u, value);
}

TEST_F(RegistryState, AStateDirectoryThatCannotBeMadeIsRefused) {
    std::string error;
    EXPECT_FALSE(sim::registry().attach(pc.root() + "/no/such/folder", &error));
    EXPECT_EQ(pc.root() + "/no/such/folder: cannot create the state directory", error);
    EXPECT_FALSE(sim::registry().attached());
    EXPECT_EQ("", sim::registry().filePath());
}

TEST_F(RegistryState, AMalformedFileIsRefusedAndLeftAsItWas) {
    ASSERT_EQ(0, system(("mkdir -p '" + stateDir + "'").c_str()));
    std::string broken = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Test]\n\"a\"=dword:1\n"
                         "\"b\"=dword:xyz\n";
    writeFile(file, broken);
    ASSERT_TRUE(sim::registry().createKey(HKEY_CURRENT_USER, "Software\\Before"));
    std::string before = sim::registry().toText();

    std::string error;
    EXPECT_FALSE(sim::registry().attach(stateDir, &error));
    EXPECT_EQ(file + ":5: 'xyz' is not a hex dword", error);
    EXPECT_FALSE(sim::registry().attached());
    EXPECT_EQ(before, sim::registry().toText());
    EXPECT_EQ(broken, readFile(file));
}

TEST_F(RegistryState, AFileBrokenWhileAttachedStopsChangesInsteadOfOverwritingIt) {
    attach();
    ASSERT_EQ(ERROR_SUCCESS, setDword(HKEY_CURRENT_USER, "Software\\Test", "a", 1));
    std::string broken = "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Test]\n\"a\"=dword:\n";
    writeFile(file, broken);
    EXPECT_EQ(ERROR_BADDB, setDword(HKEY_CURRENT_USER, "Software\\Test", "b", 2));
    EXPECT_EQ(broken, readFile(file));
    DWORD value = 0;
    EXPECT_EQ(ERROR_BADDB, getDword(HKEY_CURRENT_USER, "Software\\Test", "a", &value));
    // Repaired by hand, the file is read again.
    writeFile(file, "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Test]\n\"a\"=dword:7\n");
    EXPECT_EQ(ERROR_SUCCESS, getDword(HKEY_CURRENT_USER, "Software\\Test", "a", &value));
    EXPECT_EQ(7u, value);
}

TEST_F(RegistryState, AChangeMadeByAnotherProcessIsSeenAtTheNextCall) {
    attach();
    HKEY open;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Shared", &open));
    int child = inChild([] {
        return setDword(HKEY_CURRENT_USER, "Software\\Shared", "FromChild", 5) == ERROR_SUCCESS ? 0
                                                                                                : 1;
    });
    ASSERT_EQ(0, child);
    DWORD value = 0, size = 4;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(open, "FromChild", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(&value), &size))
        << "the handle opened before the other process's change still works";
    EXPECT_EQ(5u, value);
    RegCloseKey(open);
}

TEST_F(RegistryState, ConcurrentWritersLoseNothing) {
    attach();
    const int kWriters = 3;
    const int kValuesEach = 40;
    pid_t pids[kWriters];
    fflush(nullptr);
    for (int w = 0; w < kWriters; ++w) {
        pids[w] = fork();
        if (pids[w] == 0) {
            for (int i = 0; i < kValuesEach; ++i) {
                std::string name = "w" + std::to_string(w) + "-" + std::to_string(i);
                if (setDword(HKEY_CURRENT_USER, "Software\\Busy", name.c_str(), w * 1000 + i) !=
                    ERROR_SUCCESS)
                    _exit(1);
            }
            _exit(0);
        }
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kValuesEach; ++i) {
            std::string name = "w" + std::to_string(w) + "-" + std::to_string(i);
            DWORD value = 0;
            ASSERT_EQ(ERROR_SUCCESS,
                      getDword(HKEY_CURRENT_USER, "Software\\Busy", name.c_str(), &value))
                << name;
            EXPECT_EQ(DWORD(w * 1000 + i), value);
        }
    }
}

} // namespace
