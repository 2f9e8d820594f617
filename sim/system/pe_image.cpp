// PE file parser of the simulated PC: headers, section table and the resource tree, every offset
// checked against the file.
#include "sim/pe_module.h"

#include <string.h>

#include <fstream>
#include <iterator>
#include <map>

namespace sim {
namespace {

const DWORD kPeSignature = 0x00004550; // "PE\0\0"
const WORD kDosSignature = 0x5A4D;     // "MZ"
const WORD kPe32Magic = 0x010B;
const size_t kCoffHeaderSize = 20;
const size_t kSectionHeaderSize = 40;
const size_t kOptionalHeaderFixedSize = 96; // PE32 fields before the data directories
const size_t kResourceDirectorySize = 16;
const size_t kResourceEntrySize = 8;
const size_t kResourceDataEntrySize = 16;
const DWORD kHighBit = 0x80000000u;
// A name is copied into every resource below it; a longer one, shared by the thousands of entries
// a small file can hold, would make the file's few bytes stand for gigabytes.
const WORD kMaxResourceNameLength = 256;
const size_t kLargestModuleFile = 64u << 20;

// Little-endian reads from a span that the caller has already checked.
WORD word(const uint8_t* p) {
    return WORD(p[0] | (p[1] << 8));
}
DWORD dword(const uint8_t* p) {
    return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
}

// True when [offset, offset + length) lies inside a buffer of `size` bytes, without overflow.
bool fits(uint64_t offset, uint64_t length, uint64_t size) {
    return offset <= size && length <= size - offset;
}

class Parser {
  public:
    Parser(const uint8_t* data, size_t size, PeImage* image)
        : m_data(data), m_size(size), m_image(image) {}

    bool parse() { return headers() && sections() && resources(); }
    const char* why() const { return m_why; }

  private:
    bool fail(const char* why) {
        m_why = why;
        return false;
    }

    bool headers() {
        if (!fits(0, 64, m_size))
            return fail("file shorter than a DOS header");
        if (word(m_data) != kDosSignature)
            return fail("no MZ signature");
        DWORD pe = dword(m_data + 0x3C);
        if (!fits(pe, 4 + kCoffHeaderSize, m_size))
            return fail("PE header offset outside the file");
        if (dword(m_data + pe) != kPeSignature)
            return fail("no PE signature");
        const uint8_t* coff = m_data + pe + 4;
        m_image->machine = word(coff);
        m_sectionCount = word(coff + 2);
        WORD optionalSize = word(coff + 16);
        m_image->characteristics = word(coff + 18);
        m_optionalOffset = pe + 4 + kCoffHeaderSize;
        if (optionalSize < kOptionalHeaderFixedSize ||
            !fits(m_optionalOffset, optionalSize, m_size))
            return fail("optional header truncated");
        const uint8_t* opt = m_data + m_optionalOffset;
        if (word(opt) != kPe32Magic)
            return fail("not a PE32 optional header");
        m_image->entryPoint = dword(opt + 16);
        m_image->imageBase = dword(opt + 28);
        m_image->sizeOfImage = dword(opt + 56);
        m_image->subsystem = word(opt + 68);
        m_image->dllCharacteristics = word(opt + 70);
        DWORD count = dword(opt + 92);
        if (count > kDataDirectoryCount)
            count = kDataDirectoryCount;
        if (kOptionalHeaderFixedSize + size_t(count) * 8 > optionalSize)
            return fail("data directories run past the optional header");
        m_image->dataDirectoryCount = count;
        for (DWORD i = 0; i < count; ++i) {
            m_image->dataDirectoryRva[i] = dword(opt + kOptionalHeaderFixedSize + i * 8);
            m_image->dataDirectorySize[i] = dword(opt + kOptionalHeaderFixedSize + i * 8 + 4);
        }
        m_sectionTable = m_optionalOffset + optionalSize;
        return true;
    }

    bool sections() {
        if (m_sectionCount == 0 || m_sectionCount > 96)
            return fail("section count out of range");
        if (!fits(m_sectionTable, uint64_t(m_sectionCount) * kSectionHeaderSize, m_size))
            return fail("section table outside the file");
        for (WORD i = 0; i < m_sectionCount; ++i) {
            const uint8_t* s = m_data + m_sectionTable + size_t(i) * kSectionHeaderSize;
            PeSection section;
            section.name.assign(reinterpret_cast<const char*>(s),
                                strnlen(reinterpret_cast<const char*>(s), 8));
            section.virtualSize = dword(s + 8);
            section.virtualAddress = dword(s + 12);
            section.rawSize = dword(s + 16);
            section.rawOffset = dword(s + 20);
            section.characteristics = dword(s + 36);
            if (section.rawSize != 0 && !fits(section.rawOffset, section.rawSize, m_size))
                return fail("section data outside the file");
            m_image->sections.push_back(section);
        }
        return true;
    }

