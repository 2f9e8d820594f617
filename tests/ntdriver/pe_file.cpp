#include "ntdriver/pe_file.h"

#include <cstring>

namespace ntdriver {
namespace {

bool inFile(const std::vector<uint8_t>& file, uint64_t offset, uint64_t size) {
    return offset <= file.size() && size <= file.size() - offset;
}

uint32_t le(const std::vector<uint8_t>& bytes, uint64_t offset, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | bytes[offset + i];
    return value;
}

// File offset of an RVA inside a section's raw data; false when no section holds `size` bytes of
// it.
bool rvaToOffset(const PeFile& pe, uint32_t rva, uint32_t size, uint32_t* offset) {
    for (const PeSection& s : pe.sections)
        if (rva >= s.virtualAddress && rva - s.virtualAddress + uint64_t(size) <= s.rawSize) {
            *offset = s.rawOffset + (rva - s.virtualAddress);
            return true;
        }
    return false;
}

std::string cString(const std::vector<uint8_t>& file, uint32_t offset) {
    std::string text;
    while (offset < file.size() && file[offset] && text.size() < 256)
        text += static_cast<char>(file[offset++]);
    return text;
}

bool readImports(const std::vector<uint8_t>& file, PeFile* pe, std::string* error) {
    if (!pe->importRva)
        return true;
    const uint32_t thunkSize = pe->pe32Plus ? 8 : 4;
    for (uint32_t rva = pe->importRva;; rva += 20) {
        uint32_t at;
        if (!rvaToOffset(*pe, rva, 20, &at))
            return *error = "the import directory lies outside the sections", false;
        const uint32_t lookup = le(file, at, 4), nameRva = le(file, at + 12, 4),
                       iat = le(file, at + 16, 4);
        if (!nameRva && !iat)
            return true;
        uint32_t nameAt;
        if (!rvaToOffset(*pe, nameRva, 1, &nameAt))
            return *error = "an import's library name lies outside the sections", false;
        const std::string dll = cString(file, nameAt);
        for (uint32_t i = 0;; ++i) {
            uint32_t thunkAt;
            if (!rvaToOffset(*pe, (lookup ? lookup : iat) + i * thunkSize, thunkSize, &thunkAt))
                return *error = "the imports of " + dll + " run outside the sections", false;
            const uint32_t low = le(file, thunkAt, 4),
                           high = thunkSize == 8 ? le(file, thunkAt + 4, 4) : 0;
            if (!low && !high)
                break;
            if ((thunkSize == 8 ? high : low) & 0x80000000u)
                return *error = "an import from " + dll + " by ordinal", false;
            uint32_t hintAt;
            if (!rvaToOffset(*pe, low + 2, 1, &hintAt))
                return *error = "an import name of " + dll + " lies outside the sections", false;
            pe->imports.push_back({dll, cString(file, hintAt), iat + i * thunkSize});
        }
    }
}

} // namespace

const PeSection* PeFile::section(const std::string& name) const {
    for (const PeSection& s : sections)
        if (s.name == name)
            return &s;
    return nullptr;
}

bool parsePe(const std::vector<uint8_t>& file, PeFile* pe, std::string* error) {
    *pe = PeFile();
    if (!inFile(file, 0, 64) || file[0] != 'M' || file[1] != 'Z')
        return *error = "no MZ header", false;
    const uint32_t nt = le(file, 0x3C, 4);
    if (!inFile(file, nt, 24) || le(file, nt, 4) != 0x4550)
        return *error = "no PE header", false;
    pe->machine = static_cast<uint16_t>(le(file, nt + 4, 2));
    const uint32_t sectionCount = le(file, nt + 6, 2), optionalSize = le(file, nt + 20, 2);
    pe->timestampOffset = nt + 8;
    const uint32_t opt = nt + 24;
    if (!inFile(file, opt, optionalSize) || optionalSize < 96)
        return *error = "the optional header lies outside the file", false;
    const uint32_t magic = le(file, opt, 2);
    if (magic != 0x10B && magic != 0x20B)
        return *error = "neither PE32 nor PE32+", false;
    pe->pe32Plus = magic == 0x20B;
    pe->entryRva = le(file, opt + 16, 4);
    pe->imageBase = pe->pe32Plus ? (uint64_t(le(file, opt + 28, 4)) << 32 | le(file, opt + 24, 4))
                                 : le(file, opt + 28, 4);
    pe->sizeOfImage = le(file, opt + 56, 4);
    pe->sizeOfHeaders = le(file, opt + 60, 4);
    pe->checksumOffset = opt + 64;
    pe->subsystem = static_cast<uint16_t>(le(file, opt + 68, 2));
    const uint32_t dirs = opt + (pe->pe32Plus ? 112 : 96);
    const uint32_t dirCount = le(file, dirs - 4, 4);
    if (dirCount < 6 || dirs + 8 * 6 > opt + optionalSize)
        return *error = "too few data directories", false;
    pe->importRva = le(file, dirs + 8, 4);
    pe->relocRva = le(file, dirs + 40, 4);
    pe->relocSize = le(file, dirs + 44, 4);
    const uint32_t table = opt + optionalSize;
    if (!inFile(file, table, uint64_t(sectionCount) * 40))
        return *error = "the section table lies outside the file", false;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const uint32_t at = table + 40 * i;
        PeSection s;
        s.name = std::string(reinterpret_cast<const char*>(&file[at]),
                             strnlen(reinterpret_cast<const char*>(&file[at]), 8));
        s.virtualSize = le(file, at + 8, 4);
        s.virtualAddress = le(file, at + 12, 4);
        s.rawSize = le(file, at + 16, 4);
        s.rawOffset = le(file, at + 20, 4);
        s.characteristics = le(file, at + 36, 4);
        if (!inFile(file, s.rawOffset, s.rawSize) ||
            uint64_t(s.virtualAddress) + std::max(s.virtualSize, s.rawSize) > pe->sizeOfImage)
            return *error = "section " + s.name + " lies outside the file or the image", false;
        pe->sections.push_back(s);
    }
    return readImports(file, pe, error);
}

