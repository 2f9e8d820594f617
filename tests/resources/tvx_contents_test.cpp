// The built Tavrol.tvx: module shape, the three dialog templates, the strings, the icon and the
// version record, read straight from the file.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "../../res/resource.h"
#include "resources/pe_builder.h"
#include "resources/template_reader.h"
#include "sim/pe_module.h"

namespace {

const uint16_t kButton = 0x0080;
const uint16_t kStatic = 0x0082;
const uint16_t kComboBox = 0x0085;

class TvxFile : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_file = testpe::readFile(sim::builtResourceLibraryPath());
        s_parsed = sim::parsePeImage(s_file.data(), s_file.size(), &s_image, &s_why);
    }

    void SetUp() override {
        ASSERT_FALSE(s_file.empty()) << "no file at " << sim::builtResourceLibraryPath();
        ASSERT_TRUE(s_parsed) << s_why;
    }

    static const uint8_t* data(LPCSTR type, int id, DWORD* size) {
        const sim::PeResource* r = sim::findResource(s_image, type, MAKEINTRESOURCEA(id));
        if (r == nullptr)
            return nullptr;
        *size = r->size;
        return s_file.data() + r->fileOffset;
    }

    static testpe::DialogTemplate dialog(int id) {
        SCOPED_TRACE("dialog template " + std::to_string(id));
        DWORD size = 0;
        const uint8_t* bytes = data(RT_DIALOG, id, &size);
        testpe::DialogTemplate t;
        std::string why;
        EXPECT_NE(bytes, nullptr);
        if (bytes != nullptr) {
            EXPECT_TRUE(testpe::readDialogTemplate(bytes, size, &t, &why)) << why;
        }
        return t;
    }

    // The string with an ID, decoded from its block (ASCII only; other characters become '?').
    static bool string(int id, std::string* text) {
        DWORD size = 0;
        const uint8_t* block = data(RT_STRING, id / 16 + 1, &size);
        if (block == nullptr)
            return false;
        DWORD offset = 0;
        for (int index = 0; index <= id % 16; ++index) {
            if (offset + 2 > size)
                return false;
            uint16_t length = uint16_t(block[offset] | (block[offset + 1] << 8));
            if (offset + 2 + length * 2u > size)
                return false;
            if (index == id % 16) {
                text->clear();
                for (uint16_t i = 0; i < length; ++i) {
                    uint16_t c =
                        uint16_t(block[offset + 2 + 2 * i] | (block[offset + 3 + 2 * i] << 8));
                    text->push_back(c < 0x80 ? char(c) : '?');
                }
                return length != 0;
            }
            offset += 2 + length * 2u;
        }
        return false;
    }

    static void expectKind(const testpe::DialogTemplate& t, uint32_t id, uint16_t atom,
                           uint32_t kind, uint32_t mask) {
        SCOPED_TRACE("control " + std::to_string(id));
        const testpe::DialogItem* item = t.item(id);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->classAtom, atom) << "class name '" << item->className << "'";
        EXPECT_EQ(item->style & mask, kind) << std::hex << "style 0x" << item->style;
        EXPECT_TRUE(item->style & WS_CHILD);
        EXPECT_TRUE(item->style & WS_VISIBLE);
        EXPECT_FALSE(item->style & WS_DISABLED);
    }

    static std::vector<uint8_t> s_file;
    static sim::PeImage s_image;
    static bool s_parsed;
    static std::string s_why;
};

std::vector<uint8_t> TvxFile::s_file;
sim::PeImage TvxFile::s_image;
bool TvxFile::s_parsed = false;
std::string TvxFile::s_why;

TEST_F(TvxFile, IsAResourceOnlyI386LibraryWithoutCodeImportsOrExports) {
    EXPECT_EQ(s_image.machine, 0x014C);
    EXPECT_TRUE(s_image.characteristics & 0x2000) << "not marked as a DLL";
    EXPECT_TRUE(s_image.characteristics & 0x0002) << "not marked as an executable image";
    EXPECT_FALSE(s_image.characteristics & 0x0001) << "relocations marked stripped";
    EXPECT_EQ(s_image.entryPoint, 0u);
    ASSERT_GE(s_image.dataDirectoryCount, 3u);
    EXPECT_EQ(s_image.dataDirectorySize[0], 0u) << "export table present";
    EXPECT_EQ(s_image.dataDirectorySize[sim::kDirImport], 0u) << "import table present";
    EXPECT_NE(s_image.dataDirectorySize[sim::kDirResource], 0u);
    for (const sim::PeSection& s : s_image.sections)
        EXPECT_FALSE(s.characteristics & 0x20000020u) << "section " << s.name << " holds code";
}

