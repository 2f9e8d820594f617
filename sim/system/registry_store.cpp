// The simulated registry's store: the two hives, open handles, faults, and the state file that
// several processes share under an flock.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "sim/registry_internal.h"

#include "sim/file_lock.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim_advapi32.h"

namespace sim {
namespace regdb {
namespace {

struct FileSignature {
    ino_t inode;
    off_t size;
    long long mtimeNs;
    bool operator==(const FileSignature& o) const {
        return inode == o.inode && size == o.size && mtimeNs == o.mtimeNs;
    }
};

const uintptr_t kFirstHandle = 0x00A10000;

struct Store {
    std::vector<Key> hives; // [0] HKEY_LOCAL_MACHINE, [1] HKEY_CURRENT_USER
    std::map<uintptr_t, OpenKey> handles;
    uintptr_t nextHandle = kFirstHandle;
    bool hklmReadOnly = false;
    bool writesFail = false;
    bool win9x = false;
    std::vector<OpenKey> protectedKeys;
    std::string directory;
    FileSignature signature = {};
    bool haveSignature = false;
};

bool sameName(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::vector<Key> freshHives() {
    std::vector<Key> hives(2);
    hives[0].name = "HKEY_LOCAL_MACHINE";
    hives[1].name = "HKEY_CURRENT_USER";
    Key* key = &hives[0];
    for (const char* name : {"Software", "Microsoft", "Windows", "CurrentVersion", "Run"})
        key = key->addChild(name);
    hives[1].addChild("Software");
    return hives;
}

void resetStore(Store* s) {
    s->hives = freshHives();
    s->handles.clear();
    s->hklmReadOnly = false;
    s->writesFail = false;
    s->protectedKeys.clear();
    s->directory.clear();
    s->haveSignature = false;
}

// A new virtual PC starts with a fresh registry and the faults its profile names.
void startAfresh(Store* s) {
    resetStore(s);
    s->hklmReadOnly = machine().profile().has("hklm-readonly");
    s->writesFail = machine().profile().has("reg-write-fails");
    s->win9x = !machine().isNt();
}

Store& store() {
    static Store instance;
    if (instance.hives.empty())
        startAfresh(&instance);
    return instance;
}

// Boots call this once the new machine's profile is loaded.
void startAfreshAtBoot() {
    startAfresh(&store());
}
[[maybe_unused]] const bool kBootHookAdded = (addResetHook(startAfreshAtBoot), true);

std::string filePathOf(const std::string& directory) {
    return directory + "/registry.reg";
}

bool signatureOf(const std::string& path, FileSignature* signature) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    *signature =
        FileSignature{st.st_ino, st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
    return true;
}

void collectKeys(const Key& key, const std::string& path, std::vector<RegFileKey>* keys) {
    keys->push_back(RegFileKey{path, key.values});
    for (const Key& child : key.children)
        collectKeys(child, path + "\\" + child.name, keys);
}

std::vector<RegFileKey> keysOf(const std::vector<Key>& hives) {
    std::vector<RegFileKey> keys;
    for (const Key& top : hives)
        for (const Key& child : top.children)
            collectKeys(child, top.name + "\\" + child.name, &keys);
    return keys;
}

// Builds hives from parsed keys; parents a file leaves out are created on the way.
std::vector<Key> hivesOf(const std::vector<RegFileKey>& keys) {
    std::vector<Key> hives(2);
    hives[0].name = "HKEY_LOCAL_MACHINE";
    hives[1].name = "HKEY_CURRENT_USER";
    for (const RegFileKey& fileKey : keys) {
        size_t slash = fileKey.path.find('\\');
        Key* key =
            sameName(fileKey.path.substr(0, slash), "HKEY_LOCAL_MACHINE") ? &hives[0] : &hives[1];
        std::vector<std::string> names;
        if (slash != std::string::npos)
            splitPath(fileKey.path.c_str() + slash + 1, &names);
        for (const std::string& name : names) {
            Key* next = key->child(name);
            key = next ? next : key->addChild(name);
        }
        for (const RegValue& value : fileKey.values) {
            RegValue* existing = key->value(value.name);
            if (existing)
                *existing = value;
            else
                key->values.push_back(value);
        }
    }
    return hives;
}

bool writeFileAtomically(const std::string& path, const std::string& text) {
    std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
    FILE* file = fopen(temporary.c_str(), "wb");
    if (!file)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = fclose(file) == 0 && ok;
    if (ok && rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    unlink(temporary.c_str());
    return false;
}

// Saves the hives; the caller holds the lock.
bool save() {
    Store& s = store();
    std::string path = filePathOf(s.directory);
    if (!writeFileAtomically(path, formatRegFile(keysOf(s.hives))))
        return false;
    s.haveSignature = signatureOf(path, &s.signature);
    return true;
}

// Reloads the file when another process changed it since we last read or wrote it.
LONG reloadIfChanged() {
    Store& s = store();
    std::string path = filePathOf(s.directory);
    FileSignature now;
    if (!signatureOf(path, &now) || (s.haveSignature && now == s.signature))
        return ERROR_SUCCESS; // unchanged, or removed by hand: the next change writes it again
    std::string text, error;
    std::vector<RegFileKey> keys;
    if (!readStateFile(path, &text) || !parseRegFile(text, path, &keys, &error)) {
        fprintf(stderr, "registry: %s\n", error.empty() ? "cannot read the file" : error.c_str());
        return ERROR_BADDB;
    }
    s.hives = hivesOf(keys);
    s.signature = now;
    s.haveSignature = true;
    return ERROR_SUCCESS;
}

int lockDirectory(const std::string& directory, int operation) {
    return lockFile(directory + "/registry.lock", operation);
}

} // namespace

Key* Key::child(const std::string& childName) {
    for (Key& c : children)
        if (sameName(c.name, childName))
            return &c;
    return nullptr;
}

Key* Key::addChild(const std::string& childName) {
    size_t at = 0;
    while (at < children.size() && strcasecmp(children[at].name.c_str(), childName.c_str()) < 0)
        ++at;
    Key key;
    key.name = childName;
    return &*children.insert(children.begin() + at, std::move(key));
}

RegValue* Key::value(const std::string& valueName) {
    for (RegValue& v : values)
        if (sameName(v.name, valueName))
            return &v;
    return nullptr;
}

Access::Access(bool write) : m_lockFd(-1), m_write(write), m_status(ERROR_SUCCESS) {
    Store& s = store();
    if (s.directory.empty())
        return;
    m_lockFd = lockDirectory(s.directory, write ? LOCK_EX : LOCK_SH);
    if (m_lockFd < 0) {
        m_status = ERROR_BADDB;
        return;
    }
    m_status = reloadIfChanged();
    if (write)
        m_before = s.hives;
}

Access::~Access() {
    if (m_lockFd >= 0)
        close(m_lockFd); // releases the flock
}

LONG Access::commit() {
    Store& s = store();
    if (!m_write || s.directory.empty())
        return ERROR_SUCCESS;
    if (m_status == ERROR_SUCCESS && save())
        return ERROR_SUCCESS;
    s.hives = m_before; // what is not on disk did not happen
    return ERROR_CANTWRITE;
}

Key* hive(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE)
        return &store().hives[0];
    if (root == HKEY_CURRENT_USER)
        return &store().hives[1];
    return nullptr;
}

bool isRoot(HKEY key) {
    uintptr_t value = reinterpret_cast<uintptr_t>(key);
    return value >= reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) &&
           value <= reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) + 0xF;
}

LONG splitPath(LPCSTR path, std::vector<std::string>* names) {
    names->clear();
    if (!path || !*path)
        return ERROR_SUCCESS;
    std::string text = path;
    if (text.back() == '\\')
        text.pop_back(); // a trailing backslash is accepted, as Windows does
    size_t start = 0;
    for (;;) {
        size_t next = text.find('\\', start);
        std::string name = text.substr(start, next == std::string::npos ? next : next - start);
        if (name.empty())
            return ERROR_BAD_PATHNAME;
        if (name.size() > 255 || !fitsOnOneLine(name))
            return ERROR_INVALID_PARAMETER;
        names->push_back(name);
        if (next == std::string::npos)
            return ERROR_SUCCESS;
        start = next + 1;
    }
}

std::string joinPath(const std::string& base, const std::vector<std::string>& names) {
    std::string path = base;
    for (const std::string& name : names)
        path += (path.empty() ? "" : "\\") + name;
    return path;
}

Key* findKey(HKEY root, const std::string& path) {
    Key* key = hive(root);
    std::vector<std::string> names;
    if (!key || splitPath(path.c_str(), &names) != ERROR_SUCCESS)
        return nullptr;
    for (const std::string& name : names) {
        key = key->child(name);
        if (!key)
            return nullptr;
    }
    return key;
}

Key* keyOf(HKEY handle, OpenKey* where, LONG* error) {
    if (isRoot(handle)) {
        *where = OpenKey{handle, "", false};
        Key* key = hive(handle);
        *error = key ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
        return key;
    }
    auto it = store().handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == store().handles.end()) {
        *error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    *where = it->second;
    Key* key = it->second.deleted ? nullptr : findKey(it->second.root, it->second.path);
    *error = key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    return key;
}

HKEY newHandle(HKEY root, const std::string& path) {
    Store& s = store();
    uintptr_t value = s.nextHandle;
    s.nextHandle += 4;
    s.handles[value] = OpenKey{root, path, false};
    return reinterpret_cast<HKEY>(value);
}

bool closeHandle(HKEY handle) {
    return store().handles.erase(reinterpret_cast<uintptr_t>(handle));
}

void markDeleted(HKEY root, const std::string& path) {
    for (auto& entry : store().handles) {
        const std::string& open = entry.second.path;
        bool below = open.size() > path.size() && open[path.size()] == '\\' &&
                     sameName(open.substr(0, path.size()), path);
        if (entry.second.root == root && (sameName(open, path) || below))
            entry.second.deleted = true;
    }
}

bool isProtected(HKEY root, const std::string& path) {
    for (const OpenKey& key : store().protectedKeys)
        if (key.root == root && sameName(key.path, path))
            return true;
    return false;
}

bool fitsOnOneLine(const std::string& name) {
    return name.find_first_of("\r\n") == std::string::npos;
}

bool hklmReadOnly() {
    return store().hklmReadOnly;
}
bool writesFail() {
    return store().writesFail;
}

bool deletesSubkeys() {
    return store().win9x;
}

} // namespace regdb

