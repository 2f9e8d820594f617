// Builds small PE32 resource libraries in memory for the loader's tests, and reads files.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace testpe {

// A resource type or name: an integer ID, or a string when `name` is not empty.
struct Key {
    uint16_t id = 0;
    std::u16string name;
    Key(int i) : id(uint16_t(i)) {}
    Key(const char16_t* n) : name(n) {}
};

struct Resource {
    Key type;
    Key name;
    uint16_t language;
    std::vector<uint8_t> data;
};

// Where the parts of a built image lie, for tests that damage them.
enum : uint32_t {
    kPeHeaderOffset = 0x40,
    kOptionalHeaderOffset = kPeHeaderOffset + 4 + 20,
    kSectionTableOffset = kOptionalHeaderOffset + 224,
    kResourceFileOffset = 0x200, // the resource directory's root, in the file
    kResourceRva = 0x1000,
};

// A resource-only DLL holding `resources` (grouped by type, name and language as they come).
std::vector<uint8_t> buildLibrary(const std::vector<Resource>& resources);

// An RT_STRING block: the 16 counted UTF-16 strings of IDs (block - 1) * 16 .. + 15.
std::vector<uint8_t> stringBlock(const std::vector<std::u16string>& strings);

void put16(std::vector<uint8_t>* bytes, size_t offset, uint16_t value);
void put32(std::vector<uint8_t>* bytes, size_t offset, uint32_t value);
uint16_t get16(const std::vector<uint8_t>& bytes, size_t offset);
uint32_t get32(const std::vector<uint8_t>& bytes, size_t offset);

std::vector<uint8_t> readFile(const std::string& hostPath);
bool writeFile(const std::string& hostPath, const std::vector<uint8_t>& bytes);

} // namespace testpe