TEST_F(TvxFile, MainDialogHasTheCaptionFontAndFrameTheProgramRelies) {
    testpe::DialogTemplate t = dialog(IDD_TAVROL_DIALOG);
    EXPECT_EQ(t.caption, "Vantorel Tavrolin");
    EXPECT_TRUE(t.hasFont);
    EXPECT_EQ(t.face, "MS Sans Serif");
    EXPECT_EQ(t.pointSize, 8);
    for (uint32_t bit : {uint32_t(WS_SYSMENU), uint32_t(WS_MINIMIZEBOX), uint32_t(DS_MODALFRAME),
                         uint32_t(WS_CAPTION)})
        EXPECT_EQ(t.style & bit, bit) << std::hex << "style 0x" << t.style << " lacks 0x" << bit;
}

TEST_F(TvxFile, MainDialogControlsHaveTheirKinds) {
    testpe::DialogTemplate t = dialog(IDD_TAVROL_DIALOG);
    const uint32_t anyStatic = 0;
    expectKind(t, IDC_BANNER, kStatic, anyStatic, 0);
    expectKind(t, IDC_RATE_LABEL, kStatic, anyStatic, 0);
    expectKind(t, IDC_RATE_NOTE, kStatic, anyStatic, 0);
    expectKind(t, IDC_SIDEBAND_NOTE, kStatic, anyStatic, 0);
    expectKind(t, IDC_FASTWRITE_NOTE, kStatic, anyStatic, 0);
    expectKind(t, IDC_RATE_COMBO, kComboBox, CBS_DROPDOWNLIST, 0x3);
    // The run-at-log-on state is packed into one bit, so that box must be two-state; so are the
    // other two, whose third state would make Apply stop.
    expectKind(t, IDC_SIDEBAND_CHECK, kButton, BS_AUTOCHECKBOX, BS_TYPEMASK);
    expectKind(t, IDC_FASTWRITE_CHECK, kButton, BS_AUTOCHECKBOX, BS_TYPEMASK);
    expectKind(t, IDC_STARTUP_CHECK, kButton, BS_AUTOCHECKBOX, BS_TYPEMASK);
    expectKind(t, IDC_RESTORE_DEFAULTS, kButton, BS_PUSHBUTTON, BS_TYPEMASK);
    expectKind(t, IDC_APPLY, kButton, BS_PUSHBUTTON, BS_TYPEMASK);
    expectKind(t, IDOK, kButton, BS_DEFPUSHBUTTON, BS_TYPEMASK);
    expectKind(t, IDCANCEL, kButton, BS_PUSHBUTTON, BS_TYPEMASK);
    EXPECT_EQ(t.item(IDC_RATE_LABEL)->text, "AGP data rate");
    EXPECT_EQ(t.item(IDC_APPLY)->text, "Apply");
    EXPECT_EQ(t.item(IDC_RESTORE_DEFAULTS)->text, "Restore defaults");

    std::set<uint32_t> ids;
    for (const testpe::DialogItem& item : t.items) {
        SCOPED_TRACE("control " + std::to_string(item.id));
        if (item.id != 0xFFFF && item.id != 0xFFFFFFFF) {
            EXPECT_TRUE(ids.insert(item.id).second) << "ID used twice";
        }
        EXPECT_GE(item.x, 0);
        EXPECT_GE(item.y, 0);
        EXPECT_LE(item.x + item.cx, t.cx);
        EXPECT_LE(item.y + item.cy, t.cy);
    }
    EXPECT_EQ(ids.size(), 13u) << "controls 1000..1010, IDOK and IDCANCEL, and nothing else";
}

// The banner is painted in pixels from (5,5) to (client right - 5, 70); its text must stay on
// it. One dialog unit of 8-point MS Sans Serif is 6/4 x 13/8 pixels at 96 dpi and 8/4 x 16/8
// at 120 dpi.
TEST_F(TvxFile, BannerTextLiesInsideThePaintedBanner) {
    testpe::DialogTemplate t = dialog(IDD_TAVROL_DIALOG);
    const testpe::DialogItem* banner = t.item(IDC_BANNER);
    ASSERT_NE(banner, nullptr);
    struct Dpi {
        int baseX, baseY;
    };
    for (Dpi dpi : {Dpi{6, 13}, Dpi{8, 16}}) {
        SCOPED_TRACE("base units " + std::to_string(dpi.baseX) + "x" + std::to_string(dpi.baseY));
        int left = banner->x * dpi.baseX / 4;
        int right = (banner->x + banner->cx) * dpi.baseX / 4;
        int top = banner->y * dpi.baseY / 8;
        int bottom = (banner->y + banner->cy) * dpi.baseY / 8;
        int clientRight = t.cx * dpi.baseX / 4;
        EXPECT_GE(left, 5);
        EXPECT_GE(top, 5);
        EXPECT_LE(right, clientRight - 5);
        EXPECT_LE(bottom, 70);
    }
    // Nothing else may sit on the banner.
    for (const testpe::DialogItem& item : t.items) {
        if (item.id != IDC_BANNER) {
            EXPECT_GT(item.y * 13 / 8, 70) << "control " << item.id << " overlaps the banner";
        }
    }
}