bool mapPe(const std::vector<uint8_t>& file, const PeFile& pe, uint64_t base,
           const ImportResolver& resolve, std::vector<uint8_t>* image, std::string* error) {
    image->assign(pe.sizeOfImage, 0);
    if (pe.sizeOfHeaders > file.size() || pe.sizeOfHeaders > pe.sizeOfImage)
        return *error = "the headers do not fit", false;
    std::memcpy(image->data(), file.data(), pe.sizeOfHeaders);
    for (const PeSection& s : pe.sections)
        std::memcpy(image->data() + s.virtualAddress, file.data() + s.rawOffset,
                    s.virtualSize ? std::min(s.rawSize, s.virtualSize) : s.rawSize);

    // Base relocations: blocks of a page RVA, a size and 16-bit entries (type, offset in page).
    const uint64_t delta = base - pe.imageBase;
    std::vector<uint8_t>& m = *image;
    for (uint32_t block = pe.relocRva; block < pe.relocRva + pe.relocSize;) {
        if (uint64_t(block) + 8 > m.size())
            return *error = "a relocation block lies outside the image", false;
        const uint32_t page = le(m, block, 4), size = le(m, block + 4, 4);
        if (size < 8 || uint64_t(block) + size > m.size())
            return *error = "a relocation block of a bad size", false;
        for (uint32_t at = block + 8; at + 2 <= block + size; at += 2) {
            const uint32_t entry = le(m, at, 2), type = entry >> 12, where = page + (entry & 0xFFF);
            const uint32_t width = type == 3 ? 4 : type == 10 ? 8 : 0;
            if (type == 0)
                continue;
            if (!width)
                return *error = "relocation type " + std::to_string(type), false;
            if (uint64_t(where) + width > m.size())
                return *error = "a relocation lies outside the image", false;
            uint64_t value = 0;
            std::memcpy(&value, &m[where], width);
            value += delta;
            std::memcpy(&m[where], &value, width);
        }
        block += size;
    }
    const uint32_t thunkSize = pe.pe32Plus ? 8 : 4;
    for (const PeImport& import : pe.imports) {
        const uint64_t address = resolve(import.dll, import.name);
        if (!address)
            return *error = "the driver imports " + import.dll + "!" + import.name +
                            ", which the emulated kernel does not provide",
                   false;
        std::memcpy(&m[import.iatRva], &address, thunkSize);
    }
    return true;
}

uint32_t peChecksum(const std::vector<uint8_t>& file, const PeFile& pe) {
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i == pe.checksumOffset || i == pe.checksumOffset + 2)
            continue;
        sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + file.size());
}

} // namespace ntdriver
