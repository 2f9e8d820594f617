// Security descriptors read and made by hand in their documented binary layout.
#include "agpcfg/object_security.h"

#include <string.h>

namespace {

// Self-relative descriptor: revision, padding, control word, then the offsets of owner, group,
// system ACL and discretionary ACL from its start.
enum : DWORD {
    DESCRIPTOR_HEADER_SIZE = 20,
    OWNER_OFFSET_AT = 4,
    DACL_OFFSET_AT = 16,
    CONTROL_DACL_PRESENT = 0x0004,
    CONTROL_DACL_PROTECTED = 0x1000,
    CONTROL_SELF_RELATIVE = 0x8000,
    ACL_HEADER_SIZE = 8,
    ACE_HEADER_SIZE = 4,
    ACE_INHERIT_ONLY = 0x08,
    ACE_TYPE_ALLOWED = 0x00,
    ACE_TYPE_ALLOWED_CALLBACK = 0x09,
    MUTEX_FULL_ACCESS = 0x001F0001,
};

// Sub-authorities of the well-known accounts, all under the NT authority (5).
struct WellKnownSid {
    BYTE count;
    DWORD subAuthorities[6];
};
const WellKnownSid kSystem = {1, {18}};
const WellKnownSid kAdministrators = {2, {32, 544}};
const WellKnownSid kPowerUsers = {2, {32, 547}};
const WellKnownSid kTrustedInstaller = {
    6, {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u}};

WORD wordAt(const BYTE* bytes) {
    return static_cast<WORD>(bytes[0] | (bytes[1] << 8));
}

DWORD dwordAt(const BYTE* bytes) {
    return static_cast<DWORD>(bytes[0]) | (static_cast<DWORD>(bytes[1]) << 8) |
           (static_cast<DWORD>(bytes[2]) << 16) | (static_cast<DWORD>(bytes[3]) << 24);
}

void putWord(BYTE* bytes, WORD value) {
    bytes[0] = static_cast<BYTE>(value);
    bytes[1] = static_cast<BYTE>(value >> 8);
}

void putDword(BYTE* bytes, DWORD value) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<BYTE>(value >> (8 * i));
}

bool isNtAuthority(const BYTE* sid) {
    static const BYTE kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
    return memcmp(sid + 2, kNtAuthority, sizeof kNtAuthority) == 0;
}

// `sid` is a well-formed SID (sidLength checked it).
bool isSid(const BYTE* sid, const WellKnownSid& known) {
    if (sid[1] != known.count || !isNtAuthority(sid))
        return false;
    for (DWORD i = 0; i < known.count; ++i) {
        if (dwordAt(sid + 8 + 4 * i) != known.subAuthorities[i])
            return false;
    }
    return true;
}

// A SID is trusted when it is administrative or the extra one the caller trusts.
bool isTrusted(const BYTE* sid, DWORD size, const BYTE* alsoTrusted) {
    if (isAdministrativeSid(sid, size))
        return true;
    DWORD length = sidLength(sid, size);
    return alsoTrusted && length != 0 && sidLength(alsoTrusted, MAX_SID_SIZE) == length &&
           memcmp(sid, alsoTrusted, length) == 0;
}

// The part of the descriptor an offset field points at, or null when it points nowhere or
// outside.
const BYTE* partAt(const BYTE* descriptor, DWORD size, DWORD field, DWORD* room) {
    DWORD offset = dwordAt(descriptor + field);
    if (offset == 0 || offset < DESCRIPTOR_HEADER_SIZE || offset >= size)
        return nullptr;
    *room = size - offset;
    return descriptor + offset;
}

bool validHeader(const BYTE* descriptor, DWORD size) {
    return descriptor && size >= DESCRIPTOR_HEADER_SIZE && descriptor[0] == 1 &&
           (wordAt(descriptor + 2) & CONTROL_SELF_RELATIVE) != 0;
}

const BYTE* ownerOf(const BYTE* descriptor, DWORD size, DWORD* room) {
    if (!validHeader(descriptor, size))
        return nullptr;
    const BYTE* owner = partAt(descriptor, size, OWNER_OFFSET_AT, room);
    return owner && sidLength(owner, *room) != 0 ? owner : nullptr;
}

// Whether an allow entry with changing rights names anyone untrusted. Entries that only pass on
// to children (inherit-only) do not apply to the object; allow entries of the object and
// compound kinds, which files do not carry, count as untrusted when they grant such rights.
bool aceLetsOthersChange(const BYTE* ace, DWORD aceSize, const BYTE* alsoTrusted) {
    BYTE type = ace[0];
    BYTE flags = ace[1];
    bool allows = type == ACE_TYPE_ALLOWED || type == ACE_TYPE_ALLOWED_CALLBACK || type == 0x04 ||
                  type == 0x05 || type == 0x0B;
    if (!allows || (flags & ACE_INHERIT_ONLY) != 0)
        return false;
    if (aceSize < ACE_HEADER_SIZE + 4 || (dwordAt(ace + 4) & CHANGING_RIGHTS) == 0)
        return false;
    if (type != ACE_TYPE_ALLOWED && type != ACE_TYPE_ALLOWED_CALLBACK)
        return true;
    const DWORD sidAt = ACE_HEADER_SIZE + 4;
    return aceSize <= sidAt || !isTrusted(ace + sidAt, aceSize - sidAt, alsoTrusted);
}

} // namespace

