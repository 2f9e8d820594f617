// Named mutexes of the simulated PC (CreateMutexA, ReleaseMutex). Two processes on one state
// directory meet through the file objects/mutex-<name>: every handle holds a shared flock on it,
// so a process that can take it exclusively knows that no other process has the mutex open.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <memory>

#include "shell_internal.h"

#include "sim/file_lock.h"
#include "sim/process.h"
#include "sim_kernel32.h"

namespace sim {
namespace {

std::string lowerCase(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return out;
}

// A file name for any mutex name: letters, digits, '-' and '_' stay, the rest is %XX.
std::string fileNameOf(const std::string& key) {
    std::string out = "mutex-";
    for (unsigned char c : key) {
        if (isalnum(c) || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            static const char digits[] = "0123456789ABCDEF";
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

class MutexObject : public KernelObject {
  public:
    MutexObject(const std::string& key, int fd, bool owned)
        : m_key(key), m_fd(fd), m_unnamedOwnership(owned ? 1 : 0) {}
    ~MutexObject() override {
        if (m_fd >= 0)
            close(m_fd); // gives up this handle's shared lock
        if (m_key.empty())
            return;
        ShellState& state = shellState();
        auto use = state.mutexes.find(m_key);
        if (use != state.mutexes.end() && --use->second.handles <= 0)
            state.mutexes.erase(use); // the last handle: an owned mutex is abandoned
    }
    const char* kind() const override { return "mutex"; }

    // Ownership is the process's for a named mutex, the handle's for an unnamed one.
    int& ownership() {
        if (m_key.empty())
            return m_unnamedOwnership;
        return shellState().mutexes[m_key].ownership;
    }

  private:
    std::string m_key;
    int m_fd;
    int m_unnamedOwnership;
};

// Opens the process's share of the named mutex in the state directory. *existed tells whether
// another process had it open. Returns the descriptor holding the shared lock, -1 on failure.
int openShared(const ShellState& state, const std::string& key, bool* existed) {
    std::string path = state.objectsDir + "/" + fileNameOf(key);
    // The guard makes "is anyone else holding it? then hold it too" one step for all processes.
    int guard = lockFile(path + ".guard", LOCK_EX);
    if (guard < 0)
        return -1;
    int fd = lockFile(path, LOCK_EX | LOCK_NB);
    *existed = fd < 0;
    if (fd >= 0)
        flock(fd, LOCK_SH); // keep it, shared, for as long as the handle is open
    else
        fd = lockFile(path, LOCK_SH);
    close(guard);
    return fd;
}

} // namespace
} // namespace sim

using namespace sim;

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    ShellState& state = shellState();
    if (!name) {
        shellTrace("CreateMutexA (unnamed) -> created");
        SetLastError(ERROR_SUCCESS);
        return process().addHandle(std::make_unique<MutexObject>("", -1, initialOwner));
    }
    std::string key = lowerCase(name);
    bool existed = state.mutexes.count(key) > 0;
    int fd = -1;
    if (!state.objectsDir.empty()) {
        bool elsewhere = false;
        fd = openShared(state, key, &elsewhere);
        if (fd < 0) {
            shellTrace("CreateMutexA " + traceQuoted(name) + " -> failed");
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        existed = existed || elsewhere;
    }
    NamedMutexUse& use = state.mutexes[key];
    ++use.handles;
    if (!existed && initialOwner)
        use.ownership = 1;
    HANDLE handle = process().addHandle(std::make_unique<MutexObject>(key, fd, false));
    shellTrace("CreateMutexA " + traceQuoted(name) +
               (existed ? " -> already exists" : " -> created"));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI ReleaseMutex(HANDLE mutex) {
    KernelObject* object = process().object(mutex);
    if (!object || strcmp(object->kind(), "mutex") != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int& ownership = static_cast<MutexObject*>(object)->ownership();
    if (ownership <= 0) {
        shellTrace("ReleaseMutex -> not the owner");
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    --ownership;
    shellTrace("ReleaseMutex -> released");
    return TRUE;
}
