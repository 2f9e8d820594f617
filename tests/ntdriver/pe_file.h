// One reader of the shipped PE images, PE32 and PE32+: headers and sections for comparing two
// images, and a loader that places a kernel driver at any base as the NT loader does (sections,
// base relocations, imports bound to addresses a resolver gives).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ntdriver {

struct PeSection {
    std::string name;
    uint32_t virtualAddress = 0, virtualSize = 0;
    uint32_t rawOffset = 0, rawSize = 0;
    uint32_t characteristics = 0;
};

struct PeImport {
    std::string dll, name;
    uint32_t iatRva = 0; // where the loader writes the address
};

struct PeFile {
    uint16_t machine = 0; // 0x14C i386, 0x8664 x86-64
    bool pe32Plus = false;
    uint32_t timestampOffset = 0; // file offsets of the fields the linker stamps
    uint32_t checksumOffset = 0;
    uint64_t imageBase = 0;
    uint32_t sizeOfImage = 0, sizeOfHeaders = 0, entryRva = 0;
    uint16_t subsystem = 0;
    uint32_t relocRva = 0, relocSize = 0, importRva = 0;
    std::vector<PeSection> sections;
    std::vector<PeImport> imports;
    const PeSection* section(const std::string& name) const;
};

// Parses headers, sections and the import table; false with the reason for anything malformed.
bool parsePe(const std::vector<uint8_t>& file, PeFile* pe, std::string* error);

// The image as the loader maps it at `base`: headers and sections in place, every base relocation
// applied, every import bound by `resolve` (0: the import is unknown, and the load fails naming
// it).
typedef std::function<uint64_t(const std::string& dll, const std::string& name)> ImportResolver;
bool mapPe(const std::vector<uint8_t>& file, const PeFile& pe, uint64_t base,
           const ImportResolver& resolve, std::vector<uint8_t>* image, std::string* error);

// The PE checksum as the NT loader checks it for a driver: 16-bit one's-complement sum of the file
// with the checksum field taken as zero, plus the file's length.
uint32_t peChecksum(const std::vector<uint8_t>& file, const PeFile& pe);

} // namespace ntdriver
