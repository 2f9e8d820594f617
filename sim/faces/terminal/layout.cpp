// Where the terminal face puts a dialog's controls: dialog units scaled to character cells.
#include "term_internal.h"

#include <algorithm>

namespace sim {
namespace term {
namespace {

// A closed combo box is one line of the font with its border, about as high as a push button;
// its template height is that of the dropped-down list.
const int kComboFieldUnits = 14;
// A static text up to this many units high holds one line of the dialog's font.
const int kOneLineUnits = 12;

long long floorDiv(long long a, long long b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}
long long ceilDiv(long long a, long long b) {
    return -floorDiv(-a, b);
}
long long roundDiv(long long a, long long b) {
    return floorDiv(2 * a + b, 2 * b);
}

int toInt(long long v) {
    return static_cast<int>(
        std::max<long long>(-0x40000000LL, std::min<long long>(v, 0x40000000LL)));
}

bool isOneLine(const ControlInfo& c) {
    switch (c.kind) {
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
    case ControlKind::ComboBox:
    case ControlKind::Edit:
        return true;
    case ControlKind::Static:
        return !c.iconOrdinal && c.dialogUnits.bottom - c.dialogUnits.top <= kOneLineUnits;
    default:
        return false;
    }
}

} // namespace

Scale fitScale(int cx, int cy, int columns, int rows) {
    Scale s;
    if (ceilDiv(std::max(cx, 0), s.unitsX) + 2 > columns && columns > 2) {
        s.cellsX = columns - 2;
        s.unitsX = cx;
    }
    if (ceilDiv(std::max(cy, 0), s.unitsY) + 2 > rows && rows > 2) {
        s.cellsY = rows - 2;
        s.unitsY = cy;
    }
    return s;
}

CellRect dluToCells(const RECT& d, const Scale& s) {
    CellRect r;
    r.left = toInt(floorDiv(static_cast<long long>(d.left) * s.cellsX, s.unitsX));
    r.top = toInt(floorDiv(static_cast<long long>(d.top) * s.cellsY, s.unitsY));
    r.right =
        std::max(r.left + 1, toInt(ceilDiv(static_cast<long long>(d.right) * s.cellsX, s.unitsX)));
    r.bottom =
        std::max(r.top + 1, toInt(ceilDiv(static_cast<long long>(d.bottom) * s.cellsY, s.unitsY)));
    return r;
}

CellRect pixelsToCells(const RECT& p, int baseX, int baseY, const Scale& s) {
    // A pixel is 4 / baseX horizontal and 8 / baseY vertical dialog units.
    long long numX = 4LL * s.cellsX, denX = static_cast<long long>(std::max(1, baseX)) * s.unitsX;
    long long numY = 8LL * s.cellsY, denY = static_cast<long long>(std::max(1, baseY)) * s.unitsY;
    CellRect r;
    r.left = toInt(floorDiv(p.left * numX, denX));
    r.top = toInt(floorDiv(p.top * numY, denY));
    r.right = std::max(r.left + 1, toInt(ceilDiv(p.right * numX, denX)));
    r.bottom = std::max(r.top + 1, toInt(ceilDiv(p.bottom * numY, denY)));
    return r;
}

CellRect controlCells(const ControlInfo& c, const DialogLayout& layout) {
    const Scale& s = layout.scale;
    CellRect r = dluToCells(c.dialogUnits, s);
    long long top = c.dialogUnits.top, bottom = c.dialogUnits.bottom;
    if (isOneLine(c)) {
        if (c.kind == ControlKind::ComboBox)
            bottom = top + kComboFieldUnits;
        r.top = toInt(floorDiv((top + bottom) * s.cellsY, 2LL * s.unitsY));
        r.bottom = r.top + 1;
    } else {
        r.top = toInt(roundDiv(top * s.cellsY, s.unitsY));
        r.bottom = std::max(r.top + 1, toInt(roundDiv(bottom * s.cellsY, s.unitsY)));
    }
    r = offset(r, layout.client.left, layout.client.top);
    r.right = std::min(r.right, layout.client.right);
    r.bottom = std::min(r.bottom, layout.client.bottom);
    return r;
}

} // namespace term
} // namespace sim