TEST_F(TvxFile, AboutBoxNamesProgramVersionAndMakerAndHasOk) {
    testpe::DialogTemplate t = dialog(IDD_ABOUT);
    EXPECT_FALSE(t.extended);
    expectKind(t, IDOK, kButton, BS_DEFPUSHBUTTON, BS_TYPEMASK);
    std::string texts;
    bool icon = false;
    for (const testpe::DialogItem& item : t.items) {
        texts += item.text + "\n";
        icon = icon || (item.classAtom == kStatic && (item.style & SS_TYPEMASK) == SS_ICON &&
                        item.textOrdinal == IDI_TAVROL);
    }
    EXPECT_TRUE(icon) << "no icon control showing icon " << IDI_TAVROL;
    EXPECT_NE(texts.find("Tavrolin\n"), std::string::npos) << texts;
    EXPECT_NE(texts.find("Vantorel Tech"), std::string::npos) << texts;
    std::smatch version;
    ASSERT_TRUE(std::regex_search(texts, version, std::regex("Version ([0-9]+\\.[0-9]+\\.[0-9]+)")))
        << texts;

    // The version shown is the one the version record carries.
    DWORD size = 0;
    const uint8_t* bytes = data(RT_VERSION, 1, &size);
    ASSERT_NE(bytes, nullptr);
    testpe::VersionRecord record;
    ASSERT_TRUE(testpe::readVersionRecord(bytes, size, &record));
    EXPECT_EQ(record.strings["FileVersion"], version[1].str());
}

TEST_F(TvxFile, RestoreDialogOffersYesNoAndCancelWithCancelAsDefault) {
    testpe::DialogTemplate t = dialog(IDD_RESTORE);
    EXPECT_FALSE(t.extended);
    const uint32_t kindMask = BS_TYPEMASK & ~1u; // push button or default push button
    expectKind(t, IDYES, kButton, BS_PUSHBUTTON, kindMask);
    expectKind(t, IDNO, kButton, BS_PUSHBUTTON, kindMask);
    expectKind(t, IDCANCEL, kButton, BS_PUSHBUTTON, kindMask);
    EXPECT_EQ(t.item(IDYES)->text, "Restore and restart");
    EXPECT_EQ(t.item(IDNO)->text, "Restore only");
    EXPECT_EQ(t.item(IDYES)->style & BS_TYPEMASK, uint32_t(BS_PUSHBUTTON))
        << "Enter must not restart Windows";
    std::string texts;
    for (const testpe::DialogItem& item : t.items)
        texts += item.text + " ";
    EXPECT_NE(texts.find("delete"), std::string::npos) << texts;
}

TEST_F(TvxFile, EveryMessageStringIsPresentDistinctAndLeavesRoomForTheCode) {
    std::string about;
    ASSERT_TRUE(string(IDS_ABOUT, &about));
    EXPECT_EQ(about, "&About Tavrolin...");
    std::set<std::string> seen;
    for (int id = IDS_ERR_FIRST; id <= IDS_ERR_LAST; ++id) {
        SCOPED_TRACE("string " + std::to_string(id));
        std::string text;
        ASSERT_TRUE(string(id, &text)) << "missing or empty";
        EXPECT_TRUE(seen.insert(text).second) << "same text as another message: " << text;
        // The message box shows "text (0x20)" from a 300-byte buffer.
        EXPECT_LT(text.size() + std::string(" (0x20)").size(), 300u) << text;
        EXPECT_LE(text.size(), 200u) << text;
        EXPECT_EQ(text.find('?'), std::string::npos) << "non-ASCII character in: " << text;
    }
    // No strings outside those IDs: the neighbours of each block stay empty.
    std::string text;
    for (int id : {IDS_ABOUT - 1, IDS_ABOUT + 1, IDS_ERR_FIRST - 1, IDS_ERR_LAST + 1})
        EXPECT_FALSE(string(id, &text)) << "string " << id << ": " << text;
}

