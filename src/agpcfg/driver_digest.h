// The kernel driver file the program accepts: SHA-256 digests of the driver images built with it.
#pragma once

#include "platform/platform.h"

enum : DWORD { SHA256_DIGEST_SIZE = 32 };

// SHA-256 (FIPS 180-4) over data given in pieces.
struct Sha256 {
    DWORD state[8];
    DWORD lengthLow; // bytes hashed so far, low and high dword
    DWORD lengthHigh;
    BYTE block[64];
    DWORD used; // bytes waiting in block
};

void sha256Start(Sha256* hash);
void sha256Add(Sha256* hash, const void* data, DWORD size);
void sha256Finish(Sha256* hash, BYTE digest[SHA256_DIGEST_SIZE]);

struct DriverDigest {
    BYTE bytes[SHA256_DIGEST_SIZE];
};

enum : DWORD { MAX_ACCEPTED_DRIVERS = 8 };

// The table of the executable: each build of the program lists the drivers built in its tree
// (the release program its TAVROL.sys only). Generated at build time. Its size is fixed, so that
// two builds of the program that accept different drivers differ in the table's bytes alone.
struct AcceptedDriverTable {
    DWORD count;
    DriverDigest drivers[MAX_ACCEPTED_DRIVERS];
};
extern const AcceptedDriverTable acceptedDriverTable;

// Whether an image is one of the accepted drivers.
bool isAcceptedDriver(const BYTE* image, DWORD size);
