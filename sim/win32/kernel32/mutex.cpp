// Named mutexes of the simulated PC (CreateMutexA, ReleaseMutex, WaitForSingleObject). Two
// processes on one state directory meet through the file objects/mutex-<name>: every handle
// holds a shared flock on it, so a process that can take it exclusively knows that no other
// process has the mutex open. The process that owns the mutex holds an exclusive flock on
// objects/mutex-<name>.owner, whose text "owned" stays behind when the owner ends without
// releasing it: the next owner learns that the mutex was abandoned.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <memory>

#include "shell_internal.h"

#include "sim/file_lock.h"
#include "sim/file_security.h"
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

const char kOwnedMark[] = "owned";

std::string ownerFileOf(const ShellState& state, const std::string& key) {
    return state.objectsDir + "/" + fileNameOf(key) + ".owner";
}

// Takes the owner's lock within `milliseconds` (INFINITE waits for good). On success *abandoned
// tells whether the last owner ended without releasing the mutex.
bool takeOwnerLock(const ShellState& state, const std::string& key, DWORD milliseconds, int* fd,
                   bool* abandoned) {
    for (DWORD waited = 0;; waited += 10) {
        *fd = lockFile(ownerFileOf(state, key), LOCK_EX | LOCK_NB);
        if (*fd >= 0)
            break;
        if (milliseconds != INFINITE && waited >= milliseconds)
            return false;
        usleep(10000);
    }
    char mark[sizeof kOwnedMark] = {};
    ssize_t got = pread(*fd, mark, sizeof mark - 1, 0);
    *abandoned =
        got == static_cast<ssize_t>(sizeof kOwnedMark - 1) && strcmp(mark, kOwnedMark) == 0;
    ssize_t put = pwrite(*fd, kOwnedMark, sizeof kOwnedMark - 1, 0);
    (void)put;
    return true;
}

// A release clears the mark; an owner that ends without one leaves it.
void giveUpOwnerLock(int fd, bool released) {
    if (released && ftruncate(fd, 0) != 0)
        return; // the mark stays: the next owner hears of an abandoned mutex, never of none
    close(fd);
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
        if (use != state.mutexes.end() && --use->second.handles <= 0) {
            // The last handle: an owned mutex is abandoned.
            if (use->second.ownerFd >= 0)
                giveUpOwnerLock(use->second.ownerFd, false);
            state.mutexes.erase(use);
        }
    }
    const char* kind() const override { return "mutex"; }

    // Ownership is the process's for a named mutex, the handle's for an unnamed one.
    int& ownership() {
        if (m_key.empty())
            return m_unnamedOwnership;
        return shellState().mutexes[m_key].ownership;
    }
    bool named() const { return !m_key.empty(); }
    const std::string& key() const { return m_key; }
    // The owner's lock of a named mutex; an unnamed one has none.
    int& ownerFd() {
        if (m_key.empty())
            return m_noOwnerFd;
        return shellState().mutexes[m_key].ownerFd;
    }

  private:
    std::string m_key;
    int m_fd;
    int m_unnamedOwnership;
    int m_noOwnerFd = -1;
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

// The owner a creator gave the mutex, or the program's own: it runs elevated, and the default
// owner of an administrator's elevated token is Administrators.
std::string creatorOwner(LPSECURITY_ATTRIBUTES attributes) {
    std::string owner = attributes && attributes->lpSecurityDescriptor
                            ? ownerOfDescriptor(attributes->lpSecurityDescriptor)
                            : std::string();
    return owner.empty() ? kSidAdministrators : owner;
}

// The key of a mutex name: "<alias>\\<name>" of a private namespace this process has open is the
// namespace's; "" for an alias of none (Windows: the path is not found). Other names are their own.
std::string keyOf(const ShellState& state, const std::string& name) {
    std::string key = lowerCase(name);
    size_t slash = key.find('\\');
    if (slash == std::string::npos)
        return key;
    std::string prefix = key.substr(0, slash);
    if (prefix == "global" || prefix == "local" || prefix == "session")
        return key;
    auto found = state.privateNamespaces.find(prefix);
    return found == state.privateNamespaces.end() ? std::string()
                                                  : "ns:" + found->second + key.substr(slash);
}

