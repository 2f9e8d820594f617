// The LE ("linear executable") image of a Windows 9x virtual device driver, read as the VMM's
// loader reads it: objects with their pages, the names, the entry table and the internal fixups.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct LeObject {
    uint32_t virtualSize = 0;
    uint32_t flags = 0;
    uint32_t firstPage = 0; // 1-based index into the object page table
    uint32_t pageCount = 0;
    std::vector<uint8_t> data; // virtualSize bytes: the file's pages, zeros past them
};

struct LeEntry {
    uint32_t ordinal = 0;
    uint32_t object = 0; // 1-based
    uint32_t offset = 0;
    uint8_t flags = 0;
};

// An internal fixup: the loader writes the linear address of (targetObject, targetOffset) into
// the dword at sourceOffset of sourceObject. A fixup that crosses a page boundary is listed once
// for each page, as the file lists it.
struct LeFixup {
    uint32_t sourceObject = 0; // 1-based
    uint32_t sourceOffset = 0; // from the start of the object
    uint32_t targetObject = 0; // 1-based
    uint32_t targetOffset = 0;
};

struct LeName {
    std::string name;
    uint32_t ordinal = 0;
};

struct LeImage {
    uint32_t headerOffset = 0; // of the LE header in the file
    uint32_t cpu = 0, os = 0, moduleFlags = 0;
    uint32_t pageSize = 0, pageCount = 0, lastPageSize = 0, preloadPages = 0;
    uint32_t deviceId = 0, ddkVersion = 0;
    std::vector<LeObject> objects;
    std::vector<LeName> residentNames; // the first is the module name, ordinal 0
    std::vector<LeName> nonResidentNames;
    std::vector<LeEntry> entries;
    std::vector<LeFixup> fixups;

    const std::string& moduleName() const;
    // The entry with that ordinal, or null.
    const LeEntry* entry(uint32_t ordinal) const;
};

// Reads an LE image. Refuses, with the reason in `error`, anything the loader could not place:
// a file too short for what its header announces, a page or table outside the file, page types
// other than present or zero-filled, entries and fixups of kinds a VxD does not use, and fixups
// whose source or target lies outside their object.
bool parseLeImage(const std::vector<uint8_t>& file, LeImage* image, std::string* error);

} // namespace sim
