// AgpError codes turned into message boxes.
#include "program_fixture.h"

#include <cstring>

namespace apptest {
namespace {

// The string each discovery result is explained by; 0 means the fallback text.
UINT expectedString(int code) {
    switch (code) {
    case 1:
        return 111;
    case 2:
        return 112;
    case 24:
        return 113;
    case 7:
        return 114;
    case 8:
    case 18:
    case 26:
    case 27:
    case 30:
        return 115;
    case 9:
    case 13:
        return 116;
    case 10:
        return 117;
    case 19:
        return 118;
    case 20:
        return 119;
    case 21:
        return 120;
    case 3:
    case 25:
    case 28:
    case 29:
        return 121;
    case 11:
    case 14:
    case 15:
    case 16:
    case 17:
    case 22:
    case 23:
        return 122;
    case 12:
        return 123;
    case 4:
    case 31:
    case 32:
        return 124;
    default:
        return 0;
    }
}

class ErrorReportTest : public ProgramTest {
  protected:
    void SetUp() override {
        boot("default");
        m_library = LoadLibraryA("Tavrol.tvx");
        ASSERT_NE(nullptr, m_library);
        AfxSetResourceHandle(m_library);
    }
    void TearDown() override {
        AfxSetResourceHandle(nullptr);
        FreeLibrary(m_library);
    }

    std::string resourceString(UINT id) {
        char text[300] = {};
        LoadStringA(m_library, id, text, sizeof text);
        return text;
    }

    HMODULE m_library = nullptr;
};

TEST_F(ErrorReportTest, EveryCodeShowsItsStringAndHexCode) {
    CTavrolApp app;
    for (int code = -1; code <= 40; ++code) {
        SCOPED_TRACE(testing::Message() << "AgpError " << code);
        sim::shell().clearMessageBoxes();
        app.reportAgpError(code);
        ASSERT_EQ(1u, boxes().size());
        const sim::MessageBoxRecord& box = boxes()[0];
        EXPECT_EQ("Vantorel Tavrolin", box.title);
        EXPECT_EQ(nullptr, box.owner);
        UINT id = expectedString(code);
        if (id == 0) {
            EXPECT_EQ("Oops! Something went wrong but I've NO idea what it is.", box.text);
            EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.type);
            continue;
        }
        char hex[16];
        snprintf(hex, sizeof hex, " (0x%x)", static_cast<unsigned>(code));
        std::string text = resourceString(id);
        ASSERT_FALSE(text.empty()) << "string " << id;
        EXPECT_EQ(text + hex, box.text);
        EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), box.type);
    }
}

TEST_F(ErrorReportTest, Code27IsString115WithTheCodeInLowerCaseHex) {
    CTavrolApp app;
    app.reportAgpError(27);
    ASSERT_EQ(1u, boxes().size());
    EXPECT_EQ(resourceString(115) + " (0x1b)", boxes()[0].text);
}

TEST_F(ErrorReportTest, AMissingStringLeavesTheCodeAlone) {
    CTavrolApp app;
    app.showResourceMessage(9999, 0x20);
    ASSERT_EQ(1u, boxes().size());
    EXPECT_EQ(" (0x20)", boxes()[0].text);
}

TEST(FormatAgpMessage, ALongTextIsShortenedAndTheCodeKept) {
    std::string text(299, 'a');
    char buffer[301];
    memset(buffer, 0xbd, sizeof buffer);
    formatAgpMessage(buffer, 300, text.c_str(), 27);
    EXPECT_EQ(0xbd, static_cast<unsigned char>(buffer[300])) << "written past the buffer";
    std::string message = buffer;
    EXPECT_EQ(299u, message.size());
    EXPECT_EQ(" (0x1b)", message.substr(message.size() - 7));
    EXPECT_EQ(std::string(292, 'a'), message.substr(0, 292));
}

TEST(FormatAgpMessage, TheWidestCodeStillFitsAndPrintsUnsigned) {
    char buffer[300];
    formatAgpMessage(buffer, sizeof buffer, std::string(299, 'b').c_str(), -1);
    std::string message = buffer;
    EXPECT_EQ(299u, message.size());
    EXPECT_EQ(" (0xffffffff)", message.substr(message.size() - 13));
}

TEST(FormatAgpMessage, ABufferTooSmallForTheCodeStaysEmpty) {
    char buffer[8];
    memset(buffer, 0xbd, sizeof buffer);
    formatAgpMessage(buffer, 7, "text", 27); // " (0x1b)" needs 8 bytes with its terminator
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_EQ(0xbd, static_cast<unsigned char>(buffer[7])) << "written past the buffer";
    formatAgpMessage(buffer, 8, "text", 27);
    EXPECT_STREQ(" (0x1b)", buffer);
}

TEST(FormatAgpMessage, AShortTextIsKeptWhole) {
    char buffer[300];
    formatAgpMessage(buffer, sizeof buffer, "No AGP here.", 1);
    EXPECT_STREQ("No AGP here. (0x1)", buffer);
}

} // namespace
} // namespace apptest
