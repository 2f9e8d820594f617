// The probe: the program's own controller run on the virtual PC, its getters printed, and the
// rate texts taken from the table the main dialog lists.
#include "probe.h"

#include <cstdio>
#include <string>

#include "agpcfg/agpcfg.h"
#include "sim/machine.h"
#include "sim/ui.h"
#include "ui/rate_texts.h"

namespace cli {
namespace {

const char* modeText(int state) {
    switch (state) {
    case AGP_MODE_OFF:
        return "off";
    case AGP_MODE_ON:
        return "on";
    default:
        return "not supported";
    }
}

// The items of the rate combo box as the dialog fills it: none when discovery failed (the
// dialog does not open) or no rate is programmed (the box is disabled and empty).
int comboItems(CAgpConfig& agp, int rate, LPCSTR items[MAX_RATE_ITEMS]) {
    if (agp.getInitError() != AGP_OK || rate == 0)
        return 0;
    return rateItems(agp.getSupportedRates(), agp.isAgp3(), items);
}

// "4X (1064Mb/s)" is "4X" for people.
std::string shortRate(LPCSTR text) {
    std::string rate = text;
    return rate.substr(0, rate.find(' '));
}

void printText(CAgpConfig& agp) {
    int error = agp.getInitError();
    printf("AGP discovery: %d%s\n", error, error == 0 ? " (usable)" : "");
    if (error != 0)
        return;
    int agp3 = agp.isAgp3();
    printf("AGP 3.0 mode: %s\n", agp3 ? "yes" : "no");
    LPCSTR items[MAX_RATE_ITEMS];
    int count = rateItems(agp.getSupportedRates(), agp3, items);
    printf("supported rates:");
    for (int i = 0; i < count; ++i)
        printf(" %s", shortRate(items[i]).c_str());
    int rate = agp.getDataRate();
    LPCSTR text = rateText(rate, agp3);
    if (text)
        printf("\ndata rate: %s\n", shortRate(text).c_str());
    else
        printf("\ndata rate: none (rate field %d)\n", rate);
    printf("sideband addressing: %s\n", modeText(agp.getSideband()));
    printf("fast writes: %s\n", modeText(agp.getFastWrite()));
}

// One end of the link as {"address", "id", "cap"}, or null when discovery did not find it.
std::string functionJson(CAgpConfig& agp, int (CAgpConfig::*end)(PciAddress*, DWORD*, WORD*)) {
    PciAddress address = 0;
    DWORD id = 0;
    WORD cap = 0;
    if (!(agp.*end)(&address, &id, &cap))
        return "null";
    char text[96];
    snprintf(text, sizeof text, "{\"address\":\"%02x:%02x.%x\",\"id\":\"%08x\",\"cap\":%u}",
             (address >> 8) & 0xFF, (address >> 3) & 0x1F, address & 7, id,
             static_cast<unsigned>(cap));
    return text;
}

void printJson(CAgpConfig& agp) {
    int error = agp.getInitError();
    int supported = agp.getSupportedRates();
    int rate = agp.getDataRate();
    int sideband = agp.getSideband();
    int fastWrite = agp.getFastWrite();
    int agp3 = agp.isAgp3();
    LPCSTR items[MAX_RATE_ITEMS];
    int count = comboItems(agp, rate, items);
    std::string texts;
    LPCSTR current = rateText(rate, agp3);
    bool selected = false;
    for (int i = 0; i < count; ++i) {
        texts += (i ? "," : "") + sim::jsonString(items[i]);
        selected = selected || (current && std::string(current) == items[i]);
    }
    std::string bridge = functionJson(agp, &CAgpConfig::getBridge);
    std::string graphics = functionJson(agp, &CAgpConfig::getGraphics);
    std::string faults;
    for (const std::string& fault : sim::machine().linkFaults())
        faults += (faults.empty() ? "" : ",") + sim::jsonString(fault.c_str());
    printf("{\"initError\":%d,\"supportedRates\":%d,\"rate\":%d,\"sideband\":%d,\"fastWrite\":%d,"
           "\"agp3\":%s,\"rateTexts\":[%s],\"rateText\":%s,\"bridge\":%s,\"graphics\":%s,"
           "\"linkFaults\":[%s]}\n",
           error, supported, rate, sideband, fastWrite, agp3 ? "true" : "false", texts.c_str(),
           selected ? sim::jsonString(current).c_str() : "null", bridge.c_str(), graphics.c_str(),
           faults.c_str());
}

} // namespace

int probe(bool json) {
    CAgpConfig agp;
    if (json)
        printJson(agp);
    else
        printText(agp);
    return 0;
}

} // namespace cli
