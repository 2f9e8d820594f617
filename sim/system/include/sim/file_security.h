// Owners and access lists of the simulated PC's files and folders, and the self-relative security
// descriptors GetFileSecurityA and GetKernelObjectSecurity hand out.
//
// Every path has what a fresh Windows gives it: below C:\Program Files and the Windows folder the
// owner is Administrators and only SYSTEM, Administrators and TrustedInstaller may change it
// (Users read and run it; CREATOR OWNER's entry is inherit-only); any other folder of the drive,
// such as one made in C:\ or a profile's Desktop, lets Authenticated Users change it as folders
// made in C:\ do on Windows 2000, XP and 7. A test may give a path other security.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// SIDs in their string form, as Windows writes them.
extern const char* const kSidSystem;             // "S-1-5-18"
extern const char* const kSidAdministrators;     // "S-1-5-32-544"
extern const char* const kSidUsers;              // "S-1-5-32-545"
extern const char* const kSidAuthenticatedUsers; // "S-1-5-11"
extern const char* const kSidEveryone;           // "S-1-1-0"
extern const char* const kSidCreatorOwner;       // "S-1-3-0"
extern const char* const kSidTrustedInstaller;   // "S-1-5-80-956008885-...-2271478464"

struct AccessEntry {
    std::string sid;
    uint32_t mask = 0;
    uint8_t flags = 0; // ACE flags: 0x01 object inherit, 0x02 container inherit, 0x08 inherit only
    bool allow = true;
};

struct FileSecurity {
    std::string owner;
    std::vector<AccessEntry> dacl;
    bool nullDacl = false; // no access list at all: everyone may do everything
};

// The security of an absolute Windows path ("C:\..."): a test's, else the default above.
FileSecurity fileSecurity(const std::string& fullPath);
// Gives a path other security until the drive is mounted anew.
void setFileSecurity(const std::string& windowsPath, const FileSecurity& security);

// "S-1-5-32-544" as the binary SID; false for text that is no SID.
bool sidFromString(const std::string& text, std::vector<uint8_t>* sid);
// The binary SID's string form; "" when the bytes are no SID.
std::string sidToString(const uint8_t* bytes, size_t size);

// A self-relative descriptor with the owner and, when asked for, the access list.
std::vector<uint8_t> selfRelativeDescriptor(const FileSecurity& security, bool withDacl);
// The owner SID of a self-relative descriptor given to a create call; "" when there is none.
std::string ownerOfDescriptor(const void* descriptor);

} // namespace sim
