// The terminal face's drawing of a dialog: laid out from its template, coloured as the program's
// colouring handler asked, with the words a screen reader would say for what is unavailable.
#include "term_internal.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace term {
namespace {

// Colours the system would give anyway are drawn in the terminal's own colours.
bool systemText(COLORREF c) {
    return c == GetSysColor(COLOR_WINDOWTEXT);
}
bool systemBackground(COLORREF c) {
    return c == GetSysColor(COLOR_BTNFACE) || c == GetSysColor(COLOR_WINDOW);
}

int textColour(COLORREF c) {
    return systemText(c) ? kDefault : nearestColour(c);
}
int backColour(COLORREF c) {
    return systemBackground(c) ? kDefault : nearestColour(c);
}

int brushColour(HBRUSH brush, bool* hollow) {
    GdiObjectInfo info = gdiObjectInfo(brush);
    *hollow = info.kind != GdiObjectInfo::Brush || info.hollow;
    return *hollow ? kDefault : backColour(info.colour);
}

std::string checkMark(int check) {
    return check == 1 ? "[x] " : (check == 2 ? "[-] " : "[ ] ");
}

// `text` shortened so that it and `suffix` fit in `room` cells; the suffix is kept whole.
std::string fitWithSuffix(const std::string& text, const std::string& suffix, int room) {
    int keep = std::max(0, room - static_cast<int>(suffix.size()));
    return text.substr(0, std::min(text.size(), static_cast<size_t>(keep))) + suffix;
}

struct Drawn {
    CellRect cells; // where the control's text went, for the dim and focus attributes
};

// The free cells around a control's first row: to the right up to `limit`, and whether the
// row below it is free across the control's width.
struct Room {
    int limit;
    bool below;
};

// A control of one line: its text from the left edge of its area, or centred (push buttons).
// A disabled one says so after its text, running on into the free cells to its right when its
// own area is too narrow and shortening its text (to no fewer than three characters) rather than
// the word; where even that does not fit, the word goes on the free row below.
Drawn drawLine(Canvas& canvas, const CellRect& area, const Room& room, const std::string& before,
               const std::string& text, const std::string& after, bool disabled, bool centred,
               int fg, int bg) {
    const size_t kShortest = 3;
    int width = area.right - area.left;
    std::string suffix = disabled ? std::string(" (") + kUnavailable + ")" : std::string();
    int space = std::max(width, room.limit - area.left);
    int frame = static_cast<int>(before.size() + after.size());
    std::string whole = before + text + suffix + after;
    bool wordBelow = false;
    if (static_cast<int>(whole.size()) > width) {
        int kept = space - frame - static_cast<int>(suffix.size());
        if (kept >= static_cast<int>(std::min(kShortest, text.size()))) {
            whole = before + fitWithSuffix(text, suffix, space - frame) + after;
        } else {
            whole = before + text + after;
            wordBelow = disabled && room.below;
        }
    }
    int length = std::min(static_cast<int>(whole.size()), space);
    int x = area.left;
    if (centred && length <= width)
        x += (width - length) / 2;
    canvas.text(x, area.top, whole, fg, bg, length);
    CellRect cells = {x, area.top, x + length, area.top + 1};
    if (wordBelow) {
        int wordX =
            area.left + std::max(0, (width - static_cast<int>(std::strlen(kUnavailable))) / 2);
        canvas.text(wordX, area.top + 1, kUnavailable, fg, canvas.at(wordX, area.top + 1).bg,
                    width);
        cells.left = std::min(cells.left, wordX);
        cells.bottom = area.top + 2;
    }
    return {cells};
}

void drawControl(Canvas& canvas, const ControlInfo& c, const CellRect& area, const Room& room,
                 int enterId, bool active) {
    int fg = kDefault, bg = canvas.at(area.left, area.top).bg;
    if (c.color.valid) {
        bool hollow;
        int brush = brushColour(c.color.brush, &hollow);
        if (!hollow) {
            canvas.fill(area, brush);
            bg = brush;
        }
        fg = textColour(c.color.textColor);
        if (c.color.bkMode == OPAQUE && !hollow)
            bg = backColour(c.color.bkColor);
    }
    int width = area.right - area.left;
    std::string text = withoutMnemonics(c.text);
    bool disabled = !c.enabled;
    Drawn drawn = {area};
    switch (c.kind) {
    case ControlKind::CheckBox:
        drawn = drawLine(canvas, area, room, checkMark(c.check), text, "", disabled, false, fg, bg);
        break;
    case ControlKind::RadioButton:
        drawn = drawLine(canvas, area, room, c.check ? "(*) " : "( ) ", text, "", disabled, false,
                         fg, bg);
        break;
    case ControlKind::PushButton: {
        bool isDefault = c.id == enterId;
        drawn = drawLine(canvas, area, room, isDefault ? "<" : "[", text, isDefault ? ">" : "]",
                         disabled, true, fg, bg);
        break;
    }
    case ControlKind::GroupBox:
        canvas.box(area, text, fg, bg);
        break;
    case ControlKind::ComboBox:
    case ControlKind::Edit: {
        bool combo = c.kind == ControlKind::ComboBox;
        std::string field = text;
        if (disabled)
            field = text.empty() ? kUnavailable : text + " (" + kUnavailable + ")";
        size_t inner = static_cast<size_t>(std::max(0, width - (combo ? 3 : 2)));
        if (field.size() > inner && disabled && !text.empty())
            field = fitWithSuffix(text, std::string(" (") + kUnavailable + ")",
                                  static_cast<int>(inner));
        field.resize(inner, combo ? ' ' : '_');
        canvas.text(area.left, area.top, "[" + field + (combo ? "v]" : "]"), fg, bg, width);
        drawn.cells.bottom = area.top + 1;
        break;
    }
    default:
        if (c.iconOrdinal) {
            // An icon static takes the icon's size whatever its template says (often 0 x 0).
            canvas.text(area.left, area.top, "[#]", fg, bg);
            break;
        }
        // Static text wraps at blanks within the control, as DrawText does with word breaks.
        {
            std::vector<std::string> lines = wrap(text, std::max(1, width));
            for (int i = 0; i < static_cast<int>(lines.size()) && area.top + i < area.bottom; ++i)
                canvas.text(area.left, area.top + i, lines[static_cast<size_t>(i)], fg, bg, width);
        }
        break;
    }
    if (disabled) {
        canvas.attributes(area, false, true, false);
        canvas.attributes(drawn.cells, false, true, false);
    }
    if (c.focused && active) {
        CellRect line = drawn.cells;
        if (c.kind != ControlKind::PushButton)
            line = {area.left, area.top, std::max(area.right, drawn.cells.right), area.top + 1};
        canvas.attributes(line, false, false, true);
    }
}

// How far to the right a control's text may run on its first row (up to the next control that
// starts on that row, or the edge of the client area), and whether no control uses the row below
// it across its width.
Room freeRoom(const std::vector<CellRect>& cells, const DialogInfo& dialog, size_t index,
              const CellRect& client) {
    const CellRect& me = cells[index];
    Room room = {client.right, me.top + 1 < client.bottom};
    for (size_t j = 0; j < cells.size(); ++j) {
        const CellRect& other = cells[j];
        if (j == index || !dialog.controls[j].visible)
            continue;
        if (other.top <= me.top && me.top < other.bottom && other.left > me.left)
            room.limit = std::min(room.limit, other.left);
        bool sameColumns = other.left < me.right && me.left < other.right;
        if (sameColumns && other.top <= me.top + 1 && me.top + 1 < other.bottom)
            room.below = false;
    }
    return room;
}

} // namespace

