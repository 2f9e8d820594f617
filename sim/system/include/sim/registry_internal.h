// Internals of the simulated registry shared by the store and the advapi32 registry functions.
#pragma once

#include <string>
#include <vector>

#include "sim/registry.h"

namespace sim {
namespace regdb {

struct Key {
    std::string name;
    std::vector<RegValue> values;
    std::vector<Key> children; // sorted by name, ignoring case, as NT enumerates them

    Key* child(const std::string& childName);
    Key* addChild(const std::string& childName);
    RegValue* value(const std::string& valueName);
};

// One call's access to the registry. With a state directory it holds the lock file's flock for
// its lifetime and has reloaded the file if another process changed it; commit() writes a change
// through, or undoes it when the file cannot be written.
class Access {
  public:
    explicit Access(bool write);
    ~Access();
    Access(const Access&) = delete;
    Access& operator=(const Access&) = delete;

    LONG status() const { return m_status; } // ERROR_BADDB when the file could not be reloaded
    LONG commit();                           // ERROR_SUCCESS or ERROR_CANTWRITE

  private:
    int m_lockFd;
    bool m_write;
    LONG m_status;
    std::vector<Key> m_before;
};

// Where an open key handle points.
struct OpenKey {
    HKEY root;
    std::string path; // "" for the root itself
    bool deleted;
};

Key* hive(HKEY root); // null for roots the registry does not hold
bool isRoot(HKEY key);
// Splits "a\b\c" into its names: ERROR_BAD_PATHNAME for a leading backslash or an empty name,
// ERROR_INVALID_PARAMETER for a name longer than 255 characters or one that does not fit on one
// line. NULL and "" give no names.
LONG splitPath(LPCSTR path, std::vector<std::string>* names);
std::string joinPath(const std::string& base, const std::vector<std::string>& names);
Key* findKey(HKEY root, const std::string& path);
// Resolves a handle: ERROR_INVALID_HANDLE for unknown ones, ERROR_KEY_DELETED when its key is
// gone. *where receives the handle's root and path.
Key* keyOf(HKEY handle, OpenKey* where, LONG* error);
HKEY newHandle(HKEY root, const std::string& path);
bool closeHandle(HKEY handle);
void markDeleted(HKEY root, const std::string& path);
bool isProtected(HKEY root, const std::string& path);
// Windows allows line breaks in key and value names; the line-based state file does not, so the
// simulated registry refuses them rather than write a file it could not read back.
bool fitsOnOneLine(const std::string& name);
bool hklmReadOnly();
bool writesFail();
// True on a Windows 9x machine, whose RegDeleteKeyA deletes a key with all its subkeys.
bool deletesSubkeys();

} // namespace regdb
} // namespace sim
