// What the terminal face draws over the dialogs: message boxes, the system menu, the open list
// of a combo box, and the key help on the last row.
#include "term_internal.h"

#include <algorithm>

namespace sim {
namespace term {
namespace {

struct HelpPiece {
    std::string text;
    int priority; // the pieces with the highest number go first when the row is too short
};

std::string joinPieces(const std::vector<HelpPiece>& pieces, int width) {
    std::vector<HelpPiece> kept = pieces;
    for (;;) {
        std::string row;
        for (const HelpPiece& p : kept)
            row += " " + p.text + " ";
        if (static_cast<int>(row.size()) <= width || kept.size() <= 1)
            return row.substr(0, static_cast<size_t>(std::max(0, width)));
        auto drop =
            std::max_element(kept.begin(), kept.end(), [](const HelpPiece& a, const HelpPiece& b) {
                return a.priority < b.priority;
            });
        kept.erase(drop);
    }
}

const ControlInfo* controlById(const DialogInfo& dialog, int id) {
    for (const ControlInfo& c : dialog.controls) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

// The name of the button a key presses: its text, or the name of a standard command.
std::string commandName(const DialogInfo& dialog, int id) {
    const ControlInfo* c = controlById(dialog, id);
    if (c && !withoutMnemonics(c->text).empty())
        return withoutMnemonics(c->text);
    std::string name = buttonName(id);
    return name == "?" ? "button " + std::to_string(id) : name;
}

} // namespace

int defaultBoxButton(UINT type) {
    int count = static_cast<int>(messageBoxButtons(type).size());
    int index = static_cast<int>((type & 0xF00) >> 8);
    return index < count ? index : 0;
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
              int selected, int rows) {
    rows = usableRows(canvas, rows);
    const std::string unavailable = std::string(" (") + kUnavailable + ")";
    int inner = 8;
    for (const MenuItemInfo& item : items) {
        std::string text = withoutMnemonics(item.text);
        size_t tab = text.find('\t');
        int width = static_cast<int>(text.size()) + (tab != std::string::npos ? 2 : 0);
        if (item.grayed) // a grayed item shows the word instead of its accelerator
            width = static_cast<int>(text.substr(0, tab).size() + unavailable.size());
        inner = std::max(inner, width);
    }
    int width = inner + 4, height = static_cast<int>(items.size()) + 2;
    int left = std::max(0, std::min(at.frame.left + 1, canvas.width() - width));
    int top = at.frame.top + 1;
    if (top + height > rows)
        top = at.frame.top - height >= 0 ? at.frame.top - height : std::max(0, rows - height);
    CellRect frame = {left, top, left + width, top + height};
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
        if (item.grayed)
            label += unavailable;
        canvas.text(left + 2, y, label, kDefault, kDefault, inner);
        if (tab != std::string::npos && !item.grayed) {
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

std::vector<CellRect> drawComboList(Canvas& canvas, const ControlInfo& combo,
                                    const DialogLayout& layout, int rows) {
    rows = usableRows(canvas, rows);
    CellRect field = controlCells(combo, layout);
    int count = static_cast<int>(combo.items.size());
    int inner = std::max(1, field.right - field.left - 2);
    for (const std::string& item : combo.items)
        inner = std::max(inner, static_cast<int>(item.size()) + 2);
    int shown = std::max(1, std::min(count, rows - 2));
    int height = shown + 2, width = inner + 2;
    int top = field.bottom;
    if (top + height > rows)
        top = field.top - height >= 0 ? field.top - height : std::max(0, rows - height);
    int left = std::max(0, std::min(field.left, canvas.width() - width));
    // A list longer than the screen scrolls so that the highlighted item stays in view.
    int first = std::max(0, std::min(combo.highlight - shown + 1, count - shown));
    CellRect frame = {left, top, left + width, top + height};
    canvas.fill(frame, kDefault);
    canvas.box(frame, "", kDefault, kDefault);
    std::vector<CellRect> cells(static_cast<size_t>(count), CellRect());
    for (int i = first; i < first + shown && i < count; ++i) {
        int y = top + 1 + (i - first);
        canvas.text(left + 2, y, combo.items[static_cast<size_t>(i)], kDefault, kDefault,
                    inner - 2);
        CellRect line = {left + 1, y, left + width - 1, y + 1};
        cells[static_cast<size_t>(i)] = line;
        if (i == combo.highlight)
            canvas.attributes(line, false, false, true);
    }
    return cells;
}

std::string keyHelp(const DialogInfo& top, int width) {
    std::vector<HelpPiece> pieces;
    bool menu = !top.systemMenu.empty();
    if (top.iconic) {
        pieces.push_back({"F10 menu: Restore", 1});
        return joinPieces(pieces, width);
    }
    for (const ControlInfo& c : top.controls) {
        if (c.dropped)
            return joinPieces({{"Up/Down choose", 2}, {"Enter take", 1}, {"Esc close list", 1}},
                              width);
    }
    bool onCombo = false;
    for (const ControlInfo& c : top.controls)
        onCombo = onCombo || (c.focused && c.kind == ControlKind::ComboBox);
    pieces.push_back({"Tab move", 3});
    pieces.push_back({"Space press/tick", 4});
    pieces.push_back({"Up/Down choose", 5});
    if (onCombo)
        pieces.push_back({"F4 list", 2});
    if (top.enterId)
        pieces.push_back({"Enter " + commandName(top, top.enterId), 1});
    const ControlInfo* cancel = controlById(top, IDCANCEL);
    if (!cancel || cancel->enabled)
        pieces.push_back({"Esc " + commandName(top, IDCANCEL), 1});
    if (menu)
        pieces.push_back({"F10 menu", 3});
    return joinPieces(pieces, width);
}

std::string boxKeyHelp(const MessageBoxRecord& box, int width) {
    std::vector<int> buttons = messageBoxButtons(box.type);
    std::vector<HelpPiece> pieces;
    if (buttons.size() > 1)
        pieces.push_back({"Left/Right choose", 2});
    pieces.push_back({"Enter press", 1});
    for (int b : buttons) {
        if (b == IDCANCEL || (buttons.size() == 1 && b == IDOK))
            pieces.push_back({std::string("Esc ") + buttonName(b), 1});
    }
    return joinPieces(pieces, width);
}

} // namespace term
} // namespace sim
