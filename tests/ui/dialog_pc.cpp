// Test bench of the dialogs.
#include "dialog_pc.h"

#include <algorithm>
#include <cstring>

#include "sim/pe_module.h"

namespace uitest {

const char* const kSettingsKey = "Software\\Vantorel Tech\\Tavrolin";
const char* const kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kRunValue = "Vantorel Tavrolin";
const char* const kRate1x = "1X (266Mb/s)";
const char* const kRate2x = "2X (532Mb/s)";
const char* const kRate4x = "4X (1064Mb/s)";
const char* const kRate8x = "8X (2128Mb/s)";

namespace {

void putDword(sim::PciFunctionImage* image, int offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        image->config[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

sim::PciFunctionImage agpFunction(int bus, uint16_t vendor, uint16_t device, uint32_t classCode,
                                  int cap, uint32_t status, uint32_t command, bool hasAgp = true) {
    sim::PciFunctionImage image;
    image.bus = static_cast<uint8_t>(bus);
    image.description = classCode == PCI_CLASS_VGA ? "VGA compatible controller: AGP card"
                                                   : "Host bridge: AGP host bridge";
    putDword(&image, 0x00, vendor | (static_cast<uint32_t>(device) << 16));
    // Capabilities list (when there is one), I/O, memory, bus master.
    putDword(&image, 0x04, (hasAgp ? 0x02300007u : 0x02200007u));
    putDword(&image, 0x08, (classCode << 8) | 0x01);
    if (classCode == PCI_CLASS_VGA)
        putDword(&image, 0x10, 0xD8000008);
    if (!hasAgp)
        return image;
    image.config[0x34] = static_cast<uint8_t>(cap);
    image.config[cap] = AGP_CAPABILITY_ID;
    image.config[cap + 2] = 0x20; // AGP 2.0
    putDword(&image, cap + 4, status);
    putDword(&image, cap + 8, command);
    return image;
}

std::string profileOf(const AgpHardware& hardware) {
    std::string text = hardware.nt ? "#! windows nt\n" : "#! windows 9x\n";
    for (const std::string& directive : hardware.directives)
        text += "#! " + directive + "\n";
    std::vector<sim::PciFunctionImage> functions = {
        agpFunction(0, 0x8086, 0x1A30, PCI_CLASS_HOST_BRIDGE, kBridgeCap, hardware.bridgeStatus,
                    hardware.command, hardware.bridgeHasAgp),
        agpFunction(1, 0x1002, 0x5144, PCI_CLASS_VGA, kGraphicsCap, hardware.graphicsStatus,
                    hardware.command)};
    return text + sim::formatLspci(functions);
}

// Where the item with `id` keeps its style in a DLGTEMPLATEEX: style, x, y, cx, cy, id.
size_t itemStyleOffset(const std::vector<BYTE>& bytes, const sim::DialogItemTemplate& item) {
    BYTE pattern[16];
    DWORD style = item.style;
    short position[4] = {static_cast<short>(item.x), static_cast<short>(item.y),
                         static_cast<short>(item.cx), static_cast<short>(item.cy)};
    DWORD id = item.id;
    std::memcpy(pattern, &style, 4);
    std::memcpy(pattern + 4, position, 8);
    std::memcpy(pattern + 12, &id, 4);
    auto found = std::search(bytes.begin(), bytes.end(), pattern, pattern + sizeof pattern);
    return found == bytes.end() ? std::string::npos : static_cast<size_t>(found - bytes.begin());
}

} // namespace

DWORD packedSettings(int run, int fastWrite, int sideband, int rate) {
    return static_cast<DWORD>(run + fastWrite * 2 + sideband * 8 + rate * 32);
}

void DialogPcTest::startAllowingFailure(const AgpHardware& hardware) {
    TearDown(); // a test that starts twice ends the first run completely before the next boot
    std::string profile = profileOf(hardware);
    m_pc = sim::bootForTest(profile);
    ASSERT_TRUE(m_pc.ok()) << m_pc.error() << "\n" << profile;
    ASSERT_TRUE(sim::installResourceLibrary());
    m_resources = LoadLibraryA("Tavrol.tvx");
    ASSERT_NE(m_resources, nullptr);
    m_app.reset(new CTavrolApp);
    AfxSetResourceHandle(m_resources);
    ASSERT_TRUE(m_app->loadSettings());
    isNt = 0; // as at the start of every run of the program
    m_app->m_pAgpConfig = new CAgpConfig;
}

void DialogPcTest::start(const AgpHardware& hardware) {
    startAllowingFailure(hardware);
    ASSERT_NE(m_app->m_pAgpConfig, nullptr);
    ASSERT_EQ(m_app->m_pAgpConfig->getInitError(), 0) << profileOf(hardware);
    sim::shell().clearMessageBoxes();
}

void DialogPcTest::TearDown() {
    m_app.reset(); // deletes the controller, which removes the driver service
    AfxSetResourceHandle(nullptr);
    if (m_resources)
        FreeLibrary(m_resources);
    m_resources = nullptr;
}

INT_PTR DialogPcTest::runMain(std::vector<std::function<void()>> steps) {
    return runMainWithStyles({}, std::move(steps));
}

INT_PTR DialogPcTest::runMainWithStyles(std::vector<std::pair<int, DWORD>> styles,
                                        std::vector<std::function<void()>> steps) {
    std::vector<DWORD> storage;
    CTavrolDlg dialog(nullptr);
    if (!styles.empty()) {
        HRSRC found = FindResourceA(m_resources, MAKEINTRESOURCEA(102), RT_DIALOG);
        EXPECT_NE(found, nullptr);
        if (!found)
            return -2;
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(m_resources, found)));
        std::vector<BYTE> bytes(data, data + SizeofResource(m_resources, found));
        sim::DialogTemplate parsed;
        std::string error;
        EXPECT_TRUE(sim::parseDialogTemplate(bytes.data(), bytes.size(), &parsed, &error)) << error;
        for (const auto& change : styles) {
            auto item = std::find_if(parsed.items.begin(), parsed.items.end(),
                                     [&](const sim::DialogItemTemplate& i) {
                                         return static_cast<int>(i.id) == change.first;
                                     });
            EXPECT_NE(item, parsed.items.end()) << "template 102 has no control " << change.first;
            size_t offset =
                item == parsed.items.end() ? std::string::npos : itemStyleOffset(bytes, *item);
            EXPECT_NE(offset, std::string::npos) << "control " << change.first << " not found";
            if (offset == std::string::npos)
                return -2;
            std::memcpy(&bytes[offset], &change.second, 4);
        }
        storage.assign((bytes.size() + 3) / 4, 0);
        std::memcpy(storage.data(), bytes.data(), bytes.size());
        dialog.InitModalIndirect(reinterpret_cast<LPCDLGTEMPLATEA>(storage.data()));
    }
    for (auto& step : steps)
        sim::ui().queueStep(step);
    m_app->m_pMainWnd = &dialog;
    INT_PTR result = dialog.DoModal();
    m_app->m_pMainWnd = nullptr;
    return result;
}

void DialogPcTest::click(int id) {
    sim::UiResult result = sim::ui().click(id);
    ASSERT_TRUE(result.ok) << "click " << id << ": " << result.error;
}

void DialogPcTest::check(int id, int state) {
    sim::UiResult result = sim::ui().check(id, state);
    ASSERT_TRUE(result.ok) << "check " << id << " " << state << ": " << result.error;
}

void DialogPcTest::select(int id, const std::string& text) {
    sim::UiResult result = sim::ui().select(id, text);
    ASSERT_TRUE(result.ok) << "select " << id << " '" << text << "': " << result.error;
}

sim::ControlInfo DialogPcTest::control(int id) {
    sim::ControlInfo info;
    EXPECT_TRUE(sim::ui().findControl(sim::ui().topDialog(), id, &info)) << "no control " << id;
    return info;
}

uint32_t DialogPcTest::graphicsCommand() const {
    return sim::machine().configDword(1, 0, 0, kGraphicsCap + 8);
}

uint32_t DialogPcTest::bridgeCommand() const {
    return sim::machine().configDword(0, 0, 0, kBridgeCap + 8);
}

long long DialogPcTest::storedSettings() const {
    sim::RegValue value;
    if (!sim::registry().getValue(HKEY_LOCAL_MACHINE, kSettingsKey, "Settings", &value))
        return -1;
    if (value.type != REG_DWORD || value.data.size() != 4)
        return -2;
    DWORD word;
    std::memcpy(&word, value.data.data(), 4);
    return word;
}

bool DialogPcTest::settingsKeyExists() const {
    return sim::registry().keyExists(HKEY_LOCAL_MACHINE, kSettingsKey);
}

bool DialogPcTest::runValueExists() const {
    sim::RegValue value;
    return sim::registry().getValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, &value);
}

std::string DialogPcTest::runValueText() const {
    sim::RegValue value;
    if (!sim::registry().getValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, &value))
        return "";
    return std::string(
        reinterpret_cast<const char*>(value.data.data()),
        strnlen(reinterpret_cast<const char*>(value.data.data()), value.data.size()));
}

} // namespace uitest
