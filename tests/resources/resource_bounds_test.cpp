// The work and the offsets a resource library can make the loader take on: bounded by the file's
// own size, and inside the file. The hostile libraries are kept in fuzz/regressions/pe/.
#include <cctype>

#include "regression_input.h"
#include "resources/fixtures.h"

namespace {

struct HostileLibrary {
    const char* file;
    const char* reason;
};

void PrintTo(const HostileLibrary& library, std::ostream* out) {
    *out << library.file;
}

class HostileResourceLibrary : public ::testing::TestWithParam<HostileLibrary> {};

// overlapping-directories.dll: 67 KB whose 2032 language directories lie 8 bytes apart, each
// reading the 2501 entries after it, all naming one data entry: five million resources, 10 s and
// 859 MB before directories had to keep to bytes of their own.
// empty-resource-without-file-data.dll: a resource of 0 bytes in a section with no file data,
// recorded 2 GB past the end of the file.
TEST_P(HostileResourceLibrary, IsRefusedAtOnce) {
    std::string file = regression::contents("pe", GetParam().file);
    ASSERT_FALSE(file.empty());
    sim::PeImage image;
    std::string why;
    EXPECT_FALSE(sim::parsePeImage(reinterpret_cast<const uint8_t*>(file.data()), file.size(),
                                   &image, &why));
    EXPECT_NE(std::string::npos, why.find(GetParam().reason)) << why;
}

INSTANTIATE_TEST_SUITE_P(Regressions, HostileResourceLibrary,
                         ::testing::Values(HostileLibrary{"overlapping-directories.dll", "overlap"},
                                           HostileLibrary{"empty-resource-without-file-data.dll",
                                                          "outside every section"}),
                         [](const ::testing::TestParamInfo<HostileLibrary>& info) {
                             std::string name;
                             for (const char* c = info.param.file; *c && *c != '.'; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

// A name is copied into every resource below it, so its length is bounded too.
TEST(ResourceNames, UpTo256CharactersAreRead) {
    for (size_t length : {1, 255, 256, 257, 4000}) {
        SCOPED_TRACE(length);
        std::u16string name(length, u'N');
        std::vector<uint8_t> bytes =
            testpe::buildLibrary({{name.c_str(), 1, 0, {1}}, {10, name.c_str(), 0, {2}}});
        sim::PeImage image;
        std::string why;
        bool parsed = sim::parsePeImage(bytes.data(), bytes.size(), &image, &why);
        EXPECT_EQ(length <= 256, parsed) << why;
        if (parsed) {
            ASSERT_EQ(2u, image.resources.size());
            EXPECT_EQ(std::string(length, 'N'), image.resources[0].type.name);
            EXPECT_EQ(std::string(length, 'N'), image.resources[1].name.name);
        } else {
            EXPECT_NE(std::string::npos, why.find("longer than 256")) << why;
        }
    }
}

// Directories next to each other are fine; one byte of overlap is not.
TEST(ResourceDirectories, MayTouchButNotOverlap) {
    std::vector<uint8_t> bytes = testpe::buildLibrary({{10, 1, 0, {1}}});
    // The root's single entry is followed at once by the type directory.
    const size_t root = testpe::kResourceFileOffset;
    ASSERT_EQ(0x80000000u | 24u, testpe::get32(bytes, root + 16 + 4));
    sim::PeImage image;
    ASSERT_TRUE(sim::parsePeImage(bytes.data(), bytes.size(), &image));
    // A second root entry makes the root reach 8 bytes into the type directory.
    testpe::put16(&bytes, root + 14, 2);
    testpe::put32(&bytes, root + 24, 11);
    std::string why;
    EXPECT_FALSE(sim::parsePeImage(bytes.data(), bytes.size(), &image, &why));
    EXPECT_NE(std::string::npos, why.find("overlap")) << why;
}

} // namespace
