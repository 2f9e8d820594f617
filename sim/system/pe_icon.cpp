// Decoder of RT_ICON images: a BITMAPINFOHEADER, a colour table, the XOR bitmap and the AND mask.
#include "sim/pe_module.h"

namespace sim {
namespace {

const size_t kInfoHeaderSize = 40;
const uint8_t kPngSignature[4] = {0x89, 'P', 'N', 'G'};

WORD word(const uint8_t* p) {
    return WORD(p[0] | (p[1] << 8));
}
DWORD dword(const uint8_t* p) {
    return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
}

// Bytes of one bitmap row: rows are padded to whole dwords.
size_t rowBytes(int width, int bitCount) {
    return ((size_t(width) * size_t(bitCount) + 31) / 32) * 4;
}

// The colour index or colour of pixel x of a XOR-bitmap row.
uint32_t xorPixel(const uint8_t* row, int x, int bitCount, const uint8_t* palette,
                  uint32_t paletteSize) {
    uint32_t index = 0;
    switch (bitCount) {
    case 32:
        return dword(row + size_t(x) * 4);
    case 24: {
        const uint8_t* p = row + size_t(x) * 3;
        return 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    }
    case 8:
        index = row[x];
        break;
    case 4:
        index = (row[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F;
        break;
    default: // 1
        index = (row[x / 8] >> (7 - x % 8)) & 1;
        break;
    }
    if (index >= paletteSize)
        return 0xFF000000u; // an index past the colour table draws black, as GDI does
    const uint8_t* q = palette + size_t(index) * 4;
    return 0xFF000000u | (uint32_t(q[2]) << 16) | (uint32_t(q[1]) << 8) | q[0];
}

} // namespace

bool decodeIconImage(const uint8_t* data, size_t size, IconImage* image) {
    if (data == nullptr || size < kInfoHeaderSize)
        return false;
    if (data[0] == kPngSignature[0] && data[1] == kPngSignature[1] && data[2] == kPngSignature[2] &&
        data[3] == kPngSignature[3])
        return false;
    DWORD headerSize = dword(data);
    int32_t width = int32_t(dword(data + 4));
    int32_t doubleHeight = int32_t(dword(data + 8));
    WORD planes = word(data + 12);
    WORD bitCount = word(data + 14);
    DWORD compression = dword(data + 16);
    DWORD colorsUsed = dword(data + 32);
    if (headerSize < kInfoHeaderSize || headerSize > size || planes != 1 || compression != 0)
        return false;
    if (width <= 0 || width > 256 || doubleHeight <= 0 || doubleHeight > 512 || doubleHeight % 2)
        return false;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)
        return false;
    int height = doubleHeight / 2;
    uint32_t paletteSize = 0;
    if (bitCount <= 8) {
        uint32_t full = 1u << bitCount;
        paletteSize = colorsUsed == 0 || colorsUsed > full ? full : colorsUsed;
    }
    size_t paletteOffset = headerSize;
    size_t xorOffset = paletteOffset + size_t(paletteSize) * 4;
    size_t xorRow = rowBytes(width, bitCount);
    size_t andOffset = xorOffset + xorRow * size_t(height);
    size_t andRow = rowBytes(width, 1);
    if (andOffset + andRow * size_t(height) > size)
        return false;

    IconImage decoded;
    decoded.width = width;
    decoded.height = height;
    decoded.bitCount = bitCount;
    decoded.pixels.resize(size_t(width) * size_t(height));
    // Any alpha in a 32-bit image means the image carries its own transparency; otherwise the
    // AND mask decides which pixels are transparent.
    bool hasAlpha = false;
    for (int y = 0; y < height; ++y) {
        // Bitmap rows are stored bottom-up.
        const uint8_t* xr = data + xorOffset + xorRow * size_t(height - 1 - y);
        const uint8_t* ar = data + andOffset + andRow * size_t(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            uint32_t colour = xorPixel(xr, x, bitCount, data + paletteOffset, paletteSize);
            if (bitCount == 32 && (colour >> 24) != 0)
                hasAlpha = true;
            bool transparent = (ar[x / 8] >> (7 - x % 8)) & 1;
            decoded.pixels[size_t(y) * size_t(width) + size_t(x)] =
                bitCount == 32 ? colour : (transparent ? 0u : colour);
        }
    }
    if (bitCount == 32 && !hasAlpha) {
        for (int y = 0; y < height; ++y) {
            const uint8_t* ar = data + andOffset + andRow * size_t(height - 1 - y);
            for (int x = 0; x < width; ++x) {
                uint32_t& p = decoded.pixels[size_t(y) * size_t(width) + size_t(x)];
                p = ((ar[x / 8] >> (7 - x % 8)) & 1) ? 0u : (p | 0xFF000000u);
            }
        }
    }
    *image = std::move(decoded);
    return true;
}

} // namespace sim
