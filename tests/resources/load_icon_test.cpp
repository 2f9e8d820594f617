// LoadIconA and the icon decoder of the simulated PC.
#include "../../res/resource.h"
#include "resources/fixtures.h"

namespace {

const uint32_t kClear = 0x00000000u;

// An RT_ICON image: BITMAPINFOHEADER, palette, XOR rows and AND rows, bottom-up.
std::vector<uint8_t> iconImage(int width, int height, int bits,
                               const std::vector<uint32_t>& palette,
                               const std::vector<std::vector<uint8_t>>& xorRowsTopDown,
                               const std::vector<std::vector<uint8_t>>& andRowsTopDown) {
    std::vector<uint8_t> out(40, 0);
    testpe::put32(&out, 0, 40);
    testpe::put32(&out, 4, uint32_t(width));
    testpe::put32(&out, 8, uint32_t(height * 2));
    testpe::put16(&out, 12, 1);
    testpe::put16(&out, 14, uint16_t(bits));
    testpe::put32(&out, 32, uint32_t(palette.size()));
    for (uint32_t c : palette)
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(c >> (8 * i)));
    for (auto row = xorRowsTopDown.rbegin(); row != xorRowsTopDown.rend(); ++row)
        out.insert(out.end(), row->begin(), row->end());
    for (auto row = andRowsTopDown.rbegin(); row != andRowsTopDown.rend(); ++row)
        out.insert(out.end(), row->begin(), row->end());
    return out;
}

// A group of icon images: (width, bit count, RT_ICON ID) each.
std::vector<uint8_t> iconGroup(const std::vector<std::array<int, 3>>& entries) {
    std::vector<uint8_t> out(6, 0);
    testpe::put16(&out, 2, 1);
    testpe::put16(&out, 4, uint16_t(entries.size()));
    for (const auto& e : entries) {
        std::vector<uint8_t> entry(14, 0);
        entry[0] = entry[1] = uint8_t(e[0]);
        testpe::put16(&entry, 4, 1);
        testpe::put16(&entry, 6, uint16_t(e[1]));
        testpe::put16(&entry, 12, uint16_t(e[2]));
        out.insert(out.end(), entry.begin(), entry.end());
    }
    return out;
}

std::vector<uint8_t> solidImage(int side, int bits) {
    std::vector<std::vector<uint8_t>> xorRows(
        size_t(side), std::vector<uint8_t>(size_t(side * bits / 8 + 3) / 4 * 4));
    std::vector<std::vector<uint8_t>> andRows(size_t(side),
                                              std::vector<uint8_t>(size_t(side + 31) / 32 * 4));
    std::vector<uint32_t> palette(bits <= 8 ? size_t(1) << bits : 0);
    return iconImage(side, side, bits, palette, xorRows, andRows);
}

TEST(IconDecoder, ReadsFourBitPixelsThroughThePaletteWithRowsBottomUp) {
    // 8x2: top row indices 1..8 (nibbles), bottom row all 0; AND mask hides top-left pixel.
    std::vector<uint32_t> palette(16, 0);
    for (uint32_t i = 0; i < 16; ++i)
        palette[i] = (i * 0x10) << 16 | (i * 0x01) << 8 | 0x7F; // 0x00RRGGBB as stored B,G,R
    std::vector<uint8_t> image =
        iconImage(8, 2, 4, palette, {{0x12, 0x34, 0x56, 0x78}, {0, 0, 0, 0}},
                  {{0x80, 0, 0, 0}, {0, 0, 0, 0}});
    sim::IconImage decoded;
    ASSERT_TRUE(sim::decodeIconImage(image.data(), image.size(), &decoded));
    ASSERT_EQ(decoded.width, 8);
    ASSERT_EQ(decoded.height, 2);
    EXPECT_EQ(decoded.pixel(0, 0), kClear) << "masked out";
    for (int x = 1; x < 8; ++x) {
        uint32_t i = uint32_t(x + 1);
        EXPECT_EQ(decoded.pixel(x, 0), 0xFF000000u | (i * 0x10) << 16 | i << 8 | 0x7F)
            << std::hex << "x " << x << " got 0x" << decoded.pixel(x, 0);
    }
    EXPECT_EQ(decoded.pixel(3, 1), 0xFF00007Fu) << std::hex << decoded.pixel(3, 1);
}

