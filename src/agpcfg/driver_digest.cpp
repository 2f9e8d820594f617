// SHA-256 and the check of a driver image against the digests the program was built with. The
// platforms the program runs on offer no SHA-256 of their own before Windows XP SP3.
#include "agpcfg/driver_digest.h"

#include <string.h>

namespace {

const DWORD kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline DWORD rotateRight(DWORD value, int count) {
    return (value >> count) | (value << (32 - count));
}

void compress(DWORD state[8], const BYTE block[64]) {
    DWORD w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = ((DWORD)block[4 * i] << 24) | ((DWORD)block[4 * i + 1] << 16) |
               ((DWORD)block[4 * i + 2] << 8) | block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        DWORD s0 = rotateRight(w[i - 15], 7) ^ rotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        DWORD s1 = rotateRight(w[i - 2], 17) ^ rotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    DWORD a = state[0], b = state[1], c = state[2], d = state[3];
    DWORD e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        DWORD t1 = h + (rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25)) +
                   ((e & f) ^ (~e & g)) + kRoundConstants[i] + w[i];
        DWORD t2 = (rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22)) +
                   ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

} // namespace

void sha256Start(Sha256* hash) {
    static const DWORD initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    memcpy(hash->state, initial, sizeof initial);
    hash->lengthLow = 0;
    hash->lengthHigh = 0;
    hash->used = 0;
}

void sha256Add(Sha256* hash, const void* data, DWORD size) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    DWORD low = hash->lengthLow + size;
    if (low < hash->lengthLow)
        ++hash->lengthHigh;
    hash->lengthLow = low;
    while (size > 0) {
        DWORD take = 64 - hash->used;
        if (take > size)
            take = size;
        memcpy(hash->block + hash->used, bytes, take);
        hash->used += take;
        bytes += take;
        size -= take;
        if (hash->used == 64) {
            compress(hash->state, hash->block);
            hash->used = 0;
        }
    }
}

void sha256Finish(Sha256* hash, BYTE digest[SHA256_DIGEST_SIZE]) {
    // The message length in bits, big-endian, taken before the padding is added.
    BYTE length[8];
    DWORD high = (hash->lengthHigh << 3) | (hash->lengthLow >> 29);
    DWORD low = hash->lengthLow << 3;
    for (int i = 0; i < 4; ++i) {
        length[i] = (BYTE)(high >> (24 - 8 * i));
        length[4 + i] = (BYTE)(low >> (24 - 8 * i));
    }
    static const BYTE padding[64] = {0x80};
    DWORD padded = hash->used < 56 ? 56 - hash->used : 120 - hash->used;
    sha256Add(hash, padding, padded);
    sha256Add(hash, length, sizeof length);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = (BYTE)(hash->state[i] >> (24 - 8 * j));
}

bool isAcceptedDriver(const BYTE* image, DWORD size) {
    Sha256 hash;
    BYTE digest[SHA256_DIGEST_SIZE];
    sha256Start(&hash);
    sha256Add(&hash, image, size);
    sha256Finish(&hash, digest);
    for (DWORD i = 0; i < acceptedDriverTable.count && i < MAX_ACCEPTED_DRIVERS; ++i)
        if (memcmp(acceptedDriverTable.drivers[i].bytes, digest, sizeof digest) == 0)
            return true;
    return false;
}