// Registry ------------------------------------------------------------------------------------

using regdb::Access;
using regdb::Key;
using regdb::store;

void Registry::reset() {
    regdb::resetStore(&store());
}

bool Registry::attach(const std::string& stateDir, std::string* error) {
    regdb::Store& s = store();
    if (mkdir(stateDir.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = stateDir + ": cannot create the state directory";
        return false;
    }
    int fd = regdb::lockDirectory(stateDir, LOCK_EX);
    if (fd < 0) {
        *error = stateDir + "/registry.lock: cannot lock";
        return false;
    }
    std::string path = regdb::filePathOf(stateDir);
    std::string text;
    bool ok = true;
    if (readStateFile(path, &text)) {
        std::vector<RegFileKey> keys;
        ok = parseRegFile(text, path, &keys, error);
        if (ok) {
            s.hives = regdb::hivesOf(keys);
            s.directory = stateDir;
            s.haveSignature = regdb::signatureOf(path, &s.signature);
        }
    } else {
        s.directory = stateDir;
        ok = regdb::save();
        if (!ok) {
            s.directory.clear();
            *error = path + ": cannot write";
        }
    }
    close(fd);
    return ok;
}

void Registry::detach() {
    store().directory.clear();
    store().haveSignature = false;
}

bool Registry::attached() const {
    return !store().directory.empty();
}

std::string Registry::filePath() const {
    return attached() ? regdb::filePathOf(store().directory) : "";
}

void Registry::setHklmReadOnly(bool on) {
    store().hklmReadOnly = on;
}
bool Registry::hklmReadOnly() const {
    return store().hklmReadOnly;
}
void Registry::setWritesFail(bool on) {
    store().writesFail = on;
}
bool Registry::writesFail() const {
    return store().writesFail;
}

void Registry::protectKey(HKEY root, const std::string& path) {
    store().protectedKeys.push_back(regdb::OpenKey{root, path, false});
}

bool Registry::keyExists(HKEY root, const std::string& path) {
    Access access(false);
    return regdb::findKey(root, path) != nullptr;
}

bool Registry::createKey(HKEY root, const std::string& path) {
    Access access(true);
    Key* key = regdb::hive(root);
    std::vector<std::string> names;
    if (access.status() != ERROR_SUCCESS || !key ||
        regdb::splitPath(path.c_str(), &names) != ERROR_SUCCESS)
        return false;
    for (const std::string& name : names) {
        Key* next = key->child(name);
        key = next ? next : key->addChild(name);
    }
    return access.commit() == ERROR_SUCCESS;
}

bool Registry::getValue(HKEY root, const std::string& path, const std::string& name,
                        RegValue* value) {
    Access access(false);
    Key* key = regdb::findKey(root, path);
    RegValue* found = key ? key->value(name) : nullptr;
    if (found)
        *value = *found;
    return found != nullptr;
}

bool Registry::setValue(HKEY root, const std::string& path, const RegValue& value) {
    Access access(true);
    Key* key = regdb::findKey(root, path);
    if (access.status() != ERROR_SUCCESS || !key)
        return false;
    RegValue* existing = key->value(value.name);
    if (existing)
        *existing = value;
    else
        key->values.push_back(value);
    return access.commit() == ERROR_SUCCESS;
}

std::vector<std::string> Registry::subkeyNames(HKEY root, const std::string& path) {
    Access access(false);
    std::vector<std::string> names;
    if (Key* key = regdb::findKey(root, path))
        for (const Key& child : key->children)
            names.push_back(child.name);
    return names;
}

std::vector<RegValue> Registry::values(HKEY root, const std::string& path) {
    Access access(false);
    Key* key = regdb::findKey(root, path);
    return key ? key->values : std::vector<RegValue>();
}

size_t Registry::openHandleCount() const {
    return store().handles.size();
}

std::string Registry::toText() {
    Access access(false);
    return formatRegFile(regdb::keysOf(store().hives));
}

bool Registry::parseText(const std::string& text, const std::string& fileName, std::string* error) {
    std::vector<RegFileKey> keys;
    if (!parseRegFile(text, fileName, &keys, error))
        return false;
    Access access(true);
    store().hives = regdb::hivesOf(keys);
    if (access.commit() != ERROR_SUCCESS) {
        *error = filePath() + ": cannot write";
        return false;
    }
    return true;
}

Registry& registry() {
    static Registry instance;
    return instance;
}

} // namespace sim