TEST(IconDecoder, KeepsTheAlphaOfThirtyTwoBitImages) {
    std::vector<uint8_t> row = {0x10, 0x20, 0x30, 0x80, 0x11, 0x22, 0x33, 0x00};
    std::vector<uint8_t> image = iconImage(2, 1, 32, {}, {row}, {{0x40, 0, 0, 0}});
    sim::IconImage decoded;
    ASSERT_TRUE(sim::decodeIconImage(image.data(), image.size(), &decoded));
    EXPECT_EQ(decoded.pixel(0, 0), 0x80302010u) << std::hex << decoded.pixel(0, 0);
    EXPECT_EQ(decoded.pixel(1, 0), 0x00332211u) << "alpha wins over the AND mask";
}

TEST(IconDecoder, UsesTheMaskForThirtyTwoBitImagesWithoutAlpha) {
    std::vector<uint8_t> row = {0x10, 0x20, 0x30, 0x00, 0x11, 0x22, 0x33, 0x00};
    std::vector<uint8_t> image = iconImage(2, 1, 32, {}, {row}, {{0x40, 0, 0, 0}});
    sim::IconImage decoded;
    ASSERT_TRUE(sim::decodeIconImage(image.data(), image.size(), &decoded));
    EXPECT_EQ(decoded.pixel(0, 0), 0xFF302010u) << std::hex << decoded.pixel(0, 0);
    EXPECT_EQ(decoded.pixel(1, 0), kClear) << std::hex << decoded.pixel(1, 0);
}

TEST(IconDecoder, RefusesWhatItCannotDraw) {
    std::vector<uint8_t> good = solidImage(16, 4);
    sim::IconImage decoded;
    ASSERT_TRUE(sim::decodeIconImage(good.data(), good.size(), &decoded));
    for (size_t length : {size_t(0), size_t(39), size_t(40), good.size() - 1}) {
        SCOPED_TRACE("cut to " + std::to_string(length));
        std::vector<uint8_t> cut(good.begin(), good.begin() + long(length));
        EXPECT_FALSE(sim::decodeIconImage(cut.data(), cut.size(), &decoded));
    }
    struct Damage {
        const char* what;
        size_t offset;
        uint32_t value;
    } damages[] = {{"width 0", 4, 0},
                   {"width 100000", 4, 100000},
                   {"odd height", 8, 33},
                   {"negative height", 8, 0xFFFFFFE0u},
                   {"3 bits", 14, 3},
                   {"compressed", 16, 1},
                   {"header past the data", 0, 0x10000}};
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::vector<uint8_t> bad = good;
        if (d.offset == 14)
            testpe::put16(&bad, d.offset, uint16_t(d.value));
        else
            testpe::put32(&bad, d.offset, d.value);
        EXPECT_FALSE(sim::decodeIconImage(bad.data(), bad.size(), &decoded));
    }
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    png.resize(64);
    EXPECT_FALSE(sim::decodeIconImage(png.data(), png.size(), &decoded)) << "PNG icons";
}

using LoadIcon = testpe::FreshPc;

TEST_F(LoadIcon, GivesTheThirtyTwoPixelTrueColourImageOfTheLibraryIcon) {
    installTvx();
    HMODULE tvx = LoadLibraryA("Tavrol.tvx");
    ASSERT_NE(tvx, nullptr);
    ASSERT_EQ(GetSystemMetrics(SM_CXICON), 32);
    HICON icon = LoadIconA(tvx, MAKEINTRESOURCEA(IDI_TAVROL));
    ASSERT_NE(icon, nullptr) << "last error " << GetLastError();
    const sim::IconImage* image = sim::iconImage(icon);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 32);
    EXPECT_EQ(image->height, 32);
    EXPECT_EQ(image->bitCount, 32);
    EXPECT_EQ(LoadIconA(tvx, MAKEINTRESOURCEA(IDI_TAVROL)), icon) << "icons are shared";
    EXPECT_EQ(LoadIconA(tvx, "#128"), icon);

    // The picture: a navy card with a gold edge connector along its bottom, transparent around.
    EXPECT_EQ(image->pixel(31, 0) >> 24, 0u) << "top-right corner should be transparent";
    EXPECT_EQ(image->pixel(16, 20), 0xFF000080u) << std::hex << "board: 0x" << image->pixel(16, 20);
    int gold = 0;
    for (int x = 0; x < 32; ++x)
        gold += image->pixel(x, 25) == 0xFFFFCC00u ? 1 : 0;
    EXPECT_GE(gold, 8) << "gold fingers in the connector row";
}

