// The About box from the system menu and the restore-defaults flow of the main dialog.
#include "dialog_pc.h"

#include <cstring>

using namespace uitest;

namespace {

class CompanionTest : public DialogPcTest {
  protected:
    // A PC whose settings and Run entry an earlier Apply left behind.
    void startWithStoredSettings(const std::vector<std::string>& directives = {}) {
        AgpHardware hardware;
        hardware.directives = directives;
        start(hardware);
        sim::RegValue settings{"Settings", REG_DWORD, {0x49, 0, 0, 0}};
        ASSERT_TRUE(sim::registry().setValue(HKEY_LOCAL_MACHINE, kSettingsKey, settings));
        ASSERT_TRUE(
            sim::registry().createKey(HKEY_LOCAL_MACHINE, std::string(kSettingsKey) + "\\Nested"));
        const char path[] = "C:\\Tavrol.exe -startup";
        sim::RegValue run{kRunValue, REG_SZ, std::vector<uint8_t>(path, path + sizeof path)};
        ASSERT_TRUE(sim::registry().setValue(HKEY_LOCAL_MACHINE, kRunKey, run));
        ASSERT_TRUE(settingsKeyExists());
    }
};

class AboutCommandTest : public CompanionTest, public ::testing::WithParamInterface<UINT> {};

TEST_P(AboutCommandTest, SystemCommandOpensTheAboutBoxOverTheMainDialog) {
    start(AgpHardware());
    UINT command = GetParam();
    HWND main = nullptr;
    std::string aboutTitle;
    HWND aboutOwner = nullptr;
    bool mainBackOnTop = false;
    INT_PTR result = runMain({[&] {
                                  main = sim::ui().topDialog();
                                  // Only 0x0010 is on the menu; Windows may set the low bits.
                                  SendMessageA(main, WM_SYSCOMMAND, command, 0);
                              },
                              // Runs inside the About box's own modal loop.
                              [&] {
                                  sim::DialogInfo about = sim::ui().describe(sim::ui().topDialog());
                                  aboutTitle = about.title;
                                  aboutOwner = about.owner;
                                  click(IDOK);
                              },
                              [&] {
                                  mainBackOnTop = sim::ui().topDialog() == main;
                                  click(IDCANCEL);
                              }});
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(aboutTitle, "About Tavrolin");
    EXPECT_EQ(aboutOwner, nullptr) << "the About box is made without a parent";
    EXPECT_TRUE(mainBackOnTop);
    EXPECT_EQ(graphicsCommand(), kEnable | 2u);
    EXPECT_EQ(storedSettings(), -1);
}

INSTANTIATE_TEST_SUITE_P(LowBitsIgnored, AboutCommandTest, ::testing::Range(0x10u, 0x20u));

TEST_F(CompanionTest, OtherSystemCommandsDoNotOpenTheAboutBox) {
    start(AgpHardware());
    std::vector<std::string> titles;
    runMain({[&] {
        SendMessageA(sim::ui().topDialog(), WM_SYSCOMMAND, 0x0030, 0);
        titles.push_back(sim::ui().describe(sim::ui().topDialog()).title);
        ASSERT_TRUE(sim::ui().sysCommand(SC_MINIMIZE).ok);
        titles.push_back(sim::ui().describe(sim::ui().topDialog()).title);
    }});
    EXPECT_EQ(titles, (std::vector<std::string>{"Vantorel Tavrolin", "Vantorel Tavrolin"}));
}

TEST_F(CompanionTest, RestoreWithRestartDeletesSettingsKeepsRunAndRestarts) {
    startWithStoredSettings();
    std::string restoreTitle;
    INT_PTR result = runMain({[&] { click(IDC_RESTORE_DEFAULTS); },
                              [&] {
                                  restoreTitle = sim::ui().describe(sim::ui().topDialog()).title;
                                  click(IDYES);
                              }});
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(restoreTitle, "Restore defaults");
    EXPECT_FALSE(settingsKeyExists()) << "the nested settings tree is still there";
    EXPECT_TRUE(runValueExists());
    EXPECT_TRUE(sim::shell().restartRequested());
    EXPECT_TRUE(sim::shell().shutdownPrivilegeEnabled());
    const auto& calls = sim::shell().exitWindowsCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].flags, static_cast<UINT>(EWX_REBOOT));
    EXPECT_EQ(calls[0].reason, 0u);
    EXPECT_EQ(graphicsCommand(), kEnable | 2u) << "the modes in force were touched";

    // A later start finds nothing stored.
    ASSERT_TRUE(m_app->loadSettings());
    EXPECT_EQ(m_app->m_savedRate, 999);
    EXPECT_EQ(m_app->m_savedSideband, 999);
    EXPECT_EQ(m_app->m_savedFastWrite, 999);
    EXPECT_EQ(m_app->m_runAtStartup, 0);
}

