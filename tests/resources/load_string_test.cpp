// LoadStringA of the simulated PC: buffer limits, missing strings, the ANSI code page, and the
// strings of the built Tavrol.tvx.
#include <string.h>

#include "../../res/resource.h"
#include "resources/fixtures.h"

namespace {

const char kFill = char(0xbd);

class LoadString : public testpe::FreshPc {
  protected:
    void SetUp() override {
        FreshPc::SetUp();
        // Block 1 holds IDs 0..15, block 3 holds 32..47; block 2 is missing.
        std::u16string longText(299, u'x');
        longText[0] = u'L';
        std::u16string tooLong(300, u'y');
        std::vector<uint8_t> library = testpe::buildLibrary({
            {6, 1, 0x0409, testpe::stringBlock({u"", u"Hello", u"A", longText, tooLong})},
            {6, 3, 0x0409,
             testpe::stringBlock({u"caf\u00e9 \u20ac5 \u4e2d \u0081", std::u16string(u"a\0b", 3)})},
        });
        putFile("C:\\Strings.dll", library);
        m_module = LoadLibraryA("C:\\Strings.dll");
        ASSERT_NE(m_module, nullptr) << "last error " << GetLastError();
        memset(m_buffer, kFill, sizeof m_buffer);
    }

    // Loads a string into a buffer of `max` bytes and checks that nothing past it was written.
    int load(UINT id, int max) {
        SCOPED_TRACE("string " + std::to_string(id) + " into " + std::to_string(max) + " bytes");
        memset(m_buffer, kFill, sizeof m_buffer);
        int result = LoadStringA(m_module, id, m_buffer, max);
        for (size_t i = size_t(max > 0 ? max : 0); i < sizeof m_buffer; ++i) {
            if (m_buffer[i] != kFill) {
                ADD_FAILURE() << "byte " << i << " written past the buffer";
                break;
            }
        }
        return result;
    }

    HMODULE m_module = nullptr;
    char m_buffer[400];
};

TEST_F(LoadString, CopiesTheWholeStringWhenItFits) {
    EXPECT_EQ(load(1, 6), 5);
    EXPECT_STREQ(m_buffer, "Hello");
    EXPECT_EQ(load(1, 300), 5);
    EXPECT_STREQ(m_buffer, "Hello");
}

TEST_F(LoadString, TruncatesToOneLessThanTheBufferAndTerminates) {
    EXPECT_EQ(load(1, 5), 4);
    EXPECT_STREQ(m_buffer, "Hell");
    EXPECT_EQ(load(1, 2), 1);
    EXPECT_STREQ(m_buffer, "H");
}

TEST_F(LoadString, BufferOfOneByteGetsOnlyTheTerminator) {
    EXPECT_EQ(load(1, 1), 0);
    EXPECT_EQ(m_buffer[0], '\0');
}

TEST_F(LoadString, BufferOfZeroBytesIsNotTouched) {
    EXPECT_EQ(load(1, 0), -1);
    EXPECT_EQ(m_buffer[0], kFill);
}

TEST_F(LoadString, NegativeSizeOrNullBufferIsRefusedWithoutWriting) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(load(1, -5), 0);
    EXPECT_EQ(m_buffer[0], kFill);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LoadStringA(m_module, 1, nullptr, 10), 0);
}

TEST_F(LoadString, MessageBufferOfThreeHundredHoldsTwoHundredNinetyNineCharacters) {
    EXPECT_EQ(load(3, 300), 299);
    EXPECT_EQ(strlen(m_buffer), 299u);
    EXPECT_EQ(m_buffer[0], 'L');
    EXPECT_EQ(load(4, 300), 299) << "a 300-character string is cut to 299";
    EXPECT_EQ(m_buffer[298], 'y');
    EXPECT_EQ(m_buffer[299], '\0');
}

TEST_F(LoadString, MissingStringGivesZeroAndAnEmptyBuffer) {
    for (UINT id : {0u, 5u, 15u, 16u, 20u, 48u, 0xFFFFu}) {
        SCOPED_TRACE("string " + std::to_string(id));
        EXPECT_EQ(load(id, 50), 0);
        EXPECT_EQ(m_buffer[0], '\0');
    }
}

TEST_F(LoadString, UsesOnlyTheLowWordOfTheId) {
    EXPECT_EQ(load(0x10001, 50), 5);
    EXPECT_STREQ(m_buffer, "Hello");
}

TEST_F(LoadString, ConvertsToWindows1252WithQuestionMarksForTheRest) {
    int n = load(32, 50);
    EXPECT_EQ(std::string(m_buffer, size_t(n > 0 ? n : 0)), "caf\xe9 \x80"
                                                            "5 ? \x81");
}

TEST_F(LoadString, CountsAnEmbeddedNulAsACharacter) {
    EXPECT_EQ(load(33, 50), 3);
    EXPECT_EQ(std::string(m_buffer, 4), std::string("a\0b\0", 4));
}

TEST_F(LoadString, ExecutableWithoutStringsGivesEmptyTexts) {
    memset(m_buffer, kFill, sizeof m_buffer);
    EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), IDS_ERR_NO_AGP, m_buffer, 300), 0);
    EXPECT_EQ(m_buffer[0], '\0');
    EXPECT_EQ(m_buffer[1], kFill);
}

// A string block cut short by a hostile file: the strings it still holds load, the rest are
// missing, and nothing is read past the resource.
TEST_F(LoadString, TruncatedBlockYieldsWhatItHolds) {
    std::vector<uint8_t> block = testpe::stringBlock({u"", u"Hello", u"World"});
    block.resize(2 + 2 + 10 + 2 + 4); // "World" lost its last three characters
    putFile("C:\\Cut.dll", testpe::buildLibrary({{6, 1, 0, block}}));
    HMODULE cut = LoadLibraryA("C:\\Cut.dll");
    ASSERT_NE(cut, nullptr);
    char text[20];
    EXPECT_EQ(LoadStringA(cut, 1, text, sizeof text), 5);
    EXPECT_STREQ(text, "Hello");
    EXPECT_EQ(LoadStringA(cut, 2, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(LoadStringA(cut, 9, text, sizeof text), 0);
}

using TvxStrings = testpe::FreshPc;

TEST_F(TvxStrings, AboutEntryAndEveryMessageLoadFromTheInstalledLibrary) {
    installTvx();
    HMODULE tvx = LoadLibraryA("Tavrol.tvx");
    ASSERT_NE(tvx, nullptr) << "last error " << GetLastError();
    char text[300];
    EXPECT_EQ(LoadStringA(tvx, IDS_ABOUT, text, sizeof text), 18);
    EXPECT_STREQ(text, "&About Tavrolin...");
    for (UINT id = IDS_ERR_FIRST; id <= IDS_ERR_LAST; ++id) {
        SCOPED_TRACE("string " + std::to_string(id));
        int n = LoadStringA(tvx, id, text, sizeof text);
        EXPECT_GT(n, 20) << text;
        EXPECT_LT(n, 300 - 7) << "no room left for \" (0x20)\"";
        EXPECT_EQ(size_t(n), strlen(text));
    }
}

} // namespace
