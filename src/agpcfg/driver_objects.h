// The machine-wide objects that the runs using the driver share: a lock that makes "install" and
// "remove" one step each, and a users object that exists for as long as some run holds the
// driver. Only administrators may make them; one that anybody else made first is refused.
#pragma once

#include "platform/platform.h"

#define DRIVER_LOCK_NAME "TavrolinDriverLock"
#define DRIVER_USERS_NAME "TavrolinDriverUsers"
// The alias of the private namespace the objects live in from Windows Vista on.
#define DRIVER_NAMESPACE_ALIAS "TavrolinDriver"

// Creates or opens the object. Null when it cannot be had, or when it exists with an owner other
// than SYSTEM or Administrators (last error ERROR_ACCESS_DENIED): someone made it first to stop
// or fool our runs. *existed tells whether another run had made it.
HANDLE openDriverObject(const char* name, bool* existed);

// The lock, held; null when it could not be had in time or was refused.
HANDLE takeDriverLock();
void releaseDriverLock(HANDLE lock);

// Whether a run of ours other than this one holds the users object. An object that cannot be
// opened counts as held: removing the driver on a guess could pull it from under a run.
bool otherRunUsesDriver();

// Gives up the private namespace once this run holds none of the objects any more.
void closeDriverNamespace();
