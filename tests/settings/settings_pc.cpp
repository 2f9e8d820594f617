// Helpers of the settings tests.
#include "settings_pc.h"

#include <string.h>

#include <fstream>
#include <sstream>

namespace settingstest {
namespace {

void putWord(std::vector<BYTE>* bytes, WORD value) {
    bytes->push_back(static_cast<BYTE>(value));
    bytes->push_back(static_cast<BYTE>(value >> 8));
}

void putDword(std::vector<BYTE>* bytes, DWORD value) {
    putWord(bytes, static_cast<WORD>(value));
    putWord(bytes, static_cast<WORD>(value >> 16));
}

void putText(std::vector<BYTE>* bytes, const char* text) {
    do
        putWord(bytes, static_cast<WORD>(static_cast<unsigned char>(*text)));
    while (*text++);
}

// A dialog with the caption of the main dialog and its run-at-log-on box, made three-state so
// that the test can put the third state into it.
std::vector<DWORD> mainWindowTemplate() {
    std::vector<BYTE> bytes;
    putDword(&bytes, WS_POPUP | WS_CAPTION | DS_MODALFRAME);
    putDword(&bytes, 0);
    putWord(&bytes, 1);
    for (WORD v : {0, 0, 200, 100})
        putWord(&bytes, v);
    putWord(&bytes, 0); // no menu
    putWord(&bytes, 0); // dialog class
    putText(&bytes, "Vantorel Tavrolin");
    while (bytes.size() % 4)
        bytes.push_back(0);
    putDword(&bytes, WS_CHILD | WS_VISIBLE | BS_AUTO3STATE);
    putDword(&bytes, 0);
    for (WORD v : {10, 10, 150, 10})
        putWord(&bytes, v);
    putWord(&bytes, IDC_RUN_AT_STARTUP_CHECK);
    putWord(&bytes, 0xFFFF);
    putWord(&bytes, 0x0080); // button
    putText(&bytes, "Run at log-on");
    putWord(&bytes, 0); // no creation data
    std::vector<DWORD> aligned((bytes.size() + 3) / 4, 0);
    memcpy(aligned.data(), bytes.data(), bytes.size());
    return aligned;
}

struct SaveCall {
    CAgpConfig* agp;
    UINT check;
    LRESULT checkSeen;
    bool saved;
};

INT_PTR CALLBACK saveFromDialog(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG)
        return FALSE;
    SaveCall* call = reinterpret_cast<SaveCall*>(lParam);
    SendDlgItemMessageA(dialog, IDC_RUN_AT_STARTUP_CHECK, BM_SETCHECK, call->check, 0);
    call->checkSeen = SendDlgItemMessageA(dialog, IDC_RUN_AT_STARTUP_CHECK, BM_GETCHECK, 0, 0);
    call->saved = saveSettings(call->agp, dialog);
    EndDialog(dialog, IDOK);
    return TRUE;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

void SettingsPc::boot(const std::string& directives) {
    bootMachine("default", directives);
}

void SettingsPc::bootMachine(const std::string& machine, const std::string& directives) {
    std::string profile = readFile(sim::machinesDir() + "/" + machine + ".lspci");
    ASSERT_FALSE(profile.empty()) << "machines/" << machine << ".lspci is missing";
    pc = sim::bootForTest(directives + profile);
    ASSERT_TRUE(pc.ok()) << pc.error();
    sim::shell().setAskOnTerminal(false);
}

void SettingsPc::storeWord(DWORD word) {
    std::vector<uint8_t> data(4);
    memcpy(data.data(), &word, 4);
    ASSERT_TRUE(sim::registry().createKey(HKEY_LOCAL_MACHINE, SETTINGS_KEY_PATH));
    ASSERT_TRUE(sim::registry().setValue(HKEY_LOCAL_MACHINE, SETTINGS_KEY_PATH,
                                         sim::RegValue{SETTINGS_VALUE_NAME, REG_DWORD, data}));
}

bool SettingsPc::storedWord(DWORD* word) {
    sim::RegValue value;
    if (!sim::registry().getValue(HKEY_LOCAL_MACHINE, SETTINGS_KEY_PATH, SETTINGS_VALUE_NAME,
                                  &value))
        return false;
    EXPECT_EQ(DWORD(REG_DWORD), value.type);
    EXPECT_EQ(4u, value.data.size());
    if (value.data.size() == 4)
        memcpy(word, value.data.data(), 4);
    return true;
}

bool SettingsPc::settingsKeyExists() {
    return sim::registry().keyExists(HKEY_LOCAL_MACHINE, SETTINGS_KEY_PATH);
}

bool SettingsPc::runValue(sim::RegValue* value) {
    return sim::registry().getValue(HKEY_LOCAL_MACHINE, RUN_KEY_PATH, RUN_VALUE_NAME, value);
}

void SettingsPc::storeRunValue(const std::string& text) {
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    ASSERT_TRUE(sim::registry().createKey(HKEY_LOCAL_MACHINE, RUN_KEY_PATH));
    ASSERT_TRUE(sim::registry().setValue(HKEY_LOCAL_MACHINE, RUN_KEY_PATH,
                                         sim::RegValue{RUN_VALUE_NAME, REG_SZ, data}));
}

void setModes(CAgpConfig* agp, int rate, int sideband, int fastWrite) {
    SCOPED_TRACE("setModes");
    ASSERT_EQ(0, agp->getInitError());
    agp->setDataRate(rate);
    agp->setSideband(sideband);
    agp->setFastWrite(fastWrite);
    ASSERT_EQ(rate, agp->getDataRate());
    ASSERT_EQ(sideband, agp->getSideband());
    ASSERT_EQ(fastWrite, agp->getFastWrite());
}

bool saveWithMainWindow(CAgpConfig* agp, UINT check, LRESULT* checkSeen) {
    std::vector<DWORD> dialog = mainWindowTemplate();
    SaveCall call{agp, check, -1, false};
    INT_PTR result =
        DialogBoxIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(dialog.data()), nullptr,
                                saveFromDialog, reinterpret_cast<LPARAM>(&call));
    EXPECT_EQ(IDOK, result) << "the test dialog did not run";
    *checkSeen = call.checkSeen;
    return call.saved;
}

} // namespace settingstest
