// The simulated PC's registry: keys and values under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
//
// The advapi32 registry functions (RegCreateKeyA ... RegDeleteKeyA) work on the one registry of
// the process, sim::registry(). It lives in memory; once attached to a state directory it is
// also kept there as "registry.reg", a REGEDIT4 text file a person can read and edit, and every
// change is written through at once. Two processes attached to the same directory see each
// other's changes: each call takes an flock on "registry.lock", reloads the file if another
// process changed it, applies the change and saves it (temporary file + rename).
//
// Behaviour follows Windows NT: key and value names are case-insensitive, a key with subkeys
// cannot be deleted (ERROR_ACCESS_DENIED; on a "#! windows 9x" machine RegDeleteKeyA takes the
// subkeys along, as Windows 9x does), a handle to a deleted key fails with
// ERROR_KEY_DELETED, unknown handles with ERROR_INVALID_HANDLE. REG_SZ data is stored exactly as
// given, terminator and padding included.
//
// Every boot of a virtual PC starts with a fresh registry (see reset()) and the faults of the
// machine profile's directives "#! hklm-readonly" and "#! reg-write-fails":
//   hklm-readonly    the user may not write HKEY_LOCAL_MACHINE: creating a missing key,
//                    setting and deleting values or keys there fail with ERROR_ACCESS_DENIED;
//                    opening and reading work, and RegCreateKeyA of an existing key opens it
//                    (as Windows does, asking for the most access the user has).
//   reg-write-fails  RegSetValueExA fails with ERROR_CANTWRITE everywhere.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sim_types.h"

namespace sim {

struct RegValue {
    std::string name; // "" is the key's default value ("@" in the file)
    DWORD type;
    std::vector<uint8_t> data;
};

class Registry {
  public:
    // Back to a fresh Windows installation: the hives hold only the Run key
    // "Software\Microsoft\Windows\CurrentVersion\Run" under HKEY_LOCAL_MACHINE, every handle is
    // closed, the faults are cleared and the state directory is detached.
    void reset();

    // Keeps the registry in <stateDir>/registry.reg from now on. An existing file is loaded
    // (a malformed one is refused with "<path>:<line>: <reason>" and nothing changes); a missing
    // one is written from the registry as it is now. Returns false with *error set on failure.
    bool attach(const std::string& stateDir, std::string* error);
    void detach();
    bool attached() const;
    std::string filePath() const; // "" when detached

    // Faults.
    void setHklmReadOnly(bool on);
    bool hklmReadOnly() const;
    void setWritesFail(bool on);
    bool writesFail() const;
    // A key whose access rights forbid deleting it: RegDeleteKeyA on it fails with
    // ERROR_ACCESS_DENIED. Kept in memory only (not in the state file).
    void protectKey(HKEY root, const std::string& path);

    // Direct access for tests and the command-line front end; these ignore the faults.
    // Paths are below a root, backslash-separated, case-insensitive.
    bool keyExists(HKEY root, const std::string& path);
    bool createKey(HKEY root, const std::string& path);
    bool getValue(HKEY root, const std::string& path, const std::string& name, RegValue* value);
    bool setValue(HKEY root, const std::string& path, const RegValue& value);
    std::vector<std::string> subkeyNames(HKEY root, const std::string& path);
    std::vector<RegValue> values(HKEY root, const std::string& path);
    size_t openHandleCount() const;

    // The registry as REGEDIT4 text, and back. parseText replaces the whole registry only when
    // every line is valid; otherwise it returns false with "<fileName>:<line>: <reason>".
    std::string toText();
    bool parseText(const std::string& text, const std::string& fileName, std::string* error);
};

Registry& registry();

// The REGEDIT4 codec on its own, for tools and tests: text <-> list of (key path, values).
// Key paths are full ("HKEY_LOCAL_MACHINE\Software\..."); parents are listed before children.
struct RegFileKey {
    std::string path;
    std::vector<RegValue> values;
};
std::string formatRegFile(const std::vector<RegFileKey>& keys);
bool parseRegFile(const std::string& text, const std::string& fileName,
                  std::vector<RegFileKey>* keys, std::string* error);

} // namespace sim
