// Shared by the terminal face's drawing files.
#pragma once

#include "sim/ui.h"

#include <string>
#include <vector>

namespace sim {
namespace term {

// Splits text into lines of at most `width` characters, at blanks where possible.
std::vector<std::string> wrap(const std::string& text, int width);
CellRect offset(const CellRect& r, int dx, int dy);
// The canvas rows a drawing may use: the first `rows`, or all of them for -1.
int usableRows(const Canvas& canvas, int rows);

} // namespace term
} // namespace sim