    // Maps [rva, rva + length) to a file offset; false when any byte of it has no file data. A
    // section without file data holds nothing of the file, not even an empty span: its raw
    // offset is not checked and may point anywhere.
    bool mapRva(DWORD rva, DWORD length, DWORD* offset) const {
        for (const PeSection& s : m_image->sections) {
            if (s.rawSize != 0 && rva >= s.virtualAddress &&
                fits(rva - s.virtualAddress, length, s.rawSize)) {
                *offset = s.rawOffset + (rva - s.virtualAddress);
                return true;
            }
        }
        return false;
    }

    bool resources() {
        if (m_image->dataDirectoryCount <= kDirResource ||
            m_image->dataDirectorySize[kDirResource] == 0)
            return true; // no resources at all is a valid image
        DWORD rva = m_image->dataDirectoryRva[kDirResource];
        m_rsrcSize = m_image->dataDirectorySize[kDirResource];
        if (!mapRva(rva, m_rsrcSize, &m_rsrcOffset))
            return fail("resource directory outside every section");
        PeResource pending;
        return directory(0, 0, &pending);
    }

    // Reads the resource string at `offset` (relative to the resource directory) into upper-case
    // ASCII; characters beyond ASCII become '?', which no name of ours uses.
    bool resourceName(DWORD offset, std::string* name) {
        if (!fits(offset, 2, m_rsrcSize))
            return fail("resource name outside the resource directory");
        WORD length = word(m_data + m_rsrcOffset + offset);
        if (length == 0 || !fits(uint64_t(offset) + 2, uint64_t(length) * 2, m_rsrcSize))
            return fail("resource name outside the resource directory");
        if (length > kMaxResourceNameLength)
            return fail("resource name longer than 256 characters");
        name->clear();
        for (WORD i = 0; i < length; ++i) {
            WORD c = word(m_data + m_rsrcOffset + offset + 2 + i * 2u);
            if (c >= 'a' && c <= 'z')
                c = WORD(c - 'a' + 'A');
            name->push_back(c < 0x80 && c != 0 ? char(c) : '?');
        }
        return true;
    }

    // Claims the bytes [start, end) of the resource section for one directory; false when another
    // directory already holds any of them.
    bool claim(DWORD start, DWORD end) {
        auto next = m_directories.lower_bound(start);
        if (next != m_directories.end() && next->first < end)
            return false;
        if (next != m_directories.begin() && std::prev(next)->second > start)
            return false;
        m_directories.emplace(start, end);
        return true;
    }

    // Levels: 0 type, 1 name, 2 language; the entries of level 2 are data entries. Every
    // directory, with its entries, has bytes of its own: directories that are shared, overlap or
    // loop are refused, so that the tree has at most one entry for every 8 bytes of the section
    // and the work a file can cause grows with its size alone.
    bool directory(DWORD offset, int level, PeResource* pending) {
        if (!fits(offset, kResourceDirectorySize, m_rsrcSize))
            return fail("resource directory outside the resource section");
        const uint8_t* dir = m_data + m_rsrcOffset + offset;
        uint64_t entries = uint64_t(word(dir + 12)) + word(dir + 14);
        if (!fits(uint64_t(offset) + kResourceDirectorySize, entries * kResourceEntrySize,
                  m_rsrcSize))
            return fail("resource directory entries outside the resource section");
        if (!claim(offset, DWORD(offset + kResourceDirectorySize + entries * kResourceEntrySize)))
            return fail("resource directories are shared, overlap or loop");
        for (uint64_t i = 0; i < entries; ++i) {
            const uint8_t* entry = dir + kResourceDirectorySize + i * kResourceEntrySize;
            DWORD nameField = dword(entry);
            DWORD target = dword(entry + 4);
            ResourceKey key;
            if (nameField & kHighBit) {
                if (!resourceName(nameField & ~kHighBit, &key.name))
                    return false;
            } else {
                if (nameField > 0xFFFF)
                    return fail("resource ID out of range");
                key.id = WORD(nameField);
            }
            bool isDirectory = (target & kHighBit) != 0;
            if (level < 2) {
                if (!isDirectory)
                    return fail("resource data entry above the language level");
                (level == 0 ? pending->type : pending->name) = key;
                if (!directory(target & ~kHighBit, level + 1, pending))
                    return false;
            } else {
                if (isDirectory)
                    return fail("resource tree deeper than type, name and language");
                if (!key.isId())
                    return fail("resource language given as a name");
                pending->language = key.id;
                if (!dataEntry(target, pending))
                    return false;
            }
        }
        return true;
    }

