// CRegKey: a registry key opened below a root for one operation, closed explicitly with close().
#pragma once

#include "platform/platform.h"

class CRegKey {
  public:
    explicit CRegKey(HKEY root) : m_root(root), m_key(nullptr) {}
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Opens the key at `path` below the root, creating it when it is missing.
    bool create(LPCSTR path);
    // Opens the existing key at `path` below the root.
    bool open(LPCSTR path);
    void close();

    // Always true: `value` receives the stored dword, or `fallback` when it cannot be read.
    bool readDword(LPCSTR name, DWORD* value, DWORD fallback);
    bool writeDword(LPCSTR name, DWORD value);
    // Stores `length` bytes of `buffer` as REG_SZ, whatever the string inside is.
    bool writeString(LPCSTR name, const char* buffer, DWORD length);
    bool deleteValue(LPCSTR name);
    // Deletes the key at `path` below the root together with all its subkeys.
    bool deleteTree(LPCSTR path);

    HKEY handle() const { return m_key; }

  private:
    HKEY m_root;
    HKEY m_key;
};
