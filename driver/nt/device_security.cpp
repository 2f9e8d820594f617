// The device's DACL: GENERIC_ALL to SYSTEM and to Administrators, and to no one else.
#include "tavrol_driver.h"

namespace {

// A SID with room for two sub-authorities, built in place so no allocation is needed.
struct SmallSid {
    UCHAR revision;
    UCHAR subAuthorityCount;
    SID_IDENTIFIER_AUTHORITY authority;
    ULONG subAuthority[2];
};

const SmallSid localSystem = {
    SID_REVISION, 1, SECURITY_NT_AUTHORITY, {SECURITY_LOCAL_SYSTEM_RID, 0}};
const SmallSid administrators = {
    SID_REVISION, 2, SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};

PSID asSid(const SmallSid& sid) {
    return const_cast<SmallSid*>(&sid);
}

} // namespace

NTSTATUS tavrolSecureDevice(PDEVICE_OBJECT device) {
    // Two ACEs of at most 8 + 16 bytes each behind the 8-byte ACL header; the ACL must be
    // dword aligned.
    ULONG aclBuffer[32];
    const ULONG aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(ULONG)) +
                          RtlLengthSid(asSid(localSystem)) + RtlLengthSid(asSid(administrators));
    PACL acl = reinterpret_cast<PACL>(aclBuffer);
    SECURITY_DESCRIPTOR descriptor;

    NTSTATUS status = RtlCreateAcl(acl, aclSize, ACL_REVISION);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, asSid(localSystem));
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, asSid(administrators));
    if (NT_SUCCESS(status))
        status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (NT_SUCCESS(status))
        status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
    if (!NT_SUCCESS(status))
        return status;

    HANDLE handle = nullptr;
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr,
                                   KernelMode, &handle);
    if (!NT_SUCCESS(status))
        return status;
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
    ZwClose(handle);
    return status;
}