    bool dataEntry(DWORD offset, PeResource* pending) {
        if (!fits(offset, kResourceDataEntrySize, m_rsrcSize))
            return fail("resource data entry outside the resource section");
        const uint8_t* entry = m_data + m_rsrcOffset + offset;
        pending->rva = dword(entry);
        pending->size = dword(entry + 4);
        pending->codePage = dword(entry + 8);
        if (!mapRva(pending->rva, pending->size, &pending->fileOffset))
            return fail("resource data outside every section");
        m_image->resources.push_back(*pending);
        return true;
    }

    const uint8_t* m_data;
    size_t m_size;
    PeImage* m_image;
    const char* m_why = "";
    WORD m_sectionCount = 0;
    size_t m_optionalOffset = 0;
    size_t m_sectionTable = 0;
    DWORD m_rsrcOffset = 0;
    DWORD m_rsrcSize = 0;
    std::map<DWORD, DWORD> m_directories; // start and end of every directory read so far
};

// Converts what FindResourceA takes into a key: an integer resource, "#123", or a name.
bool keyOf(LPCSTR text, ResourceKey* key) {
    if (IS_INTRESOURCE(text)) {
        key->id = LOWORD(text);
        return true;
    }
    if (text[0] == '#') {
        DWORD value = 0;
        for (const char* p = text + 1; *p; ++p) {
            if (*p < '0' || *p > '9' || value > 0xFFFF)
                return false;
            value = value * 10 + DWORD(*p - '0');
        }
        if (text[1] == 0 || value > 0xFFFF)
            return false;
        key->id = WORD(value);
        return true;
    }
    if (text[0] == 0)
        return false;
    for (const char* p = text; *p; ++p)
        key->name.push_back(*p >= 'a' && *p <= 'z' ? char(*p - 'a' + 'A') : *p);
    return true;
}

bool sameKey(const ResourceKey& a, const ResourceKey& b) {
    return a.isId() == b.isId() && (a.isId() ? a.id == b.id : a.name == b.name);
}

} // namespace

bool parsePeImage(const uint8_t* data, size_t size, PeImage* image, std::string* why) {
    PeImage parsed;
    Parser parser(data, size, &parsed);
    if (data == nullptr || !parser.parse()) {
        if (why)
            *why = data == nullptr ? "no data" : parser.why();
        return false;
    }
    *image = std::move(parsed);
    return true;
}

const PeResource* findResource(const PeImage& image, LPCSTR type, LPCSTR name, DWORD* error) {
    ResourceKey typeKey, nameKey;
    bool typeSeen = false;
    const PeResource* found = nullptr;
    if (error)
        *error = ERROR_RESOURCE_TYPE_NOT_FOUND;
    if (type == nullptr || !keyOf(type, &typeKey))
        return nullptr;
    // A name that cannot name any resource ("", "#x") still tells whether the type exists.
    bool nameValid = name != nullptr && keyOf(name, &nameKey);
    for (const PeResource& r : image.resources) {
        if (!sameKey(r.type, typeKey))
            continue;
        typeSeen = true;
        if (!nameValid || !sameKey(r.name, nameKey))
            continue;
        if (r.language == 0)
            return &r;
        if (found == nullptr || (r.language == 0x0409 && found->language != 0x0409))
            found = &r;
    }
    if (found == nullptr && error)
        *error = typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
    return found;
}

bool readHostFile(const std::string& hostPath, std::vector<uint8_t>* bytes) {
    std::ifstream in(hostPath, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    std::streamoff length = in.tellg();
    if (length < 0 || size_t(length) > kLargestModuleFile)
        return false;
    in.seekg(0, std::ios::beg);
    bytes->resize(size_t(length));
    return length == 0 || bool(in.read(reinterpret_cast<char*>(bytes->data()), length));
}

} // namespace sim
