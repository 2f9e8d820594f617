// user32's resource loaders of the simulated PC: LoadStringA and LoadIconA.
#include "sim/pe_module.h"

namespace sim {
namespace {

const UINT kStringsPerBlock = 16;

// Windows-1252 for the UTF-16 range 0x80..0x9F that differs from Latin-1; indexed by byte - 0x80.
// Zero marks the five bytes that Windows maps to the same-numbered control character.
const WORD kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// One UTF-16 unit in the ANSI code page; '?' for what Windows-1252 cannot show.
char toAnsi(WORD c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == c || (kCp1252High[i] == 0 && c == 0x80 + i))
            return char(0x80 + i);
    }
    return '?';
}

// Finds string `id` in its block: its UTF-16 units and their count. False when the block is
// missing or too short to hold the string.
bool findString(HINSTANCE instance, UINT id, const uint8_t** units, DWORD* count) {
    DWORD size = 0;
    const uint8_t* block =
        resourceData(instance, RT_STRING, MAKEINTRESOURCEA(id / kStringsPerBlock + 1), &size);
    if (block == nullptr)
        return false;
    DWORD offset = 0;
    for (UINT index = 0;; ++index) {
        if (size - offset < 2)
            return false;
        DWORD length = DWORD(block[offset] | (block[offset + 1] << 8));
        if ((size - offset - 2) / 2 < length)
            return false;
        if (index == id % kStringsPerBlock) {
            *units = block + offset + 2;
            *count = length;
            return true;
        }
        offset += 2 + length * 2;
    }
}

} // namespace
} // namespace sim

using namespace sim;

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
    if (bufferMax == 0)
        return -1; // the ANSI loader has no read-only pointer form; Windows answers -1
    if (buffer == nullptr || bufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const uint8_t* units = nullptr;
    DWORD count = 0;
    int copied = 0;
    if (findString(instance, LOWORD(id), &units, &count)) {
        DWORD room = DWORD(bufferMax - 1);
        for (DWORD i = 0; i < count && i < room; ++i)
            buffer[copied++] = toAnsi(WORD(units[i * 2] | (units[i * 2 + 1] << 8)));
    }
    buffer[copied] = '\0';
    return copied;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR iconName) {
    if (iconName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return loadSharedIcon(instance, iconName);
}
