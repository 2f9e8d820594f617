// The PE parser against damaged and hostile files: every one is refused cleanly, nothing is read
// outside the file (the sanitizer build checks that), and a refused file loads as nothing.
#include <random>

#include "resources/fixtures.h"

namespace {

using testpe::get32;
using testpe::put16;
using testpe::put32;

// Offsets inside the resource section of a library built with one resource (type 10, ID 1):
// root directory, its entry, the type directory, its entry, the language directory, its entry,
// then the data entry.
const size_t kRoot = testpe::kResourceFileOffset;
const size_t kRootEntry = kRoot + 16;
const size_t kTypeDir = kRoot + 24;
const size_t kTypeEntry = kTypeDir + 16;
const size_t kLangDir = kTypeDir + 24;
const size_t kLangEntry = kLangDir + 16;
const size_t kDataEntry = kRoot + 72;

std::vector<uint8_t> oneResource() {
    return testpe::buildLibrary({{10, 1, 0, {'d', 'a', 't', 'a'}}});
}

bool parses(const std::vector<uint8_t>& bytes, std::string* why = nullptr) {
    sim::PeImage image;
    std::string reason;
    bool ok = sim::parsePeImage(bytes.data(), bytes.size(), &image, &reason);
    if (why)
        *why = reason;
    return ok;
}

TEST(PeImage, ReadsTheLayoutOfAWellFormedLibrary) {
    std::vector<uint8_t> bytes = oneResource();
    // The offsets the damage tests rely on.
    ASSERT_EQ(get32(bytes, kRootEntry), 10u);
    ASSERT_EQ(get32(bytes, kRootEntry + 4), 0x80000000u | (kTypeDir - kRoot));
    ASSERT_EQ(get32(bytes, kTypeEntry + 4), 0x80000000u | (kLangDir - kRoot));
    ASSERT_EQ(get32(bytes, kLangEntry + 4), kDataEntry - kRoot);
    sim::PeImage image;
    std::string why;
    ASSERT_TRUE(sim::parsePeImage(bytes.data(), bytes.size(), &image, &why)) << why;
    ASSERT_EQ(image.resources.size(), 1u);
    const sim::PeResource& r = image.resources[0];
    EXPECT_EQ(r.type.id, 10);
    EXPECT_EQ(r.name.id, 1);
    EXPECT_EQ(r.size, 4u);
    EXPECT_EQ(std::string(bytes.begin() + r.fileOffset, bytes.begin() + r.fileOffset + 4), "data");
    ASSERT_EQ(image.sections.size(), 1u);
    EXPECT_EQ(image.sections[0].name, ".rsrc");
}

TEST(PeImage, EveryTruncationIsRefused) {
    std::vector<uint8_t> bytes = oneResource();
    for (size_t length = 0; length < bytes.size(); ++length) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(length));
        // Exact-size copies let the sanitizer catch a read one byte past the end.
        EXPECT_FALSE(parses(cut)) << "accepted when cut to " << length << " bytes";
    }
    std::string why;
    EXPECT_FALSE(parses({}, &why));
    EXPECT_NE(why, "");
}

TEST(PeImage, DamagedHeadersAreRefused) {
    struct Damage {
        const char* what;
        size_t offset;
        int width; // 2 or 4 bytes
        uint32_t value;
    } damages[] = {
        {"no MZ", 0, 2, 0x4D5A},
        {"PE header past the end", 0x3C, 4, 0xFFFFFFF0u},
        {"PE header offset wraps", 0x3C, 4, 0xFFFFFFFFu},
        {"no PE signature", testpe::kPeHeaderOffset, 4, 0x00004551},
        {"no sections", testpe::kPeHeaderOffset + 6, 2, 0},
        {"too many sections", testpe::kPeHeaderOffset + 6, 2, 0xFFFF},
        {"optional header too small", testpe::kPeHeaderOffset + 20, 2, 40},
        {"optional header past the end", testpe::kPeHeaderOffset + 20, 2, 0xFFFF},
        {"PE32+", testpe::kOptionalHeaderOffset, 2, 0x020B},
        {"section data past the end", testpe::kSectionTableOffset + 20, 4, 0x7FFFFFFF},
        {"section size wraps", testpe::kSectionTableOffset + 16, 4, 0xFFFFFF00u},
        {"resource directory outside every section", testpe::kOptionalHeaderOffset + 96 + 16, 4,
         0x5000},
        {"resource directory size past its section", testpe::kOptionalHeaderOffset + 96 + 20, 4,
         0x10000},
        {"data directories past the optional header", testpe::kPeHeaderOffset + 20, 2, 96 + 8},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::vector<uint8_t> bytes = oneResource();
        if (d.width == 2)
            put16(&bytes, d.offset, uint16_t(d.value));
        else
            put32(&bytes, d.offset, d.value);
        std::string why;
        EXPECT_FALSE(parses(bytes, &why));
        EXPECT_NE(why, "") << "refused without a reason";
    }
}

