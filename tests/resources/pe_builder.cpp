// Builds small PE32 resource libraries in memory for the loader's tests.
#include "resources/pe_builder.h"

#include <fstream>
#include <iterator>

namespace testpe {
namespace {

struct NameNode {
    const Key* key;
    std::vector<size_t> resources; // one per language
};

struct TypeNode {
    const Key* key;
    std::vector<NameNode> names;
};

bool sameKey(const Key& a, const Key& b) {
    return a.name == b.name && a.id == b.id;
}

// Named entries come before ID entries in every directory, as the format requires.
template <typename Node> std::vector<Node> namedFirst(const std::vector<Node>& nodes) {
    std::vector<Node> sorted;
    for (const Node& n : nodes)
        if (!n.key->name.empty())
            sorted.push_back(n);
    for (const Node& n : nodes)
        if (n.key->name.empty())
            sorted.push_back(n);
    return sorted;
}

size_t align(size_t value, size_t to) {
    return (value + to - 1) / to * to;
}

std::vector<uint8_t> resourceSection(const std::vector<Resource>& resources) {
    std::vector<TypeNode> types;
    for (size_t i = 0; i < resources.size(); ++i) {
        const Resource& r = resources[i];
        TypeNode* type = nullptr;
        for (TypeNode& t : types)
            if (sameKey(*t.key, r.type))
                type = &t;
        if (type == nullptr) {
            types.push_back({&r.type, {}});
            type = &types.back();
        }
        NameNode* name = nullptr;
        for (NameNode& n : type->names)
            if (sameKey(*n.key, r.name))
                name = &n;
        if (name == nullptr) {
            type->names.push_back({&r.name, {}});
            name = &type->names.back();
        }
        name->resources.push_back(i);
    }
    types = namedFirst(types);
    for (TypeNode& t : types)
        t.names = namedFirst(t.names);

    // Pass 1: offsets of the directories, then the name strings, data entries and data.
    size_t directories = 16 + 8 * types.size();
    for (const TypeNode& t : types) {
        directories += 16 + 8 * t.names.size();
        for (const NameNode& n : t.names)
            directories += 16 + 8 * n.resources.size();
    }
    size_t strings = 0;
    for (const TypeNode& t : types) {
        strings += t.key->name.empty() ? 0 : 2 + 2 * t.key->name.size();
        for (const NameNode& n : t.names)
            strings += n.key->name.empty() ? 0 : 2 + 2 * n.key->name.size();
    }
    size_t dataEntries = align(directories + strings, 4);
    size_t data = dataEntries + 16 * resources.size();
    size_t total = data;
    for (const Resource& r : resources)
        total = align(total + r.data.size(), 4);

    std::vector<uint8_t> out(total, 0);
    size_t nextDirectory = 0, nextString = directories, nextData = data;
    auto writeKey = [&](size_t entry, const Key& key) {
        if (key.name.empty()) {
            put32(&out, entry, key.id);
            return;
        }
        put32(&out, entry, 0x80000000u | uint32_t(nextString));
        put16(&out, nextString, uint16_t(key.name.size()));
        for (size_t i = 0; i < key.name.size(); ++i)
            put16(&out, nextString + 2 + 2 * i, uint16_t(key.name[i]));
        nextString += 2 + 2 * key.name.size();
    };
    auto writeDirectory = [&](const std::vector<const Key*>& keys) {
        size_t at = nextDirectory;
        uint16_t named = 0;
        for (const Key* k : keys)
            named = uint16_t(named + (k->name.empty() ? 0 : 1));
        put16(&out, at + 12, named);
        put16(&out, at + 14, uint16_t(keys.size() - named));
        nextDirectory += 16 + 8 * keys.size();
        for (size_t i = 0; i < keys.size(); ++i)
            writeKey(at + 16 + 8 * i, *keys[i]);
        return at;
    };
    std::vector<const Key*> typeKeys;
    for (const TypeNode& t : types)
        typeKeys.push_back(t.key);
    size_t root = writeDirectory(typeKeys);
    for (size_t ti = 0; ti < types.size(); ++ti) {
        std::vector<const Key*> nameKeys;
        for (const NameNode& n : types[ti].names)
            nameKeys.push_back(n.key);
        put32(&out, root + 16 + 8 * ti + 4, 0x80000000u | uint32_t(nextDirectory));
        size_t typeDir = writeDirectory(nameKeys);
        for (size_t ni = 0; ni < types[ti].names.size(); ++ni) {
            const NameNode& n = types[ti].names[ni];
            put32(&out, typeDir + 16 + 8 * ni + 4, 0x80000000u | uint32_t(nextDirectory));
            size_t langDir = nextDirectory;
            put16(&out, langDir + 14, uint16_t(n.resources.size()));
            nextDirectory += 16 + 8 * n.resources.size();
            for (size_t li = 0; li < n.resources.size(); ++li) {
                const Resource& r = resources[n.resources[li]];
                size_t entry = dataEntries + 16 * n.resources[li];
                put32(&out, langDir + 16 + 8 * li, r.language);
                put32(&out, langDir + 16 + 8 * li + 4, uint32_t(entry));
                put32(&out, entry, uint32_t(kResourceRva + nextData));
                put32(&out, entry + 4, uint32_t(r.data.size()));
                std::copy(r.data.begin(), r.data.end(), out.begin() + long(nextData));
                nextData = align(nextData + r.data.size(), 4);
            }
        }
    }
    return out;
}

} // namespace

void put16(std::vector<uint8_t>* bytes, size_t offset, uint16_t value) {
    (*bytes)[offset] = uint8_t(value);
    (*bytes)[offset + 1] = uint8_t(value >> 8);
}

void put32(std::vector<uint8_t>* bytes, size_t offset, uint32_t value) {
    put16(bytes, offset, uint16_t(value));
    put16(bytes, offset + 2, uint16_t(value >> 16));
}

uint16_t get16(const std::vector<uint8_t>& bytes, size_t offset) {
    return uint16_t(bytes[offset] | (bytes[offset + 1] << 8));
}

uint32_t get32(const std::vector<uint8_t>& bytes, size_t offset) {
    return get16(bytes, offset) | (uint32_t(get16(bytes, offset + 2)) << 16);
}

std::vector<uint8_t> buildLibrary(const std::vector<Resource>& resources) {
    std::vector<uint8_t> rsrc = resourceSection(resources);
    size_t rawSize = align(rsrc.size() ? rsrc.size() : 1, 0x200);
    std::vector<uint8_t> file(kResourceFileOffset + rawSize, 0);
    file[0] = 'M';
    file[1] = 'Z';
    put32(&file, 0x3C, kPeHeaderOffset);
    put32(&file, kPeHeaderOffset, 0x00004550);
    size_t coff = kPeHeaderOffset + 4;
    put16(&file, coff, 0x014C);
    put16(&file, coff + 2, 1);       // sections
    put16(&file, coff + 16, 224);    // optional header
    put16(&file, coff + 18, 0x2102); // executable image, 32-bit, DLL
    size_t opt = kOptionalHeaderOffset;
    put16(&file, opt, 0x010B);
    put32(&file, opt + 16, 0);          // no entry point
    put32(&file, opt + 28, 0x10000000); // image base
    put32(&file, opt + 32, 0x1000);
    put32(&file, opt + 36, 0x200);
    put16(&file, opt + 48, 4); // subsystem version 4.0
    put32(&file, opt + 56, uint32_t(kResourceRva + align(rsrc.size(), 0x1000)));
    put32(&file, opt + 60, kResourceFileOffset);
    put16(&file, opt + 68, 2);
    put32(&file, opt + 92, 16);
    put32(&file, opt + 96 + 2 * 8, kResourceRva);
    put32(&file, opt + 96 + 2 * 8 + 4, uint32_t(rsrc.size()));
    size_t section = kSectionTableOffset;
    const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
    std::copy(name, name + 8, file.begin() + long(section));
    put32(&file, section + 8, uint32_t(rsrc.size()));
    put32(&file, section + 12, kResourceRva);
    put32(&file, section + 16, uint32_t(rawSize));
    put32(&file, section + 20, kResourceFileOffset);
    put32(&file, section + 36, 0x40000040); // initialised data, readable
    std::copy(rsrc.begin(), rsrc.end(), file.begin() + kResourceFileOffset);
    return file;
}

std::vector<uint8_t> stringBlock(const std::vector<std::u16string>& strings) {
    std::vector<uint8_t> block;
    for (size_t i = 0; i < 16; ++i) {
        std::u16string s = i < strings.size() ? strings[i] : std::u16string();
        block.push_back(uint8_t(s.size()));
        block.push_back(uint8_t(s.size() >> 8));
        for (char16_t c : s) {
            block.push_back(uint8_t(c));
            block.push_back(uint8_t(c >> 8));
        }
    }
    return block;
}

std::vector<uint8_t> readFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

bool writeFile(const std::string& hostPath, const std::vector<uint8_t>& bytes) {
    std::ofstream out(hostPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

} // namespace testpe
