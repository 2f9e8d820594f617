// Reads the LE image of a virtual device driver: MZ stub, LE header, object and page tables,
// resident and non-resident names, entry table, fixup page and record tables, data pages.
#include "sim/le_image.h"

#include <cstdio>

namespace sim {

namespace {

const uint32_t kLeHeaderSize = 0xC4;
const uint32_t kMaxObjectSize = 16u * 1024 * 1024;
const uint8_t kPagePresent = 0, kPageZeroFilled = 3;
const uint8_t kBundleEmpty = 0, kBundle32 = 3;
const uint8_t kFixupOffset32 = 0x07;
const uint8_t kFixupTarget32 = 0x10, kFixupObject16 = 0x40;

// Bounds-checked little-endian reads; the first failure sticks and names what was read.
class Reader {
  public:
    Reader(const std::vector<uint8_t>& file, std::string* error) : m_file(file), m_error(error) {}

    bool ok() const { return m_ok; }
    bool fail(const std::string& why) {
        if (m_ok)
            *m_error = "LE image: " + why;
        m_ok = false;
        return false;
    }
    bool has(uint64_t offset, uint64_t length, const char* what) {
        if (m_ok && offset + length > m_file.size())
            fail(std::string(what) + " lies outside the file");
        return m_ok;
    }
    uint32_t u8(uint64_t offset, const char* what) { return get(offset, 1, what); }
    uint32_t u16(uint64_t offset, const char* what) { return get(offset, 2, what); }
    uint32_t u32(uint64_t offset, const char* what) { return get(offset, 4, what); }
    const uint8_t* bytes(uint64_t offset) const { return m_file.data() + offset; }

  private:
    uint32_t get(uint64_t offset, int length, const char* what) {
        if (!has(offset, length, what))
            return 0;
        uint32_t value = 0;
        for (int i = length - 1; i >= 0; --i)
            value = (value << 8) | m_file[offset + i];
        return value;
    }

