// The machine report's text: its comment lines and its functions in `lspci -nxxx` form.
#include "app/machine_report.h"

#include <string.h>

#include "agpcfg/agpcfg.h"
#include "app/tavrol_app.h"
#include "tavrol_version.h"
#include "ui/rate_texts.h"

void ReportText::clear() {
    length = 0;
    overflow = false;
    text[0] = '\0';
}

void ReportText::add(const char* s) {
    size_t n = strlen(s);
    if (length + n >= sizeof text) {
        overflow = true;
        n = sizeof text - 1 - length;
    }
    memcpy(text + length, s, n);
    length += n;
    text[length] = '\0';
}

void ReportText::addHex(DWORD value, int digits) {
    static const char kHex[] = "0123456789abcdef";
    char out[9];
    if (digits > 8)
        digits = 8;
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        out[i] = kHex[value & 0xF];
    out[digits] = '\0';
    add(out);
}

void ReportText::addDecimal(DWORD value, int width) {
    char digits[11];
    int count = 0;
    if (width > 10)
        width = 10;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0 || count < width);
    char out[11];
    for (int i = 0; i < count; ++i)
        out[i] = digits[count - 1 - i];
    out[count] = '\0';
    add(out);
}

void ReportText::addAddress(PciAddress address) {
    addHex(pciBusOf(address), 2);
    add(":");
    addHex((address >> 3) & 0x1F, 2);
    add(".");
    addHex(address & 7, 1);
}

namespace {

typedef void(WINAPI* GetLocalTimeFunction)(SYSTEMTIME*);

void addWindowsLine(ReportText* out) {
    out->add("# Windows: ");
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        out->add("unknown (GetVersionExA failed)\n");
        return;
    }
    bool windows9x = version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
    out->addDecimal(version.dwMajorVersion);
    out->add(".");
    out->addDecimal(version.dwMinorVersion);
    out->add(".");
    // Windows 9x keeps the major and minor version in the build number's high word.
    out->addDecimal(windows9x ? version.dwBuildNumber & 0xFFFF : version.dwBuildNumber);
    out->add(windows9x ? " 9x" : " NT");
    out->add(!PLATFORM_HAS_WIN9X || runsUnderWow64() ? " 64-bit" : " 32-bit");
    if (version.szCSDVersion[0] != '\0') {
        version.szCSDVersion[sizeof version.szCSDVersion - 1] = '\0';
        out->add(" ");
        out->add(version.szCSDVersion);
    }
    out->add("\n");
}

void addDateLine(ReportText* out) {
    out->add("# Date: ");
    // Looked up at run time, as every function the reviewed import lists do not hold.
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    GetLocalTimeFunction getLocalTime =
        kernel32 ? lookUpProc<GetLocalTimeFunction>(kernel32, "GetLocalTime") : nullptr;
    if (!getLocalTime) {
        out->add("unknown\n");
        return;
    }
    SYSTEMTIME now;
    memset(&now, 0, sizeof now);
    getLocalTime(&now);
    out->addDecimal(now.wYear);
    out->add("-");
    out->addDecimal(now.wMonth, 2);
    out->add("-");
    out->addDecimal(now.wDay, 2);
    out->add(" ");
    out->addDecimal(now.wHour, 2);
    out->add(":");
    out->addDecimal(now.wMinute, 2);
    out->add(" local time\n");
}

void addEnd(ReportText* out, const char* role, int found, PciAddress address, DWORD id, WORD cap) {
    out->add("# AGP ");
    out->add(role);
    out->add(": ");
    if (!found) {
        out->add("not found\n");
        return;
    }
    out->addAddress(address);
    out->add(" id ");
    out->addHex(id, 8);
    out->add(", AGP capability at ");
    out->addHex(cap, 2);
    out->add("\n");
}

const char* modeText(int state) {
    return state == AGP_MODE_ON ? "on" : state == AGP_MODE_OFF ? "off" : "not supported";
}

void addModesLine(CAgpConfig* config, ReportText* out) {
    out->add("# AGP modes: ");
    if (config->getInitError() != AGP_OK) {
        out->add("unknown\n");
        return;
    }
    int agp3 = config->isAgp3();
    LPCSTR rate = rateText(config->getDataRate(), agp3);
    out->add("data rate ");
    out->add(rate ? rate : "unknown");
    out->add(", supported");
    LPCSTR items[MAX_RATE_ITEMS];
    int count = rateItems(config->getSupportedRates(), agp3, items);
    for (int i = 0; i < count; ++i) {
        out->add(i == 0 ? " " : ", ");
        out->add(items[i]);
    }
    out->add(agp3 ? "; AGP 3.0 mode" : "; AGP 2.0 mode");
    out->add("; sideband addressing ");
    out->add(modeText(config->getSideband()));
    out->add(", fast writes ");
    out->add(modeText(config->getFastWrite()));
    out->add("\n");
}

} // namespace

int reportHeaderLine(CAgpConfig* config, int index, ReportText* out) {
    out->clear();
    PciAddress address = 0;
    DWORD id = 0;
    WORD cap = 0;
    switch (index) {
    case 0:
        out->add("# Tavrolin machine report: the PCI functions below are in lspci -xxx form\n");
        return 1;
    case 1:
        out->add("# Program: Tavrolin " TAVROL_VERSION_TEXT);
        out->add(PLATFORM_HAS_WIN9X ? " for 32-bit Windows\n" : " for 64-bit Windows\n");
        return 1;
    case 2:
        addWindowsLine(out);
        return 1;
    case 3:
        addDateLine(out);
        return 1;
    case 4:
        out->add("# AgpError: ");
        out->addDecimal((DWORD)config->getInitError());
        out->add("\n");
        return 1;
    case 5: {
        int found = config->getBridge(&address, &id, &cap);
        addEnd(out, "host bridge", found, address, id, cap);
        return 1;
    }
    case 6: {
        int found = config->getGraphics(&address, &id, &cap);
        addEnd(out, "graphics device", found, address, id, cap);
        return 1;
    }
    case 7:
        addModesLine(config, out);
        return 1;
    default:
        return 0;
    }
}

void formatFunctionDump(PciAddress address, const BYTE* config, ReportText* out) {
    out->clear();
    out->addAddress(address);
    out->add(" ");
    out->addHex(config[0x0B], 2);
    out->addHex(config[0x0A], 2);
    out->add(": ");
    out->addHex(config[0x00] | (config[0x01] << 8), 4);
    out->add(":");
    out->addHex(config[0x02] | (config[0x03] << 8), 4);
    out->add(" (rev ");
    out->addHex(config[0x08], 2);
    out->add(")\n");
    for (int row = 0; row < 256; row += 16) {
        out->addHex((DWORD)row, 2);
        out->add(":");
        for (int i = 0; i < 16; ++i) {
            out->add(" ");
            out->addHex(config[row + i], 2);
        }
        out->add("\n");
    }
    out->add("\n");
}