TEST_F(TvxFile, IconHasSixteenThirtyTwoAndFortyEightPixelImagesThatDecode) {
    DWORD size = 0;
    const uint8_t* group = data(RT_GROUP_ICON, IDI_TAVROL, &size);
    ASSERT_NE(group, nullptr);
    ASSERT_GE(size, 6u);
    uint16_t count = uint16_t(group[4] | (group[5] << 8));
    ASSERT_EQ(size, 6u + 14u * count);
    std::map<int, std::set<int>> depthsBySize;
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* e = group + 6 + 14 * i;
        int width = e[0], height = e[1], bits = e[6] | (e[7] << 8), id = e[12] | (e[13] << 8);
        SCOPED_TRACE("RT_ICON " + std::to_string(id));
        EXPECT_EQ(width, height);
        depthsBySize[width].insert(bits);
        DWORD imageSize = 0;
        const uint8_t* image = data(RT_ICON, id, &imageSize);
        ASSERT_NE(image, nullptr);
        sim::IconImage decoded;
        ASSERT_TRUE(sim::decodeIconImage(image, imageSize, &decoded));
        EXPECT_EQ(decoded.width, width);
        EXPECT_EQ(decoded.height, height);
        EXPECT_EQ(decoded.bitCount, bits);
    }
    for (int side : {16, 32, 48}) {
        SCOPED_TRACE("size " + std::to_string(side));
        EXPECT_EQ(depthsBySize[side].count(4), 1u) << "no 16-colour image";
        EXPECT_EQ(depthsBySize[side].count(32), 1u) << "no 32-bit image";
    }
}

// The 16-colour and the 32-bit image of each size show the same picture: the same pixels are
// transparent, and the opaque ones differ only by the palette's rounding.
TEST_F(TvxFile, IconImagesOfEachSizeAgree) {
    DWORD size = 0;
    const uint8_t* group = data(RT_GROUP_ICON, IDI_TAVROL, &size);
    ASSERT_NE(group, nullptr);
    std::map<int, std::vector<sim::IconImage>> bySize;
    for (uint16_t i = 0; i < uint16_t(group[4] | (group[5] << 8)); ++i) {
        const uint8_t* e = group + 6 + 14 * i;
        DWORD imageSize = 0;
        const uint8_t* image = data(RT_ICON, e[12] | (e[13] << 8), &imageSize);
        sim::IconImage decoded;
        ASSERT_TRUE(image && sim::decodeIconImage(image, imageSize, &decoded));
        bySize[decoded.width].push_back(decoded);
    }
    for (auto& entry : bySize) {
        ASSERT_EQ(entry.second.size(), 2u);
        const sim::IconImage& a = entry.second[0];
        const sim::IconImage& b = entry.second[1];
        int opaque = 0;
        for (int y = 0; y < a.height; ++y) {
            for (int x = 0; x < a.width; ++x) {
                bool aClear = (a.pixel(x, y) >> 24) == 0, bClear = (b.pixel(x, y) >> 24) == 0;
                ASSERT_EQ(aClear, bClear) << "size " << a.width << " at " << x << "," << y;
                opaque += aClear ? 0 : 1;
            }
        }
        EXPECT_GT(opaque, a.width * a.height / 3) << "size " << a.width;
        EXPECT_LT(opaque, a.width * a.height) << "size " << a.width << " has no transparency";
    }
}

TEST_F(TvxFile, VersionRecordNamesTheLibraryAndItsMaker) {
    DWORD size = 0;
    const uint8_t* bytes = data(RT_VERSION, 1, &size);
    ASSERT_NE(bytes, nullptr);
    testpe::VersionRecord v;
    ASSERT_TRUE(testpe::readVersionRecord(bytes, size, &v));
    EXPECT_EQ(v.signature, 0xFEEF04BDu);
    EXPECT_EQ(v.strings["FileDescription"], "Tavrolin resource library");
    EXPECT_EQ(v.strings["CompanyName"], "Vantorel Tech");
    EXPECT_EQ(v.strings["ProductName"], "Tavrolin");
    EXPECT_EQ(v.strings["OriginalFilename"], "Tavrol.tvx");
    // The binary version and the text agree: "a.b.c" is a.b.c.0.
    std::smatch m;
    std::string text = v.strings["ProductVersion"];
    ASSERT_TRUE(std::regex_match(text, m, std::regex("([0-9]+)\\.([0-9]+)\\.([0-9]+)"))) << text;
    EXPECT_EQ(v.fileVersionMs, (uint32_t(std::stoul(m[1])) << 16) | uint32_t(std::stoul(m[2])));
    EXPECT_EQ(v.fileVersionLs, uint32_t(std::stoul(m[3])) << 16);
    EXPECT_EQ(v.productVersionMs, v.fileVersionMs);
    EXPECT_EQ(v.productVersionLs, v.fileVersionLs);
}

} // namespace