    const std::vector<uint8_t>& m_file;
    std::string* m_error;
    bool m_ok = true;
};

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// A name table: length-prefixed names with their ordinals, ended by a zero length.
bool readNames(Reader& in, uint64_t at, std::vector<LeName>* names, const char* what) {
    for (;;) {
        uint32_t length = in.u8(at, what);
        if (!in.ok() || length == 0)
            return in.ok();
        if (!in.has(at + 1, length + 2, what))
            return false;
        LeName name;
        name.name.assign(reinterpret_cast<const char*>(in.bytes(at + 1)), length);
        name.ordinal = in.u16(at + 1 + length, what);
        names->push_back(name);
        at += 1 + length + 2;
    }
}

bool readObjects(Reader& in, LeImage* image, uint64_t header, uint64_t dataPages) {
    uint64_t table = header + in.u32(header + 0x40, "header");
    uint32_t count = in.u32(header + 0x44, "header");
    uint64_t pageTable = header + in.u32(header + 0x48, "header");
    if (count == 0 || count > 255)
        return in.fail("object count " + std::to_string(count));
    for (uint32_t i = 0; i < count && in.ok(); ++i) {
        uint64_t at = table + i * 24;
        LeObject object;
        object.virtualSize = in.u32(at, "object table");
        object.flags = in.u32(at + 8, "object table");
        object.firstPage = in.u32(at + 12, "object table");
        object.pageCount = in.u32(at + 16, "object table");
        if (!in.ok())
            return false;
        // Pages may stop short of the virtual size (the rest is zeros) but not run past it.
        uint64_t covered = static_cast<uint64_t>(object.pageCount) * image->pageSize;
        if (object.virtualSize > kMaxObjectSize ||
            covered >= static_cast<uint64_t>(object.virtualSize) + image->pageSize ||
            object.firstPage == 0 || object.firstPage - 1 + object.pageCount > image->pageCount)
            return in.fail("object " + std::to_string(i + 1) + " does not fit its pages");
        object.data.assign(object.virtualSize, 0);
        for (uint32_t p = 0; p < object.pageCount && in.ok(); ++p) {
            uint64_t entry = pageTable + (object.firstPage - 1 + p) * 4;
            uint32_t number = (in.u8(entry, "page table") << 16) |
                              (in.u8(entry + 1, "page table") << 8) |
                              in.u8(entry + 2, "page table");
            uint8_t type = static_cast<uint8_t>(in.u8(entry + 3, "page table"));
            if (!in.ok() || type == kPageZeroFilled)
                continue;
            if (type != kPagePresent || number == 0 || number > image->pageCount)
                return in.fail("page " + std::to_string(object.firstPage + p) + " of type " +
                               std::to_string(type) + " and number " + std::to_string(number));
            uint32_t length = number == image->pageCount ? image->lastPageSize : image->pageSize;
            uint64_t from = dataPages + static_cast<uint64_t>(number - 1) * image->pageSize;
            if (!in.has(from, length, "a data page"))
                return false;
            uint64_t place = static_cast<uint64_t>(p) * image->pageSize;
            for (uint32_t b = 0; b < length && place + b < object.virtualSize; ++b)
                object.data[place + b] = in.bytes(from)[b];
        }
        image->objects.push_back(object);
    }
    return in.ok();
}

bool readEntries(Reader& in, LeImage* image, uint64_t at) {
    uint32_t ordinal = 1;
    for (;;) {
        uint32_t count = in.u8(at, "entry table");
        if (!in.ok() || count == 0)
            return in.ok();
        uint32_t type = in.u8(at + 1, "entry table");
        if (type == kBundleEmpty) {
            ordinal += count;
            at += 2;
            continue;
        }
        if (type != kBundle32)
            return in.fail("entry bundle of type " + std::to_string(type));
        uint32_t object = in.u16(at + 2, "entry table");
        at += 4;
        for (uint32_t i = 0; i < count && in.ok(); ++i, at += 5) {
            LeEntry entry;
            entry.ordinal = ordinal++;
            entry.object = object;
            entry.flags = static_cast<uint8_t>(in.u8(at, "entry table"));
            entry.offset = in.u32(at + 1, "entry table");
            if (object == 0 || object > image->objects.size() ||
                entry.offset >= image->objects[object - 1].virtualSize)
                return in.fail("entry " + std::to_string(entry.ordinal) + " lies outside object " +
                               std::to_string(object));
            image->entries.push_back(entry);
        }
    }
}

// The object that holds a module page (1-based), 0 for none.
uint32_t objectOfPage(const LeImage& image, uint32_t page, uint32_t* pageInObject) {
    for (size_t i = 0; i < image.objects.size(); ++i) {
        const LeObject& o = image.objects[i];
        if (page >= o.firstPage && page < o.firstPage + o.pageCount) {
            *pageInObject = page - o.firstPage;
            return static_cast<uint32_t>(i + 1);
        }
    }
    return 0;
}

bool readFixup(Reader& in, LeImage* image, uint64_t* at, uint32_t object, uint32_t pageInObject) {
    uint32_t source = in.u8(*at, "fixup record");
    uint32_t flags = in.u8(*at + 1, "fixup record");
    int32_t offset = static_cast<int16_t>(in.u16(*at + 2, "fixup record"));
    if (!in.ok())
        return false;
    if (source != kFixupOffset32 || (flags & ~(kFixupTarget32 | kFixupObject16)) != 0)
        return in.fail("fixup of source type " + hex(source) + " and flags " + hex(flags) +
                       " (only internal 32-bit offsets are supported)");
    *at += 4;
    LeFixup fixup;
    fixup.sourceObject = object;
    fixup.targetObject =
        flags & kFixupObject16 ? in.u16(*at, "fixup record") : in.u8(*at, "fixup record");
    *at += flags & kFixupObject16 ? 2 : 1;
    fixup.targetOffset =
        flags & kFixupTarget32 ? in.u32(*at, "fixup record") : in.u16(*at, "fixup record");
    *at += flags & kFixupTarget32 ? 4 : 2;
    int64_t place = static_cast<int64_t>(pageInObject) * image->pageSize + offset;
    const LeObject& from = image->objects[object - 1];
    if (place < 0 || place + 4 > from.virtualSize)
        return in.fail("fixup at " + hex(static_cast<uint32_t>(place)) + " of object " +
                       std::to_string(object) + " lies outside it");
    if (fixup.targetObject == 0 || fixup.targetObject > image->objects.size() ||
        fixup.targetOffset >= image->objects[fixup.targetObject - 1].virtualSize)
        return in.fail("fixup at " + hex(static_cast<uint32_t>(place)) + " points outside object " +
                       std::to_string(fixup.targetObject));
    fixup.sourceOffset = static_cast<uint32_t>(place);
    image->fixups.push_back(fixup);
    return in.ok();
}

bool readFixups(Reader& in, LeImage* image, uint64_t header) {
    uint64_t pageTable = header + in.u32(header + 0x68, "header");
    uint64_t records = header + in.u32(header + 0x6C, "header");
    for (uint32_t page = 1; page <= image->pageCount && in.ok(); ++page) {
        uint64_t at = records + in.u32(pageTable + (page - 1) * 4, "fixup page table");
        uint64_t end = records + in.u32(pageTable + page * 4, "fixup page table");
        uint32_t pageInObject = 0;
        uint32_t object = objectOfPage(*image, page, &pageInObject);
        if (in.ok() && at != end && object == 0)
            return in.fail("fixups for page " + std::to_string(page) + ", which no object holds");
        if (in.ok() && (end < at || !in.has(at, end - at, "fixup records")))
            return in.fail("fixup records of page " + std::to_string(page));
        while (in.ok() && at < end)
            readFixup(in, image, &at, object, pageInObject);
        if (in.ok() && at != end)
            return in.fail("fixup records of page " + std::to_string(page) + " overrun their end");
    }
    return in.ok();
}

} // namespace

const std::string& LeImage::moduleName() const {
    static const std::string none;
    return residentNames.empty() ? none : residentNames.front().name;
}

const LeEntry* LeImage::entry(uint32_t ordinal) const {
    for (const LeEntry& e : entries)
        if (e.ordinal == ordinal)
            return &e;
    return nullptr;
}

bool parseLeImage(const std::vector<uint8_t>& file, LeImage* image, std::string* error) {
    *image = LeImage();
    Reader in(file, error);
    if (in.u16(0, "MZ header") != 0x5A4D)
        return in.fail("no MZ header");
    uint64_t header = in.u32(0x3C, "MZ header");
    if (!in.has(header, kLeHeaderSize, "LE header"))
        return false;
    if (in.u16(header, "header") != 0x454C)
        return in.fail("no LE header at " + hex(static_cast<uint32_t>(header)));
    if (in.u16(header + 2, "header") != 0 || in.u32(header + 4, "header") != 0)
        return in.fail("not a little-endian level 0 image");
    image->headerOffset = static_cast<uint32_t>(header);
    image->cpu = in.u16(header + 0x08, "header");
    image->os = in.u16(header + 0x0A, "header");
    image->moduleFlags = in.u32(header + 0x10, "header");
    image->pageCount = in.u32(header + 0x14, "header");
    image->pageSize = in.u32(header + 0x28, "header");
    image->lastPageSize = in.u32(header + 0x2C, "header");
    image->preloadPages = in.u32(header + 0x84, "header");
    image->deviceId = in.u16(header + 0xC0, "header");
    image->ddkVersion = in.u16(header + 0xC2, "header");
    if (image->pageSize != 4096 || image->pageCount == 0 || image->pageCount > 4096 ||
        image->lastPageSize == 0 || image->lastPageSize > image->pageSize)
        return in.fail("pages of " + std::to_string(image->pageSize) + " bytes, " +
                       std::to_string(image->pageCount) + " of them, the last of " +
                       std::to_string(image->lastPageSize));
    uint64_t dataPages = in.u32(header + 0x80, "header"); // from the start of the file
    return readObjects(in, image, header, dataPages) &&
           readNames(in, header + in.u32(header + 0x58, "header"), &image->residentNames,
                     "resident name table") &&
           (in.u32(header + 0x88, "header") == 0 ||
            readNames(in, in.u32(header + 0x88, "header"), &image->nonResidentNames,
                      "non-resident name table")) &&
           readEntries(in, image, header + in.u32(header + 0x5C, "header")) &&
           readFixups(in, image, header);
}

} // namespace sim
