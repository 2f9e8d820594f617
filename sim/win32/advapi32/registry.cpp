// advapi32 registry functions of the simulated PC, with Windows NT's results.
#include <string.h>

#include "sim/registry_internal.h"
#include "sim_advapi32.h"

using namespace sim::regdb;

namespace {

// Resolves a handle for a change: the faults of HKEY_LOCAL_MACHINE apply.
Key* keyForChange(HKEY key, OpenKey* where, LONG* error) {
    Key* found = keyOf(key, where, error);
    if (found && where->root == HKEY_LOCAL_MACHINE && hklmReadOnly()) {
        *error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    return found;
}

// The key a handle names for this call, once the state file has been taken: null with *error
// set otherwise, a bad handle (or, for a change, a read-only HKEY_LOCAL_MACHINE) reported before
// a state file that could not be read.
Key* keyFor(HKEY key, const Access& access, bool forChange, OpenKey* where, LONG* error) {
    Key* found = forChange ? keyForChange(key, where, error) : keyOf(key, where, error);
    if (found && access.status() != ERROR_SUCCESS) {
        *error = access.status();
        return nullptr;
    }
    return found;
}

// Creates or opens `subKey` below `key` into a new handle.
LONG openBelow(HKEY key, LPCSTR subKey, PHKEY result, bool create) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    Access access(create);
    OpenKey where;
    LONG error;
    Key* base = keyFor(key, access, false, &where, &error);
    if (!base)
        return error;
    std::vector<std::string> names;
    if ((error = splitPath(subKey, &names)) != ERROR_SUCCESS)
        return error;
    // Without a subkey Windows hands back the very handle it was given; RegCreateKeyA does so
    // for the predefined roots and opens a new handle to any other key.
    if (names.empty() && (!create || isRoot(key))) {
        *result = key;
        return ERROR_SUCCESS;
    }
    // RegCreateKeyA asks for the most access the caller may have: a user who may not write
    // HKEY_LOCAL_MACHINE still opens an existing key there (for reading), but creates nothing.
    bool mayAdd = !(where.root == HKEY_LOCAL_MACHINE && hklmReadOnly());
    Key* target = base;
    std::vector<std::string> stored;
    bool added = false;
    for (const std::string& name : names) {
        Key* next = target->child(name);
        if (!next) {
            if (!create)
                return ERROR_FILE_NOT_FOUND;
            if (!mayAdd)
                return ERROR_ACCESS_DENIED;
            next = target->addChild(name);
            added = true;
        }
        stored.push_back(next->name);
        target = next;
    }
    if (added && (error = access.commit()) != ERROR_SUCCESS)
        return error;
    *result = newHandle(where.root, joinPath(where.path, stored));
    return ERROR_SUCCESS;
}

} // namespace

LONG WINAPI RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    return openBelow(key, subKey, result, true);
}

LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    return openBelow(key, subKey, result, false);
}

LONG WINAPI RegCloseKey(HKEY key) {
    if (isRoot(key))
        return hive(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    return closeHandle(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataSize) {
    if (reserved || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    Access access(false);
    OpenKey where;
    LONG error;
    Key* found = keyFor(key, access, false, &where, &error);
    if (!found)
        return error;
    const sim::RegValue* value = found->value(valueName ? valueName : "");
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    DWORD size = static_cast<DWORD>(value->data.size());
    if (type)
        *type = value->type;
    if (!dataSize)
        return ERROR_SUCCESS;
    if (data && *dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (data && size)
        memcpy(data, value->data.data(), size);
    *dataSize = size;
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD dataSize) {
    if (reserved)
        return ERROR_INVALID_PARAMETER;
    if (!data && dataSize)
        return ERROR_NOACCESS;
    if (valueName && !fitsOnOneLine(valueName))
        return ERROR_INVALID_PARAMETER;
    Access access(true);
    OpenKey where;
    LONG error;
    Key* found = keyFor(key, access, true, &where, &error);
    if (!found)
        return error;
    if (writesFail())
        return ERROR_CANTWRITE;
    sim::RegValue value{valueName ? valueName : "", type, {}};
    if (dataSize)
        value.data.assign(data, data + dataSize);
    if (sim::RegValue* existing = found->value(value.name)) {
        existing->type = type;
        existing->data = value.data;
    } else {
        found->values.push_back(value);
    }
    return access.commit();
}

LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName) {
    Access access(true);
    OpenKey where;
    LONG error;
    Key* found = keyFor(key, access, true, &where, &error);
    if (!found)
        return error;
    std::string name = valueName ? valueName : "";
    for (size_t i = 0; i < found->values.size(); ++i) {
        if (strcasecmp(found->values[i].name.c_str(), name.c_str()) == 0) {
            found->values.erase(found->values.begin() + i);
            return access.commit();
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize) {
    Access access(false);
    OpenKey where;
    LONG error;
    Key* found = keyFor(key, access, false, &where, &error);
    if (!found)
        return error;
    if (index >= found->children.size())
        return ERROR_NO_MORE_ITEMS;
    if (!name)
        return ERROR_INVALID_PARAMETER;
    const std::string& child = found->children[index].name;
    if (child.size() + 1 > nameSize)
        return ERROR_MORE_DATA;
    memcpy(name, child.c_str(), child.size() + 1);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    if (!subKey)
        return ERROR_INVALID_PARAMETER;
    Access access(true);
    OpenKey where;
    LONG error;
    Key* base = keyFor(key, access, false, &where, &error);
    if (!base)
        return error;
    std::vector<std::string> names;
    if ((error = splitPath(subKey, &names)) != ERROR_SUCCESS)
        return error;
    if (names.empty() && where.path.empty())
        return ERROR_ACCESS_DENIED; // a root key cannot be deleted
    std::vector<std::string> full;
    if (splitPath(where.path.c_str(), &full) != ERROR_SUCCESS)
        return ERROR_BADKEY;
    full.insert(full.end(), names.begin(), names.end());
    Key* parent = hive(where.root);
    for (size_t i = 0; i + 1 < full.size(); ++i)
        if (!(parent = parent->child(full[i])))
            return ERROR_FILE_NOT_FOUND;
    Key* target = parent->child(full.back());
    if (!target)
        return ERROR_FILE_NOT_FOUND;
    std::string path = joinPath("", full);
    // NT deletes only keys without subkeys, so callers empty a tree from the bottom; Windows 9x
    // takes the subkeys along.
    if ((!target->children.empty() && !deletesSubkeys()) ||
        (where.root == HKEY_LOCAL_MACHINE && hklmReadOnly()) || isProtected(where.root, path))
        return ERROR_ACCESS_DENIED;
    for (size_t i = 0; i < parent->children.size(); ++i) {
        if (&parent->children[i] == target) {
            parent->children.erase(parent->children.begin() + i);
            break;
        }
    }
    if ((error = access.commit()) != ERROR_SUCCESS)
        return error;
    markDeleted(where.root, path);
    return ERROR_SUCCESS;
}