// Who made the mutex: this process knows it, or reads what the creator left in objects/.
std::string recordedOwner(const ShellState& state, const std::string& key, NamedMutexUse* use) {
    if (use->ownerSid.empty() && !state.objectsDir.empty())
        readStateFile(state.objectsDir + "/" + fileNameOf(key) + ".sid", &use->ownerSid);
    return use->ownerSid;
}

} // namespace
} // namespace sim

using namespace sim;

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name) {
    ShellState& state = shellState();
    if (!name) {
        shellTrace("CreateMutexA (unnamed) -> created");
        SetLastError(ERROR_SUCCESS);
        return process().addHandle(std::make_unique<MutexObject>("", -1, initialOwner));
    }
    std::string key = keyOf(state, name);
    if (key.empty()) {
        shellTrace("CreateMutexA " + traceQuoted(name) + " -> no such namespace");
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
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
    if (!existed) {
        use.ownerSid = creatorOwner(attributes);
        if (!state.objectsDir.empty())
            writeStateFileAtomically(state.objectsDir + "/" + fileNameOf(key) + ".sid",
                                     use.ownerSid);
    }
    if (!existed && initialOwner) {
        use.ownership = 1;
        // Nobody else has it open, so the owner's lock is free; a mark left in it is from a mutex
        // of the same name that is gone, and this one starts owned, not abandoned.
        bool stale = false;
        if (!state.objectsDir.empty())
            takeOwnerLock(state, key, 0, &use.ownerFd, &stale);
    }
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
    if (--ownership == 0) {
        MutexObject* owned = static_cast<MutexObject*>(object);
        int& fd = owned->ownerFd();
        if (fd >= 0) {
            giveUpOwnerLock(fd, true);
            fd = -1;
        }
    }
    shellTrace("ReleaseMutex -> released");
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    KernelObject* object = process().object(handle);
    // A thread has run to its end when CreateThread returned.
    if (object && strcmp(object->kind(), "thread") == 0)
        return WAIT_OBJECT_0;
    if (!object || strcmp(object->kind(), "mutex") != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    MutexObject* mutex = static_cast<MutexObject*>(object);
    int& ownership = mutex->ownership();
    if (ownership > 0) {
        ++ownership; // the owner may wait again: mutexes count recursion
        return WAIT_OBJECT_0;
    }
    bool abandoned = false;
    ShellState& state = shellState();
    if (mutex->named() && !state.objectsDir.empty() &&
        !takeOwnerLock(state, mutex->key(), milliseconds, &mutex->ownerFd(), &abandoned)) {
        shellTrace("WaitForSingleObject -> timeout");
        return WAIT_TIMEOUT;
    }
    ownership = 1;
    shellTrace(abandoned ? "WaitForSingleObject -> abandoned" : "WaitForSingleObject -> owned");
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

BOOL WINAPI GetKernelObjectSecurity(HANDLE handle, DWORD requested, LPVOID descriptor, DWORD size,
                                    LPDWORD needed) {
    KernelObject* object = process().object(handle);
    if (!object || strcmp(object->kind(), "mutex") != 0 || needed == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    MutexObject* mutex = static_cast<MutexObject*>(object);
    FileSecurity security;
    if (mutex->named() && (requested & OWNER_SECURITY_INFORMATION))
        security.owner =
            recordedOwner(shellState(), mutex->key(), &shellState().mutexes[mutex->key()]);
    std::vector<uint8_t> bytes = selfRelativeDescriptor(security, false);
    *needed = DWORD(bytes.size());
    if (descriptor == nullptr || size < bytes.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(descriptor, bytes.data(), bytes.size());
    return TRUE;
}

namespace sim {
namespace {

class BoundaryObject : public KernelObject {
  public:
    const char* kind() const override { return "boundary"; }
    std::string name;
    std::vector<std::string> sids;
    std::string identity() const {
        std::string text = lowerCase(name);
        for (const std::string& sid : sids)
            text += "|" + sid;
        return text;
    }
};

// An open namespace: this process's shared lock on objects/mutex-namespace:<identity>, so
// that every process sees it exists while one holds it.
class NamespaceObject : public KernelObject {
  public:
    NamespaceObject(const std::string& alias, int fd) : m_alias(alias), m_fd(fd) {}
    ~NamespaceObject() override {
        if (m_fd >= 0)
            close(m_fd);
        shellState().privateNamespaces.erase(m_alias);
    }
    const char* kind() const override { return "namespace"; }

  private:
    std::string m_alias;
    int m_fd;
};

BoundaryObject* boundaryOf(void* handle) {
    KernelObject* object = process().object(handle);
    return object && strcmp(object->kind(), "boundary") == 0 ? static_cast<BoundaryObject*>(object)
                                                             : nullptr;
}

std::string narrowText(const WCHAR* text) {
    std::string out;
    for (; text && *text; ++text)
        out += static_cast<char>(*text < 0x100 ? *text : '?');
    return out;
}

// Opens the namespace of the boundary under the alias; creating, it must not exist yet, and
// opening, it must. Only a boundary that holds Administrators may be used: the program runs
// elevated, so that is every boundary it makes.
HANDLE openNamespace(void* boundary, const WCHAR* alias, bool create) {
    BoundaryObject* b = boundaryOf(boundary);
    std::string name = lowerCase(narrowText(alias));
    ShellState& state = shellState();
    if (!b || name.empty() || name.find('\\') != std::string::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string key = "namespace:" + b->identity();
    bool existed = false;
    int fd = -1;
    for (const auto& open : state.privateNamespaces)
        existed = existed || open.second == b->identity();
    if (!state.objectsDir.empty()) {
        bool elsewhere = false;
        fd = openShared(state, key, &elsewhere);
        existed = existed || elsewhere;
    }
    if (existed == create || state.privateNamespaces.count(name)) {
        if (fd >= 0)
            close(fd);
        SetLastError(create ? ERROR_ALREADY_EXISTS : ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    state.privateNamespaces[name] = b->identity();
    shellTrace(std::string(create ? "CreatePrivateNamespaceW " : "OpenPrivateNamespaceW ") +
               traceQuoted(name) + " -> " + b->identity());
    return process().addHandle(std::make_unique<NamespaceObject>(name, fd));
}

} // namespace
} // namespace sim

HANDLE WINAPI CreateBoundaryDescriptorW(const WCHAR* name, ULONG) {
    auto boundary = std::make_unique<BoundaryObject>();
    boundary->name = narrowText(name);
    return process().addHandle(std::move(boundary));
}

BOOL WINAPI AddSIDToBoundaryDescriptor(HANDLE* boundary, void* sid) {
    BoundaryObject* b = boundary ? boundaryOf(*boundary) : nullptr;
    std::string text = sid ? sidToString(static_cast<const uint8_t*>(sid), 8 + 4 * 15) : "";
    if (!b || text.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    b->sids.push_back(text);
    return TRUE;
}

void WINAPI DeleteBoundaryDescriptor(HANDLE boundary) {
    if (boundaryOf(boundary))
        process().takeHandle(boundary);
}

HANDLE WINAPI CreatePrivateNamespaceW(LPSECURITY_ATTRIBUTES, void* boundary, const WCHAR* alias) {
    return openNamespace(boundary, alias, true);
}

HANDLE WINAPI OpenPrivateNamespaceW(void* boundary, const WCHAR* alias) {
    return openNamespace(boundary, alias, false);
}

BOOLEAN WINAPI ClosePrivateNamespace(HANDLE privateNamespace, ULONG) {
    KernelObject* object = process().object(privateNamespace);
    if (!object || strcmp(object->kind(), "namespace") != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    process().takeHandle(privateNamespace);
    return TRUE;
}