TEST_F(CompanionTest, RestoreWithoutRestartDeletesSettingsOnly) {
    startWithStoredSettings();
    INT_PTR result = runMain({[&] { click(IDC_RESTORE_DEFAULTS); }, [&] { click(IDNO); }});
    EXPECT_EQ(result, IDOK);
    EXPECT_FALSE(settingsKeyExists());
    EXPECT_TRUE(runValueExists());
    EXPECT_FALSE(sim::shell().restartRequested());
    EXPECT_TRUE(sim::shell().exitWindowsCalls().empty());
}

TEST_F(CompanionTest, RefusedRestartStillDeletesAndCloses) {
    startWithStoredSettings({"no-shutdown-privilege"});
    INT_PTR result = runMain({[&] { click(IDC_RESTORE_DEFAULTS); }, [&] { click(IDYES); }});
    EXPECT_EQ(result, IDOK);
    EXPECT_FALSE(settingsKeyExists());
    EXPECT_FALSE(sim::shell().restartRequested());
    EXPECT_TRUE(sim::shell().messageBoxes().empty()) << "a failure was shown";
}

TEST_F(CompanionTest, MissingTemplatesOpenNothingAndChangeNothing) {
    startWithStoredSettings();
    HWND main = nullptr;
    std::vector<HWND> topAfter;
    INT_PTR result = runMain({[&] {
                                  main = sim::ui().topDialog();
                                  // Templates 100 and 134 are looked up in the executable,
                                  // which has none: both modal runs fail at once.
                                  AfxSetResourceHandle(GetModuleHandleA(nullptr));
                                  SendMessageA(main, WM_SYSCOMMAND, 0x0010, 0);
                                  topAfter.push_back(sim::ui().topDialog());
                                  click(IDC_RESTORE_DEFAULTS);
                                  topAfter.push_back(sim::ui().topDialog());
                                  AfxSetResourceHandle(m_resources);
                              },
                              [&] { click(IDCANCEL); }});
    EXPECT_EQ(result, IDCANCEL) << "the main dialog was ended";
    EXPECT_EQ(topAfter, (std::vector<HWND>{main, main}));
    EXPECT_EQ(storedSettings(), 0x49);
    EXPECT_TRUE(runValueExists());
    EXPECT_FALSE(sim::shell().restartRequested());
    EXPECT_TRUE(sim::shell().messageBoxes().empty());
}

TEST_F(CompanionTest, CancelledRestoreChangesNothingAndTheDialogStaysOpen) {
    for (bool byEsc : {true, false}) {
        SCOPED_TRACE(byEsc ? "Esc" : "Cancel button");
        startWithStoredSettings();
        HWND main = nullptr;
        bool mainBackOnTop = false;
        INT_PTR result = runMain({[&] {
                                      main = sim::ui().topDialog();
                                      click(IDC_RESTORE_DEFAULTS);
                                  },
                                  [&] {
                                      if (byEsc)
                                          ASSERT_TRUE(sim::ui().key(sim::Key::Esc).ok);
                                      else
                                          click(IDCANCEL);
                                  },
                                  [&] {
                                      mainBackOnTop = sim::ui().topDialog() == main;
                                      click(IDCANCEL);
                                  }});
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_TRUE(mainBackOnTop);
        EXPECT_EQ(storedSettings(), 0x49);
        EXPECT_TRUE(runValueExists());
        EXPECT_FALSE(sim::shell().restartRequested());
    }
}

} // namespace