DialogLayout drawDialog(Canvas& canvas, const DialogInfo& dialog,
                        const std::vector<PaintOp>& dialogPaint, int rows, bool active) {
    DialogLayout layout;
    rows = usableRows(canvas, rows);
    if (dialog.iconic) {
        // The icon sits at the bottom of the screen, above what is drawn below it (the key help).
        std::string label = "[#] " + dialog.title;
        int width = std::min(canvas.width(), static_cast<int>(label.size()) + 2);
        layout.frame = {0, rows - 3, width, rows};
        layout.client = {1, rows - 2, width - 1, rows - 1};
        canvas.fill(layout.frame, kDefault);
        canvas.box(layout.frame, "", kDefault, kDefault);
        canvas.text(1, rows - 2, label, kDefault, kDefault, width - 2);
        return layout;
    }
    layout.scale = fitScale(dialog.templateCx, dialog.templateCy, canvas.width(), rows);
    CellRect size = dluToCells({0, 0, dialog.templateCx, dialog.templateCy}, layout.scale);
    int width = size.right + 2, height = size.bottom + 2;
    int left = std::max(0, (canvas.width() - width) / 2);
    int top = std::max(0, (rows - height) / 2);
    layout.frame = {left, top, left + width, top + height};
    layout.client = {left + 1, top + 1, left + width - 1, top + height - 1};
    canvas.fill(layout.frame, kDefault);
    canvas.box(layout.frame, dialog.title, kDefault, kDefault);
    canvas.attributes({left, top, left + width, top + 1}, true, false, false);

    // What the dialog painted itself: opaque text backgrounds (the banner) and filled areas.
    for (const PaintOp& op : dialogPaint) {
        if (!op.hasRect)
            continue;
        CellRect r = pixelsToCells(op.rect, dialog.baseX, dialog.baseY, layout.scale);
        r = offset(r, layout.client.left, layout.client.top);
        r.right = std::min(r.right, layout.client.right);
        r.bottom = std::min(r.bottom, layout.client.bottom);
        if (op.kind == PaintOp::ExtTextOut && (op.options & ETO_OPAQUE)) {
            canvas.fill(r, backColour(op.bkColor));
        } else if (op.kind == PaintOp::FillRect) {
            bool hollow;
            int bg = brushColour(op.brush, &hollow);
            if (!hollow)
                canvas.fill(r, bg);
        }
        if (op.kind == PaintOp::ExtTextOut && !op.text.empty())
            canvas.text(r.left, r.top, op.text, textColour(op.textColor),
                        canvas.at(r.left, r.top).bg, r.right - r.left);
    }
    std::vector<CellRect> cells;
    for (const ControlInfo& c : dialog.controls)
        cells.push_back(controlCells(c, layout));
    for (size_t i = 0; i < dialog.controls.size(); ++i) {
        const ControlInfo& c = dialog.controls[i];
        if (c.visible)
            drawControl(canvas, c, cells[i], freeRoom(cells, dialog, i, layout.client),
                        dialog.enterId, active);
    }
    return layout;
}

} // namespace term
} // namespace sim
