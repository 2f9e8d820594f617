// The texts of the AGP data rates, as the main dialog's rate combo box lists them. Everything
// that shows a rate takes its text from here, so that the program and its tools agree.
#pragma once

#include "platform/platform.h"

// The combo box never lists more rates than this.
enum : int { MAX_RATE_ITEMS = 3 };

// The text of a rate value: on an AGP 3.0 link (agp3 nonzero) the values 1 and 2 are 4X and 8X.
// Null for a value without a text in that mode.
LPCSTR rateText(int rate, int agp3);
// The rate value of a text, -1 when it is not a rate text of that mode. "0X" gives 0: it is
// never listed, but a combo box that takes typing can hold it.
int rateFromText(LPCSTR text, int agp3);
// The combo box's items for a mask of supported rate values, in the order the box lists them.
// Returns how many were put into `items`.
int rateItems(int supportedRates, int agp3, LPCSTR items[MAX_RATE_ITEMS]);