const BYTE ADMINISTRATORS_SID[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};

DWORD sidLength(const BYTE* bytes, DWORD size) {
    if (!bytes || size < 8 || bytes[0] != 1 || bytes[1] > 15)
        return 0;
    DWORD length = 8 + 4 * static_cast<DWORD>(bytes[1]);
    return length <= size ? length : 0;
}

bool isAdministrativeSid(const BYTE* sid, DWORD size) {
    if (sidLength(sid, size) == 0)
        return false;
    return isSid(sid, kSystem) || isSid(sid, kAdministrators) || isSid(sid, kPowerUsers) ||
           isSid(sid, kTrustedInstaller);
}

bool ownedByAdministrators(const BYTE* descriptor, DWORD size) {
    DWORD room = 0;
    const BYTE* owner = ownerOf(descriptor, size, &room);
    return owner && isAdministrativeSid(owner, room);
}

bool onlyAdministratorsMayChange(const BYTE* descriptor, DWORD size, const BYTE* alsoTrusted) {
    DWORD room = 0;
    const BYTE* owner = ownerOf(descriptor, size, &room);
    if (!owner || !isTrusted(owner, room, alsoTrusted))
        return false;
    if ((wordAt(descriptor + 2) & CONTROL_DACL_PRESENT) == 0)
        return false;
    const BYTE* acl = partAt(descriptor, size, DACL_OFFSET_AT, &room);
    if (!acl || room < ACL_HEADER_SIZE)
        return false; // a null access list grants everyone everything
    DWORD aclSize = wordAt(acl + 2);
    if (aclSize < ACL_HEADER_SIZE || aclSize > room)
        return false;
    DWORD at = ACL_HEADER_SIZE;
    for (DWORD count = wordAt(acl + 4); count > 0; --count) {
        if (aclSize - at < ACE_HEADER_SIZE)
            return false;
        DWORD aceSize = wordAt(acl + at + 2);
        if (aceSize < ACE_HEADER_SIZE || aceSize > aclSize - at)
            return false;
        if (aceLetsOthersChange(acl + at, aceSize, alsoTrusted))
            return false;
        at += aceSize;
    }
    return true;
}

void buildAdminOnlyDescriptor(BYTE (&descriptor)[ADMIN_ONLY_DESCRIPTOR_SIZE]) {
    // Header | owner: Administrators (16) | DACL: header (8), SYSTEM (20), Administrators (24).
    static const BYTE kSystemSid[12] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    const DWORD ownerAt = DESCRIPTOR_HEADER_SIZE;
    const DWORD aclAt = ownerAt + sizeof ADMINISTRATORS_SID;
    const DWORD systemAceSize = ACE_HEADER_SIZE + 4 + sizeof kSystemSid;
    const DWORD adminAceSize = ACE_HEADER_SIZE + 4 + sizeof ADMINISTRATORS_SID;
    memset(descriptor, 0, sizeof descriptor);
    descriptor[0] = 1;
    putWord(descriptor + 2, CONTROL_SELF_RELATIVE | CONTROL_DACL_PROTECTED | CONTROL_DACL_PRESENT);
    putDword(descriptor + OWNER_OFFSET_AT, ownerAt);
    putDword(descriptor + DACL_OFFSET_AT, aclAt);
    memcpy(descriptor + ownerAt, ADMINISTRATORS_SID, sizeof ADMINISTRATORS_SID);

    BYTE* acl = descriptor + aclAt;
    acl[0] = 2; // ACL_REVISION
    putWord(acl + 2, static_cast<WORD>(ACL_HEADER_SIZE + systemAceSize + adminAceSize));
    putWord(acl + 4, 2);
    BYTE* ace = acl + ACL_HEADER_SIZE;
    putWord(ace + 2, static_cast<WORD>(systemAceSize));
    putDword(ace + 4, MUTEX_FULL_ACCESS);
    memcpy(ace + 8, kSystemSid, sizeof kSystemSid);
    ace += systemAceSize;
    putWord(ace + 2, static_cast<WORD>(adminAceSize));
    putDword(ace + 4, MUTEX_FULL_ACCESS);
    memcpy(ace + 8, ADMINISTRATORS_SID, sizeof ADMINISTRATORS_SID);
}
