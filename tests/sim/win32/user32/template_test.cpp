// Dialog templates: both formats, classes by atom and by name, ordinals, and malformed bytes.
#include "dialog_builder.h"

using namespace simui_test;

namespace {

Template sample(bool extended) {
    Template t;
    t.extended = extended;
    t.title = "Vantorel Tavrolin";
    t.items.push_back(label(1000, "Banner text", 4, 4, 120));
    t.items.push_back(combo(1002, CBS_DROPDOWNLIST, 10, 30));
    t.items.push_back(button(1003, "&Sideband", BS_AUTOCHECKBOX, 10, 50));
    t.items.push_back(button(IDOK, "OK", BS_DEFPUSHBUTTON, 100, 80));
    Item icon = label(1011, "", 150, 4, 20);
    icon.style |= SS_ICON;
    icon.text.clear();
    icon.titleOrdinal = 128;
    t.items.push_back(icon);
    Item edit = {WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 10, 70, 50, 12, 1012, 0x0081, "", "x", 0};
    t.items.push_back(edit);
    return t;
}

void expectSample(const sim::DialogTemplate& t, bool extended) {
    SCOPED_TRACE(extended ? "DLGTEMPLATEEX" : "DLGTEMPLATE");
    EXPECT_EQ(extended, t.extended);
    EXPECT_EQ("Vantorel Tavrolin", t.title);
    EXPECT_TRUE(t.hasFont);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ("MS Sans Serif", t.typeface);
    EXPECT_EQ(200, t.cx);
    EXPECT_EQ(100, t.cy);
    ASSERT_EQ(6u, t.items.size());
    const char* classes[] = {"Static", "ComboBox", "Button", "Button", "Static", "Edit"};
    DWORD ids[] = {1000, 1002, 1003, IDOK, 1011, 1012};
    const char* texts[] = {"Banner text", "", "&Sideband", "OK", "", "x"};
    for (size_t i = 0; i < t.items.size(); ++i) {
        SCOPED_TRACE("item " + std::to_string(i));
        EXPECT_EQ(classes[i], sim::controlClassName(t.items[i].windowClass));
        EXPECT_EQ(ids[i], t.items[i].id);
        EXPECT_EQ(texts[i], t.items[i].title.name);
    }
    EXPECT_TRUE(t.items[4].title.isOrdinal);
    EXPECT_EQ(128, t.items[4].title.ordinal);
    EXPECT_EQ(static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX),
              t.items[2].style);
    EXPECT_EQ(10, t.items[2].x);
    EXPECT_EQ(50, t.items[2].y);
    EXPECT_EQ(40, t.items[2].cx);
    EXPECT_EQ(14, t.items[2].cy);
}

} // namespace

TEST(DialogTemplate, ReadsBothFormatsAlike) {
    for (bool extended : {false, true}) {
        std::vector<BYTE> bytes = sample(extended).build();
        sim::DialogTemplate t;
        std::string error = "untouched";
        ASSERT_TRUE(sim::parseDialogTemplate(bytes.data(), bytes.size(), &t, &error)) << error;
        EXPECT_EQ("untouched", error);
        expectSample(t, extended);
    }
}

TEST(DialogTemplate, ExtendedFormatKeepsWideIdsAndFontDetails) {
    Template t = sample(true);
    t.items[0].id = 0x12345;
    std::vector<BYTE> bytes = t.build();
    sim::DialogTemplate parsed;
    ASSERT_TRUE(sim::parseDialogTemplate(bytes.data(), bytes.size(), &parsed, nullptr));
    EXPECT_EQ(0x12345u, parsed.items[0].id);
    EXPECT_EQ(FW_NORMAL, parsed.weight);
    EXPECT_EQ(1, parsed.charSet);
    EXPECT_FALSE(parsed.italic);
}

TEST(DialogTemplate, ClassesByNameAreCaseInsensitiveAndSkipCreationData) {
    Writer w;
    w.dword(WS_POPUP | WS_CAPTION);
    w.dword(0);
    w.word(2);
    for (int i = 0; i < 4; ++i)
        w.word(20);
    w.word(0);
    w.word(0);
    w.string("No font");
    // An item named by class string, with three bytes of creation data.
    w.align();
    w.dword(WS_CHILD | BS_AUTO3STATE);
    w.dword(0);
    for (int i = 0; i < 4; ++i)
        w.word(5);
    w.word(7);
    w.string("bUtToN");
    w.string("Tri");
    w.word(3);
    w.bytes.push_back(0xAA);
    w.bytes.push_back(0xBB);
    w.bytes.push_back(0xCC);
    w.align();
    w.dword(WS_CHILD | CBS_DROPDOWN);
    w.dword(0);
    for (int i = 0; i < 4; ++i)
        w.word(6);
    w.word(8);
    w.string("COMBOBOX");
    w.word(0);
    w.word(0);
    sim::DialogTemplate t;
    std::string error;
    ASSERT_TRUE(sim::parseDialogTemplate(w.bytes.data(), w.bytes.size(), &t, &error)) << error;
    EXPECT_FALSE(t.hasFont);
    ASSERT_EQ(2u, t.items.size());
    EXPECT_EQ((std::vector<BYTE>{0xAA, 0xBB, 0xCC}), t.items[0].creationData);
    EXPECT_EQ(sim::ControlKind::CheckBox,
              sim::controlKindOf(sim::controlClassName(t.items[0].windowClass), t.items[0].style));
    EXPECT_EQ(8u, t.items[1].id);
    EXPECT_EQ(sim::ControlKind::ComboBox,
              sim::controlKindOf(sim::controlClassName(t.items[1].windowClass), t.items[1].style));
}