TEST_F(LoadIcon, PicksTheNearestSizeAndTheDeepestColoursAmongEquals) {
    putFile("C:\\I.dll", testpe::buildLibrary({
                             {3, 1, 0, solidImage(16, 32)},
                             {3, 2, 0, solidImage(48, 4)},
                             {3, 3, 0, solidImage(48, 8)},
                             {3, 4, 0, solidImage(24, 4)},
                             {14, 5, 0, iconGroup({{16, 32, 1}, {48, 4, 2}, {48, 8, 3}})},
                             {14, 6, 0, iconGroup({{16, 32, 1}, {24, 4, 4}})},
                         }));
    HMODULE module = LoadLibraryA("C:\\I.dll");
    ASSERT_NE(module, nullptr);
    const sim::IconImage* big = sim::iconImage(LoadIconA(module, MAKEINTRESOURCEA(5)));
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->iconId, 3) << "16 and 48 are equally near 32: the larger, at 8 bits";
    const sim::IconImage* mid = sim::iconImage(LoadIconA(module, MAKEINTRESOURCEA(6)));
    ASSERT_NE(mid, nullptr);
    EXPECT_EQ(mid->iconId, 4) << "24 pixels is nearer to 32 than 16";
}

TEST_F(LoadIcon, MissingOrBrokenIconsGiveNull) {
    std::vector<uint8_t> badGroup = iconGroup({{32, 32, 1}});
    testpe::put16(&badGroup, 2, 2); // a cursor group, not an icon group
    std::vector<uint8_t> shortGroup = iconGroup({{32, 32, 1}, {16, 32, 1}});
    shortGroup.resize(shortGroup.size() - 1);
    putFile("C:\\I.dll", testpe::buildLibrary({
                             {3, 1, 0, solidImage(32, 32)},
                             {3, 2, 0, {1, 2, 3}},
                             {14, 10, 0, iconGroup({{32, 32, 9}})},
                             {14, 11, 0, iconGroup({{32, 32, 2}})},
                             {14, 12, 0, badGroup},
                             {14, 13, 0, shortGroup},
                         }));
    HMODULE module = LoadLibraryA("C:\\I.dll");
    ASSERT_NE(module, nullptr);
    struct Case {
        int id;
        DWORD error;
        const char* what;
    } cases[] = {{99, ERROR_RESOURCE_NAME_NOT_FOUND, "no such group"},
                 {10, ERROR_RESOURCE_NAME_NOT_FOUND, "group names a missing image"},
                 {11, ERROR_INVALID_DATA, "image is not a bitmap"},
                 {12, ERROR_INVALID_DATA, "cursor group"},
                 {13, ERROR_INVALID_DATA, "group cut short"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(LoadIconA(module, MAKEINTRESOURCEA(c.id)), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TAVROL)), nullptr)
        << "the executable has no icon";
    int notAnIcon = 0;
    EXPECT_EQ(sim::iconImage(reinterpret_cast<HICON>(&notAnIcon)), nullptr);
    EXPECT_EQ(sim::iconImage(nullptr), nullptr);
}

TEST_F(LoadIcon, NewResourcesAtTheSameHandleGiveANewIcon) {
    ASSERT_TRUE(sim::setExecutableResources(testpe::buildLibrary(
        {{3, 1, 0, solidImage(16, 4)}, {14, IDI_TAVROL, 0, iconGroup({{16, 4, 1}})}})));
    HICON first = LoadIconA(nullptr, MAKEINTRESOURCEA(IDI_TAVROL));
    ASSERT_NE(first, nullptr) << "last error " << GetLastError();
    ASSERT_TRUE(sim::setExecutableResources(testpe::buildLibrary(
        {{3, 1, 0, solidImage(48, 4)}, {14, IDI_TAVROL, 0, iconGroup({{48, 4, 1}})}})));
    HICON second = LoadIconA(nullptr, MAKEINTRESOURCEA(IDI_TAVROL));
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    ASSERT_NE(sim::iconImage(second), nullptr);
    EXPECT_EQ(sim::iconImage(second)->width, 48);
    ASSERT_NE(sim::iconImage(first), nullptr) << "the old icon stays drawable";
    EXPECT_EQ(sim::iconImage(first)->width, 16);
}

TEST_F(LoadIcon, IconOutlivesTheModuleItCameFrom) {
    installTvx();
    HMODULE tvx = LoadLibraryA("Tavrol.tvx");
    HICON icon = LoadIconA(tvx, MAKEINTRESOURCEA(IDI_TAVROL));
    ASSERT_NE(icon, nullptr);
    ASSERT_TRUE(FreeLibrary(tvx));
    const sim::IconImage* image = sim::iconImage(icon);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 32);
    // Loaded again (perhaps at the same handle), the module gives a valid icon again.
    HMODULE again = LoadLibraryA("Tavrol.tvx");
    ASSERT_NE(again, nullptr);
    const sim::IconImage* fresh = sim::iconImage(LoadIconA(again, MAKEINTRESOURCEA(IDI_TAVROL)));
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->pixels, image->pixels);
}

} // namespace
