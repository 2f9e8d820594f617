// CRegKey: thin wrapper over the registry functions for one key below a root.
#include "settings/reg_key.h"

#include <string.h>

namespace {

// Room for a subkey's name in deleteTree, and for the path of a child below the deleted key.
const DWORD kChildNameSize = 32;
const size_t kChildPathSize = 128;

// "<parent>\<child>" into `out`; false, with nothing written, when it does not fit.
bool joinChildPath(char* out, size_t size, const char* parent, const char* child) {
    size_t parentLength = strlen(parent);
    size_t childLength = strlen(child);
    if (parentLength + 1 + childLength + 1 > size)
        return false;
    memcpy(out, parent, parentLength);
    out[parentLength] = '\\';
    memcpy(out + parentLength + 1, child, childLength + 1);
    return true;
}

} // namespace

bool CRegKey::create(LPCSTR path) {
    m_key = nullptr;
    return RegCreateKeyA(m_root, path, &m_key) == ERROR_SUCCESS;
}

bool CRegKey::open(LPCSTR path) {
    m_key = nullptr;
    return RegOpenKeyA(m_root, path, &m_key) == ERROR_SUCCESS;
}

void CRegKey::close() {
    if (m_key)
        RegCloseKey(m_key);
    m_key = nullptr;
}

bool CRegKey::readDword(LPCSTR name, DWORD* value, DWORD fallback) {
    DWORD data = 0; // a shorter value reads as its bytes, zero-extended
    DWORD size = sizeof data;
    if (m_key && RegQueryValueExA(m_key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data),
                                  &size) == ERROR_SUCCESS)
        *value = data;
    else
        *value = fallback;
    return true;
}

bool CRegKey::writeDword(LPCSTR name, DWORD value) {
    return m_key && RegSetValueExA(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                   sizeof value) == ERROR_SUCCESS;
}

bool CRegKey::writeString(LPCSTR name, const char* buffer, DWORD length) {
    return m_key && RegSetValueExA(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(buffer),
                                   length) == ERROR_SUCCESS;
}

bool CRegKey::deleteValue(LPCSTR name) {
    return m_key && RegDeleteValueA(m_key, name) == ERROR_SUCCESS;
}

bool CRegKey::deleteTree(LPCSTR path) {
    HKEY key;
    if (RegOpenKeyA(m_root, path, &key) != ERROR_SUCCESS)
        return false;
    // NT refuses to delete a key that still has subkeys, so the children go first. Index 0 is
    // asked every time because each child found is gone before the next call; a child that
    // could not be deleted would come back at index 0 for ever, so the walk stops there.
    bool childrenGone = true;
    char name[kChildNameSize];
    char childPath[kChildPathSize];
    while (RegEnumKeyA(key, 0, name, kChildNameSize) == ERROR_SUCCESS) {
        if (!joinChildPath(childPath, sizeof childPath, path, name) || !deleteTree(childPath)) {
            childrenGone = false;
            break;
        }
    }
    RegCloseKey(key);
    return childrenGone && RegDeleteKeyA(m_root, path) == ERROR_SUCCESS;
}