TEST(PeImage, HostileResourceTreesAreRefused) {
    struct Damage {
        const char* what;
        size_t offset;
        uint32_t value;
    } damages[] = {
        {"type level points back at the root", kRootEntry + 4, 0x80000000u},
        {"name level points back at the root", kTypeEntry + 4, 0x80000000u},
        {"name level points at itself", kTypeEntry + 4, 0x80000000u | (kTypeDir - kRoot)},
        {"language level points at a directory", kLangEntry + 4, 0x80000000u | (kLangDir - kRoot)},
        {"type level holds data", kRootEntry + 4, kDataEntry - kRoot},
        {"subdirectory past the section", kRootEntry + 4, 0x80000000u | 0x7FFFFF00u},
        {"data entry past the section", kLangEntry + 4, 0x7FFFFF00u},
        {"data RVA outside every section", kDataEntry, 0x9000},
        {"data RVA below every section", kDataEntry, 0x10},
        {"data size past its section", kDataEntry + 4, 0x1000},
        {"data size wraps", kDataEntry + 4, 0xFFFFFFFFu},
        {"huge entry counts", kRoot + 12, 0xFFFFFFFFu},
        {"name string past the section", kRootEntry, 0x80000000u | 0x7FFFFFF0u},
        {"name string runs past the section", kRootEntry, 0x80000000u | 0x1F0u},
        {"language given as a name", kLangEntry, 0x80000000u | 0x10u},
        {"ID above 16 bits", kTypeEntry, 0x00010001u},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::vector<uint8_t> bytes = oneResource();
        put32(&bytes, d.offset, d.value);
        std::string why;
        EXPECT_FALSE(parses(bytes, &why));
        EXPECT_NE(why, "") << "refused without a reason";
    }
}

// Directories shared between entries multiply: a few hundred bytes could otherwise stand for
// billions of resources. The second type here reuses the first type's name directory.
TEST(PeImage, SharedDirectoriesAreRefused) {
    std::vector<uint8_t> bytes = testpe::buildLibrary({{10, 1, 0, {1}}, {11, 1, 0, {2}}});
    ASSERT_TRUE(parses(bytes));
    put32(&bytes, kRootEntry + 8 + 4, get32(bytes, kRootEntry + 4));
    std::string why;
    EXPECT_FALSE(parses(bytes, &why));
    EXPECT_NE(why.find("shared"), std::string::npos) << why;
}

TEST(PeImage, ImageWithoutResourceDirectoryIsValidAndEmpty) {
    std::vector<uint8_t> bytes = oneResource();
    put32(&bytes, testpe::kOptionalHeaderOffset + 92, 2); // only export and import directories
    sim::PeImage image;
    ASSERT_TRUE(sim::parsePeImage(bytes.data(), bytes.size(), &image));
    EXPECT_TRUE(image.resources.empty());
    EXPECT_EQ(sim::findResource(image, RT_RCDATA, MAKEINTRESOURCEA(1)), nullptr);
}

// Random damage to the built Tavrol.tvx: whatever the parser accepts must point inside the file.
TEST(PeImage, RandomDamageNeverYieldsResourcesOutsideTheFile) {
    std::vector<uint8_t> original = testpe::readFile(sim::builtResourceLibraryPath());
    ASSERT_FALSE(original.empty());
    std::mt19937 random(20261208);
    size_t headerAndDirectory = 0x200 + 0x400; // headers and the start of the resource tree
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = original;
        int flips = 1 + int(random() % 4);
        for (int i = 0; i < flips; ++i)
            bytes[random() % headerAndDirectory] = uint8_t(random());
        if (random() % 4 == 0)
            bytes.resize(random() % bytes.size());
        sim::PeImage image;
        if (!sim::parsePeImage(bytes.data(), bytes.size(), &image))
            continue;
        ++accepted;
        for (const sim::PeResource& r : image.resources)
            ASSERT_LE(uint64_t(r.fileOffset) + r.size, bytes.size()) << "round " << round;
    }
    EXPECT_GT(accepted, 0) << "damage outside the used fields should still parse";
}

using HostileFile = testpe::FreshPc;

TEST_F(HostileFile, LoadsAsNothingAndLeavesOtherModulesWorking) {
    installTvx();
    HMODULE good = LoadLibraryA("Tavrol.tvx");
    ASSERT_NE(good, nullptr);
    std::vector<uint8_t> loop = oneResource();
    put32(&loop, kTypeEntry + 4, 0x80000000u);
    putFile("C:\\Loop.dll", loop);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadLibraryA("C:\\Loop.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_EXE_FORMAT));
    EXPECT_EQ(GetModuleHandleA("Loop.dll"), nullptr);
    EXPECT_EQ(sim::moduleLoadCount(good), 1);
    char text[64];
    EXPECT_EQ(LoadStringA(good, 101, text, sizeof text), 18);
}

} // namespace
