// The texts of the AGP data rates in both meanings of the rate field.
#include "ui/rate_texts.h"

#include <string.h>

namespace {

struct RateName {
    int rate;
    LPCSTR text;
};

// In list order. AGP 3.0 renames the field's values: 1 is 4X, 2 is 8X, 4 is reserved.
const RateName agp2Rates[MAX_RATE_ITEMS] = {
    {1, "1X (266Mb/s)"}, {2, "2X (532Mb/s)"}, {4, "4X (1064Mb/s)"}};
const RateName agp3Rates[MAX_RATE_ITEMS] = {{1, "4X (1064Mb/s)"}, {2, "8X (2128Mb/s)"}, {0, NULL}};

const RateName* ratesOf(int agp3) {
    return agp3 ? agp3Rates : agp2Rates;
}

} // namespace

LPCSTR rateText(int rate, int agp3) {
    const RateName* names = ratesOf(agp3);
    for (int i = 0; i < MAX_RATE_ITEMS; ++i) {
        if (names[i].text && names[i].rate == rate)
            return names[i].text;
    }
    return NULL;
}

int rateFromText(LPCSTR text, int agp3) {
    if (strcmp(text, "0X") == 0)
        return 0;
    const RateName* names = ratesOf(agp3);
    for (int i = 0; i < MAX_RATE_ITEMS; ++i) {
        if (names[i].text && strcmp(text, names[i].text) == 0)
            return names[i].rate;
    }
    return -1;
}

int rateItems(int supportedRates, int agp3, LPCSTR items[MAX_RATE_ITEMS]) {
    const RateName* names = ratesOf(agp3);
    int count = 0;
    for (int i = 0; i < MAX_RATE_ITEMS; ++i) {
        if (names[i].text && (supportedRates & names[i].rate))
            items[count++] = names[i].text;
    }
    return count;
}
