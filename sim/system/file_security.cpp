// Owners and access lists of the simulated PC's files, and the descriptors made of them.
#include "sim/file_security.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <strings.h>

#include "sim/process.h"

namespace sim {

const char* const kSidSystem = "S-1-5-18";
const char* const kSidAdministrators = "S-1-5-32-544";
const char* const kSidUsers = "S-1-5-32-545";
const char* const kSidAuthenticatedUsers = "S-1-5-11";
const char* const kSidEveryone = "S-1-1-0";
const char* const kSidCreatorOwner = "S-1-3-0";
const char* const kSidTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

namespace {

const uint32_t kFullControl = 0x001F01FF;
const uint32_t kReadAndExecute = 0x001200A9;
const uint32_t kModify = 0x001301BF;
const uint8_t kInheritOnly = 0x0B; // object and container inherit, inherit only

// The tests' security, for the drive mounted when they gave it.
struct Overrides {
    std::string hostFolder;
    std::map<std::string, FileSecurity> byPath; // lower-case full path
};

Overrides& overrides() {
    static Overrides* o = new Overrides;
    if (o->hostFolder != drive().hostFolder()) {
        o->byPath.clear();
        o->hostFolder = drive().hostFolder();
    }
    return *o;
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

bool isBelow(const std::string& path, const std::string& folder) {
    return path.size() >= folder.size() &&
           strncasecmp(path.c_str(), folder.c_str(), folder.size()) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '\\');
}

void putLe(std::vector<uint8_t>* out, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        (*out)[at + size_t(i)] = uint8_t(value >> (8 * i));
}

} // namespace

FileSecurity fileSecurity(const std::string& fullPath) {
    auto found = overrides().byPath.find(lowerCase(fullPath));
    if (found != overrides().byPath.end())
        return found->second;
    FileSecurity security;
    security.owner = kSidAdministrators;
    security.dacl = {{kSidSystem, kFullControl, 0, true},
                     {kSidAdministrators, kFullControl, 0, true},
                     {kSidUsers, kReadAndExecute, 0, true}};
    std::string system = systemDirectory();
    std::string windows = system.substr(0, system.find_last_of('\\'));
    bool administered = isBelow(fullPath, "C:\\Program Files") || isBelow(fullPath, windows) ||
                        fullPath.size() <= 3;
    if (administered) {
        security.dacl.push_back({kSidTrustedInstaller, kFullControl, 0, true});
        security.dacl.push_back({kSidCreatorOwner, kFullControl, kInheritOnly, true});
    } else {
        security.dacl.push_back({kSidAuthenticatedUsers, kModify, 0, true});
    }
    return security;
}

void setFileSecurity(const std::string& windowsPath, const FileSecurity& security) {
    overrides().byPath[lowerCase(drive().fullPath(windowsPath))] = security;
}

bool sidFromString(const std::string& text, std::vector<uint8_t>* sid) {
    if (text.compare(0, 4, "S-1-") != 0)
        return false;
    std::vector<uint32_t> parts;
    const char* at = text.c_str() + 4;
    while (*at) {
        char* end = nullptr;
        unsigned long value = strtoul(at, &end, 10);
        if (end == at || value > 0xFFFFFFFFul || (*end != '-' && *end != '\0'))
            return false;
        parts.push_back(uint32_t(value));
        at = *end ? end + 1 : end;
    }
    if (parts.empty() || parts.size() > 16)
        return false;
    sid->assign(8 + 4 * (parts.size() - 1), 0);
    (*sid)[0] = 1;
    (*sid)[1] = uint8_t(parts.size() - 1);
    (*sid)[7] = uint8_t(parts[0]); // identifier authorities of Windows fit one byte
    for (size_t i = 1; i < parts.size(); ++i)
        putLe(sid, 8 + 4 * (i - 1), parts[i], 4);
    return true;
}

std::string sidToString(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr || size < 8 || bytes[0] != 1 || size < 8 + 4 * size_t(bytes[1]))
        return "";
    std::string text = "S-1-" + std::to_string(bytes[7]);
    for (size_t i = 0; i < bytes[1]; ++i) {
        const uint8_t* p = bytes + 8 + 4 * i;
        text += "-" + std::to_string(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                     uint32_t(p[3]) << 24);
    }
    return text;
}

std::vector<uint8_t> selfRelativeDescriptor(const FileSecurity& security, bool withDacl) {
    std::vector<uint8_t> out(20, 0);
    out[0] = 1;
    uint32_t control = 0x8000; // self-relative
    std::vector<uint8_t> owner;
    if (sidFromString(security.owner, &owner)) {
        putLe(&out, 4, uint32_t(out.size()), 4);
        out.insert(out.end(), owner.begin(), owner.end());
    }
    if (withDacl) {
        control |= 0x0004; // DACL present
        if (!security.nullDacl) {
            size_t aclAt = out.size();
            putLe(&out, 16, uint32_t(aclAt), 4);
            out.resize(aclAt + 8, 0);
            out[aclAt] = 2;
            for (const AccessEntry& entry : security.dacl) {
                std::vector<uint8_t> sid;
                if (!sidFromString(entry.sid, &sid))
                    continue;
                size_t at = out.size();
                out.resize(at + 8 + sid.size(), 0);
                out[at] = entry.allow ? 0 : 1;
                out[at + 1] = entry.flags;
                putLe(&out, at + 2, uint32_t(8 + sid.size()), 2);
                putLe(&out, at + 4, entry.mask, 4);
                std::memcpy(&out[at + 8], sid.data(), sid.size());
                putLe(&out, aclAt + 4, uint32_t(out[aclAt + 4] | out[aclAt + 5] << 8) + 1, 2);
            }
            putLe(&out, aclAt + 2, uint32_t(out.size() - aclAt), 2);
        }
    }
    putLe(&out, 2, control, 2);
    return out;
}

std::string ownerOfDescriptor(const void* descriptor) {
    const uint8_t* bytes = static_cast<const uint8_t*>(descriptor);
    if (bytes == nullptr || bytes[0] != 1 || ((bytes[2] | bytes[3] << 8) & 0x8000) == 0)
        return "";
    uint32_t at = uint32_t(bytes[4]) | uint32_t(bytes[5]) << 8 | uint32_t(bytes[6]) << 16 |
                  uint32_t(bytes[7]) << 24;
    if (at < 20 || at > 4096)
        return "";
    return sidToString(bytes + at, 8 + 4 * 15);
}

} // namespace sim