TEST(DialogTemplate, EveryTruncationIsRefusedWithItsOffset) {
    for (bool extended : {false, true}) {
        std::vector<BYTE> bytes = sample(extended).build();
        for (size_t size = 0; size < bytes.size(); ++size) {
            SCOPED_TRACE("size " + std::to_string(size) + (extended ? " extended" : ""));
            // Copy into a buffer of exactly this size so a read past it shows under ASan.
            std::vector<BYTE> cut(bytes.begin(), bytes.begin() + static_cast<long>(size));
            sim::DialogTemplate t;
            t.title = "sentinel";
            std::string error;
            bool ok = sim::parseDialogTemplate(cut.empty() ? nullptr : cut.data(), cut.size(), &t,
                                               &error);
            // Every byte of the template is needed, down to the last item's creation-data size.
            EXPECT_FALSE(ok);
            EXPECT_NE(std::string::npos, error.find("dialog template ends inside")) << error;
            EXPECT_EQ("sentinel", t.title);
        }
    }
}

TEST(DialogTemplate, KindsFollowTheButtonStyle) {
    struct {
        DWORD style;
        sim::ControlKind kind;
    } cases[] = {{BS_PUSHBUTTON, sim::ControlKind::PushButton},
                 {BS_DEFPUSHBUTTON, sim::ControlKind::PushButton},
                 {BS_CHECKBOX, sim::ControlKind::CheckBox},
                 {BS_AUTOCHECKBOX, sim::ControlKind::CheckBox},
                 {BS_3STATE, sim::ControlKind::CheckBox},
                 {BS_AUTO3STATE, sim::ControlKind::CheckBox},
                 {BS_RADIOBUTTON, sim::ControlKind::RadioButton},
                 {BS_GROUPBOX, sim::ControlKind::GroupBox},
                 {BS_OWNERDRAW, sim::ControlKind::Other}};
    for (const auto& c : cases) {
        SCOPED_TRACE("style " + std::to_string(c.style));
        EXPECT_EQ(c.kind, sim::controlKindOf("Button", WS_CHILD | WS_TABSTOP | c.style));
    }
    sim::NameOrOrdinal unknown;
    unknown.isOrdinal = true;
    unknown.ordinal = 0x0086;
    EXPECT_EQ("", sim::controlClassName(unknown));
}

class TemplateDialogTest : public UiTest {};

TEST_F(TemplateDialogTest, UnknownControlClassFailsTheDialogBeforeItsProcedureRuns) {
    Template t;
    t.items.push_back(button(IDOK, "OK", BS_DEFPUSHBUTTON));
    Item odd = label(5, "?");
    odd.classAtom = 0;
    odd.className = "SysListView32";
    t.items.push_back(odd);
    std::vector<BYTE> bytes = t.build();
    Probe probe;
    std::string error;
    INT_PTR r = sim::dialogBoxFromBytes(nullptr, bytes.data(), bytes.size(), nullptr, probeProc,
                                        reinterpret_cast<LPARAM>(&probe), &error);
    EXPECT_EQ(-1, r);
    EXPECT_NE(std::string::npos, error.find("SysListView32")) << error;
    EXPECT_TRUE(probe.messages.empty());
    EXPECT_EQ(nullptr, top());
}

TEST_F(TemplateDialogTest, MalformedBytesFailTheDialog) {
    std::vector<BYTE> bytes = sample(false).build();
    bytes.resize(bytes.size() - 5);
    Probe probe;
    std::string error;
    EXPECT_EQ(-1, sim::dialogBoxFromBytes(nullptr, bytes.data(), bytes.size(), nullptr, probeProc,
                                          reinterpret_cast<LPARAM>(&probe), &error));
    EXPECT_NE(std::string::npos, error.find("ends inside")) << error;
    EXPECT_TRUE(probe.messages.empty());
}

TEST_F(TemplateDialogTest, MissingTemplateResourceReturnsMinusOne) {
    Probe probe;
    INT_PTR r = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(4242), nullptr, probeProc,
                                reinterpret_cast<LPARAM>(&probe));
    EXPECT_EQ(-1, r);
    EXPECT_TRUE(probe.messages.empty());
}

TEST_F(TemplateDialogTest, ControlsTakeTheTemplateLayoutInPixels) {
    Probe probe;
    Template t = sample(false);
    step([&] {
        RECT client, item;
        ASSERT_TRUE(GetClientRect(top(), &client));
        // MS Sans Serif 8: 6 x 13 pixels for 4 x 8 dialog units.
        EXPECT_EQ(300, client.right);
        EXPECT_EQ(163, client.bottom);
        sim::ControlInfo check = control(1003);
        EXPECT_EQ(15, check.pixels.left);
        EXPECT_EQ(81, check.pixels.top);
        EXPECT_EQ(75, check.pixels.right);
        EXPECT_EQ(104, check.pixels.bottom);
        ASSERT_TRUE(GetClientRect(GetDlgItem(top(), 1003), &item));
        EXPECT_EQ(60, item.right);
        EXPECT_EQ(23, item.bottom);
        EXPECT_EQ(128, control(1011).iconOrdinal);
    });
    run(t, &probe);
    EXPECT_EQ(1u, probe.of(WM_INITDIALOG).size());
}
