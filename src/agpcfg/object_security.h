// Who may change a file or a kernel object, read from its security descriptor in the
// self-relative form that GetFileSecurityA and GetKernelObjectSecurity give, and the descriptor
// the program puts on the objects it creates. The layouts of descriptors, ACLs, ACEs and SIDs are
// Windows' documented binary formats; parsing them here keeps the rule one portable function.
#pragma once

#include "platform/platform.h"

// SECURITY_INFORMATION bits and the access rights the rule looks at.
enum : DWORD {
    OWNER_INFORMATION = 0x00000001,
    DACL_INFORMATION = 0x00000004,
    // Rights that change what a file or folder holds or who may do so: write and append data
    // (add file and add subfolder on a folder), delete, delete a child, WRITE_DAC, WRITE_OWNER,
    // and the generic rights that include them.
    CHANGING_RIGHTS = 0x00000002 | 0x00000004 | 0x00000040 | 0x00010000 | 0x00040000 | 0x00080000 |
                      0x10000000 | 0x40000000,
};

// SYSTEM, Administrators, TrustedInstaller, or Power Users (who on Windows 2000 and XP may change
// Program Files and, as Windows documents, can make themselves administrators): the accounts
// that may already do whatever a program elevated at log-on could.
bool isAdministrativeSid(const BYTE* sid, DWORD size);

// Whether only administrative accounts (and `alsoTrusted`, when not null) may change what the
// descriptor guards: its owner, who may always rewrite its access list, and every allow entry
// that applies to the object itself and grants a changing right. A missing or null access list
// lets everyone in; a descriptor that cannot be read counts as unsafe.
bool onlyAdministratorsMayChange(const BYTE* descriptor, DWORD size, const BYTE* alsoTrusted);

// Whether the descriptor names an administrative owner.
bool ownedByAdministrators(const BYTE* descriptor, DWORD size);

// The descriptor of the objects the runs that use the driver share: owned by Administrators,
// full access for SYSTEM and Administrators only, nothing inherited.
enum : DWORD { ADMIN_ONLY_DESCRIPTOR_SIZE = 88 };
void buildAdminOnlyDescriptor(BYTE (&descriptor)[ADMIN_ONLY_DESCRIPTOR_SIZE]);

// Builtin\Administrators (S-1-5-32-544) in its binary form.
extern const BYTE ADMINISTRATORS_SID[16];

// A SID in its binary form: revision 1, the authority, at most 15 sub-authorities.
enum : DWORD { MAX_SID_SIZE = 8 + 15 * 4 };
// The length of a well-formed SID that starts `bytes`, 0 when it is not one or runs past `size`.
DWORD sidLength(const BYTE* bytes, DWORD size);
