// The terminal face's drawing: dialogs, message boxes and the system menu on a character canvas,
// laid out from the templates and coloured as the program's colouring handler asked.
#include "sim/ui.h"

#include <algorithm>

namespace sim {
namespace term {
namespace {

struct Rgb {
    int r, g, b;
};

// The sixteen VGA colours in ANSI order.
const Rgb kPalette[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                          {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                          {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                          {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

int nearestOf(const Rgb& c, int count) {
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < count; ++i) {
        long dr = c.r - kPalette[i].r, dg = c.g - kPalette[i].g, db = c.b - kPalette[i].b;
        long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

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

// Drawing visits only the cells on the canvas: a dialog may be thousands of cells wide and high
// (a template's size is a 16-bit number of dialog units), the screen never is.
CellRect visible(const CellRect& r, int width, int height) {
    return {std::max(0, r.left), std::max(0, r.top), std::min(width, r.right),
            std::min(height, r.bottom)};
}

CellRect offset(const CellRect& r, int dx, int dy) {
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

std::string checkMark(int check) {
    return check == 1 ? "[x] " : (check == 2 ? "[-] " : "[ ] ");
}

// Splits text into lines of at most `width` characters, at blanks where possible.
std::vector<std::string> wrap(const std::string& text, int width) {
    std::vector<std::string> lines;
    std::string line;
    size_t i = 0;
    auto flush = [&]() {
        lines.push_back(line);
        line.clear();
    };
    while (i <= text.size()) {
        if (i == text.size() || text[i] == '\n') {
            flush();
            ++i;
            if (i > text.size())
                break;
            continue;
        }
        line += text[i++];
        if (static_cast<int>(line.size()) >= width) {
            size_t cut = line.rfind(' ');
            std::string rest;
            if (cut != std::string::npos && cut > 0) {
                rest = line.substr(cut + 1);
                line.resize(cut);
            }
            flush();
            line = rest;
        }
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

void drawControl(Canvas& canvas, const ControlInfo& c, const CellRect& area, int defaultId) {
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
    switch (c.kind) {
    case ControlKind::CheckBox:
        canvas.text(area.left, area.top, checkMark(c.check) + text, fg, bg, width);
        break;
    case ControlKind::RadioButton:
        canvas.text(area.left, area.top, (c.check ? "(*) " : "( ) ") + text, fg, bg, width);
        break;
    case ControlKind::PushButton: {
        std::string label = c.id == defaultId ? "<" + text + ">" : "[" + text + "]";
        int x = area.left + std::max(0, (width - static_cast<int>(label.size())) / 2);
        canvas.text(x, area.top + (area.bottom - area.top - 1) / 2, label, fg, bg, width);
        break;
    }
    case ControlKind::GroupBox:
        canvas.box(area, text, fg, bg);
        break;
    case ControlKind::ComboBox: {
        std::string field = text;
        field.resize(static_cast<size_t>(std::max(0, width - 3)), ' ');
        canvas.text(area.left, area.top, "[" + field + "v]", fg, bg, width);
        break;
    }
    case ControlKind::Edit: {
        std::string field = text;
        field.resize(static_cast<size_t>(std::max(0, width - 2)), '_');
        canvas.text(area.left, area.top, "[" + field + "]", fg, bg, width);
        break;
    }
    default:
        if (c.iconOrdinal) {
            canvas.text(area.left, area.top, "[#]", fg, bg, width);
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
    if (!c.enabled)
        canvas.attributes(area, false, true, false);
    if (c.focused) {
        CellRect line = {area.left, area.top, area.right, area.top + 1};
        if (c.kind == ControlKind::PushButton)
            line.top = line.bottom = area.top + (area.bottom - area.top - 1) / 2, ++line.bottom;
        canvas.attributes(line, false, false, true);
    }
}

} // namespace

Canvas::Canvas(int width, int height)
    : m_width(std::max(0, width)), m_height(std::max(0, height)),
      m_cells(static_cast<size_t>(m_width) * static_cast<size_t>(m_height)) {}

const Cell& Canvas::at(int x, int y) const {
    static const Cell outside;
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return outside;
    return m_cells[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)];
}

void Canvas::put(int x, int y, char ch, int fg, int bg) {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return;
    Cell& cell =
        m_cells[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)];
    // Control characters would move the terminal's cursor; they show as blanks.
    cell.ch = static_cast<unsigned char>(ch) < 0x20 ? ' ' : ch;
    cell.fg = fg;
    cell.bg = bg;
    cell.bold = cell.dim = cell.reverse = false;
}

void Canvas::text(int x, int y, const std::string& text, int fg, int bg, int maxWidth) {
    int n = static_cast<int>(text.size());
    if (maxWidth >= 0)
        n = std::min(n, maxWidth);
    for (int i = 0; i < n; ++i)
        put(x + i, y, text[static_cast<size_t>(i)], fg, bg);
}

void Canvas::fill(const CellRect& r, int bg) {
    CellRect v = visible(r, m_width, m_height);
    for (int y = v.top; y < v.bottom; ++y) {
        for (int x = v.left; x < v.right; ++x)
            put(x, y, ' ', kDefault, bg);
    }
}

void Canvas::attributes(const CellRect& r, bool bold, bool dim, bool reverse) {
    CellRect v = visible(r, m_width, m_height);
    for (int y = v.top; y < v.bottom; ++y) {
        for (int x = v.left; x < v.right; ++x) {
            Cell& cell = m_cells[static_cast<size_t>(y) * static_cast<size_t>(m_width) +
                                 static_cast<size_t>(x)];
            cell.bold = cell.bold || bold;
            cell.dim = cell.dim || dim;
            cell.reverse = cell.reverse || reverse;
        }
    }
}

void Canvas::box(const CellRect& r, const std::string& title, int fg, int bg) {
    if (r.right - r.left < 2 || r.bottom - r.top < 1)
        return;
    CellRect v = visible(r, m_width, m_height);
    for (int x = v.left; x < v.right; ++x) {
        put(x, r.top, '-', fg, bg);
        if (r.bottom - r.top > 1)
            put(x, r.bottom - 1, '-', fg, bg);
    }
    for (int y = v.top; y < v.bottom; ++y) {
        put(r.left, y, y == r.top || y == r.bottom - 1 ? '+' : '|', fg, bg);
        put(r.right - 1, y, y == r.top || y == r.bottom - 1 ? '+' : '|', fg, bg);
    }
    if (!title.empty())
        text(r.left + 2, r.top, " " + title + " ", fg, bg, r.right - r.left - 4);
}

std::string Canvas::row(int y) const {
    std::string s;
    for (int x = 0; x < m_width; ++x)
        s += at(x, y).ch;
    return s;
}

CellRect dluToCells(const RECT& d) {
    CellRect r;
    r.left = d.left / 4;
    r.top = d.top / 8;
    r.right = std::max(r.left + 1, (d.right + 3) / 4);
    r.bottom = std::max(r.top + 1, (d.bottom + 7) / 8);
    return r;
}

CellRect pixelsToCells(const RECT& p, int baseX, int baseY) {
    baseX = std::max(1, baseX);
    baseY = std::max(1, baseY);
    CellRect r;
    r.left = p.left / baseX;
    r.top = p.top / baseY;
    r.right = std::max(r.left + 1, (p.right + baseX - 1) / baseX);
    r.bottom = std::max(r.top + 1, (p.bottom + baseY - 1) / baseY);
    return r;
}

int nearestColour(COLORREF c) {
    return nearestOf({static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                      static_cast<int>((c >> 16) & 0xFF)},
                     16);
}

int foldColour(int colour, int available) {
    if (colour < 0 || available >= 16 || colour < 8)
        return colour;
    return nearestOf(kPalette[colour], 8);
}

std::string withoutMnemonics(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        else if (text[i] == '&')
            continue;
        out += text[i];
    }
    return out;
}

DialogLayout drawDialog(Canvas& canvas, const DialogInfo& dialog,
                        const std::vector<PaintOp>& dialogPaint) {
    DialogLayout layout;
    if (dialog.iconic) {
        std::string label = "[#] " + dialog.title;
        int width = static_cast<int>(label.size()) + 2;
        layout.frame = {0, canvas.height() - 3, width, canvas.height()};
        layout.client = {1, canvas.height() - 2, width - 1, canvas.height() - 1};
        canvas.fill(layout.frame, kDefault);
        canvas.box(layout.frame, "", kDefault, kDefault);
        canvas.text(1, canvas.height() - 2, label, kDefault, kDefault);
        return layout;
    }
    int width = (dialog.templateCx + 3) / 4 + 2, height = (dialog.templateCy + 7) / 8 + 2;
    int left = std::max(0, (canvas.width() - width) / 2);
    int top = std::max(0, (canvas.height() - height) / 2);
    layout.frame = {left, top, left + width, top + height};
    layout.client = {left + 1, top + 1, left + width - 1, top + height - 1};
    canvas.fill(layout.frame, kDefault);
    canvas.box(layout.frame, dialog.title, kDefault, kDefault);
    canvas.attributes({left, top, left + width, top + 1}, true, false, false);

    // What the dialog painted itself: opaque text backgrounds (the banner) and filled areas.
    for (const PaintOp& op : dialogPaint) {
        if (!op.hasRect)
            continue;
        CellRect r = pixelsToCells(op.rect, dialog.baseX, dialog.baseY);
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
    for (const ControlInfo& c : dialog.controls) {
        if (!c.visible)
            continue;
        CellRect r = offset(dluToCells(c.dialogUnits), layout.client.left, layout.client.top);
        r.right = std::min(r.right, layout.client.right);
        r.bottom = std::min(r.bottom, layout.client.bottom);
        if (c.kind == ControlKind::ComboBox)
            r.bottom = r.top + 1; // the closed combo box is one line; its list drops below
        drawControl(canvas, c, r, dialog.defaultId);
    }
    return layout;
}

std::vector<int> messageBoxButtons(UINT type) {
    switch (type & 0xF) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case 2: // MB_ABORTRETRYIGNORE
        return {IDABORT, IDRETRY, IDIGNORE};
    case 3: // MB_YESNOCANCEL
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case 5: // MB_RETRYCANCEL
        return {IDRETRY, IDCANCEL};
    default:
        return {IDOK};
    }
}

const char* buttonName(int id) {
    switch (id) {
    case IDOK:
        return "OK";
    case IDCANCEL:
        return "Cancel";
    case IDABORT:
        return "Abort";
    case IDRETRY:
        return "Retry";
    case IDIGNORE:
        return "Ignore";
    case IDYES:
        return "Yes";
    case IDNO:
        return "No";
    default:
        return "?";
    }
}

void drawMessageBox(Canvas& canvas, const MessageBoxRecord& box, int selected) {
    int textWidth = std::min(56, std::max(20, canvas.width() - 6));
    std::vector<std::string> lines = wrap(box.text, textWidth);
    std::string icon = box.icon();
    if (icon != "none")
        lines.insert(lines.begin(), "(" + icon + ")");
    std::vector<int> buttons = messageBoxButtons(box.type);
    std::string row;
    std::vector<std::pair<int, int>> spans; // start and length of each button label
    for (size_t i = 0; i < buttons.size(); ++i) {
        std::string label = std::string("[ ") + buttonName(buttons[i]) + " ]";
        if (!row.empty())
            row += "  ";
        spans.push_back({static_cast<int>(row.size()), static_cast<int>(label.size())});
        row += label;
    }
    int inner = static_cast<int>(row.size());
    for (const std::string& line : lines)
        inner = std::max(inner, static_cast<int>(line.size()));
    inner = std::max(inner, static_cast<int>(box.title.size()) + 4);
    int width = inner + 4, height = static_cast<int>(lines.size()) + 5;
    int left = std::max(0, (canvas.width() - width) / 2);
    int top = std::max(0, (canvas.height() - height) / 2);
    CellRect frame = {left, top, left + width, top + height};
    canvas.fill(frame, kDefault);
    canvas.box(frame, box.title, kDefault, kDefault);
    for (size_t i = 0; i < lines.size(); ++i)
        canvas.text(left + 2, top + 2 + static_cast<int>(i), lines[i], kDefault, kDefault);
    int rowX = left + (width - static_cast<int>(row.size())) / 2, rowY = top + height - 2;
    canvas.text(rowX, rowY, row, kDefault, kDefault);
    if (selected >= 0 && selected < static_cast<int>(spans.size())) {
        const auto& s = spans[static_cast<size_t>(selected)];
        canvas.attributes({rowX + s.first, rowY, rowX + s.first + s.second, rowY + 1}, false, false,
                          true);
    }
}

void drawMenu(Canvas& canvas, const DialogLayout& at, const std::vector<MenuItemInfo>& items,
              int selected) {
    int inner = 8;
    for (const MenuItemInfo& item : items) {
        std::string text = withoutMnemonics(item.text);
        size_t tab = text.find('\t');
        inner = std::max(inner, static_cast<int>(text.size()) + (tab != std::string::npos ? 2 : 0));
    }
    int left = at.frame.left + 1, top = at.frame.top + 1;
    CellRect frame = {left, top, left + inner + 4, top + static_cast<int>(items.size()) + 2};
    canvas.fill(frame, kDefault);
    canvas.box(frame, "", kDefault, kDefault);
    for (size_t i = 0; i < items.size(); ++i) {
        int y = top + 1 + static_cast<int>(i);
        const MenuItemInfo& item = items[i];
        if (item.flags & MF_SEPARATOR) {
            canvas.text(left + 1, y, std::string(static_cast<size_t>(inner + 2), '-'), kDefault,
                        kDefault);
            continue;
        }
        std::string text = withoutMnemonics(item.text);
        size_t tab = text.find('\t');
        std::string label = text.substr(0, tab);
        canvas.text(left + 2, y, label, kDefault, kDefault);
        if (tab != std::string::npos) {
            std::string accel = text.substr(tab + 1);
            canvas.text(left + 2 + inner - static_cast<int>(accel.size()), y, accel, kDefault,
                        kDefault);
        }
        CellRect line = {left + 1, y, left + inner + 3, y + 1};
        if (item.grayed)
            canvas.attributes(line, false, true, false);
        if (static_cast<int>(i) == selected)
            canvas.attributes(line, false, false, true);
    }
}

} // namespace term
} // namespace sim
