// JSON lines of the script face: a dialog's controls and the recorded drawing operations.
#include "faces.h"
#include "sim/pe_module.h"

#include <cstdio>

namespace sim {
namespace {

std::string colour(COLORREF c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\"0x%08X\"", static_cast<unsigned>(c));
    return buffer;
}

std::string rect(const RECT& r) {
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + "]";
}

std::string boolean(bool b) {
    return b ? "true" : "false";
}

// A GDI object as a person reads it: "font Arial 15", "brush 0x00808080", "hollow brush".
std::string gdiObject(HGDIOBJ object) {
    GdiObjectInfo info = gdiObjectInfo(object);
    switch (info.kind) {
    case GdiObjectInfo::Font:
        return jsonString("font " + info.face + " " + std::to_string(info.height));
    case GdiObjectInfo::Brush:
        if (info.hollow)
            return "\"hollow brush\"";
        return jsonString("brush " + colour(info.colour).substr(1, 10));
    case GdiObjectInfo::Pen:
        return "\"pen\"";
    default:
        return object ? "\"unknown\"" : "null";
    }
}

std::string opJson(const PaintOp& op) {
    std::string s = "{\"op\":\"" + std::string(paintOpName(op.kind)) + "\"";
    switch (op.kind) {
    case PaintOp::SetBkColor:
    case PaintOp::SetTextColor:
        s += ",\"colour\":" + colour(op.colour);
        break;
    case PaintOp::SetBkMode:
        s += std::string(",\"mode\":\"") + (op.mode == TRANSPARENT ? "transparent" : "opaque") +
             "\"";
        break;
    case PaintOp::SelectObject:
        s += ",\"object\":" + gdiObject(op.object);
        break;
    case PaintOp::ExtTextOut:
        s += ",\"x\":" + std::to_string(op.x) + ",\"y\":" + std::to_string(op.y) +
             ",\"options\":" + std::to_string(op.options);
        if (op.hasRect)
            s += ",\"rect\":" + rect(op.rect);
        s += ",\"text\":" + jsonString(op.text) + ",\"textColor\":" + colour(op.textColor) +
             ",\"bkColor\":" + colour(op.bkColor);
        break;
    case PaintOp::DrawText:
        s += ",\"rect\":" + rect(op.rect) + ",\"text\":" + jsonString(op.text) +
             ",\"textColor\":" + colour(op.textColor) + ",\"bkColor\":" + colour(op.bkColor) +
             ",\"bkMode\":\"" + (op.bkMode == TRANSPARENT ? "transparent" : "opaque") +
             "\",\"font\":" + gdiObject(op.font);
        break;
    case PaintOp::DrawIcon:
        s += ",\"x\":" + std::to_string(op.x) + ",\"y\":" + std::to_string(op.y);
        if (const IconImage* image = iconImage(op.icon))
            s += ",\"width\":" + std::to_string(image->width) +
                 ",\"height\":" + std::to_string(image->height);
        break;
    case PaintOp::FillRect:
        s += ",\"rect\":" + rect(op.rect) + ",\"brush\":" + gdiObject(op.brush);
        break;
    default:
        break;
    }
    return s + "}";
}

std::string opsJson(const std::vector<PaintOp>& ops) {
    std::string s = "[";
    for (size_t i = 0; i < ops.size(); ++i)
        s += (i ? "," : "") + opJson(ops[i]);
    return s + "]";
}

} // namespace

std::string describeAsJson(const DialogInfo& dialog) {
    std::string s = "{\"dialog\":" + jsonString(dialog.title) +
                    ",\"iconic\":" + boolean(dialog.iconic) + ",\"controls\":[";
    for (size_t i = 0; i < dialog.controls.size(); ++i) {
        const ControlInfo& c = dialog.controls[i];
        s += i ? "," : "";
        s += "{\"id\":" + std::to_string(c.id) + ",\"class\":\"" + controlKindName(c.kind) +
             "\",\"enabled\":" + boolean(c.enabled) + ",\"text\":" + jsonString(c.text);
        if (c.kind == ControlKind::CheckBox || c.kind == ControlKind::RadioButton)
            s += ",\"check\":" + std::to_string(c.check);
        if (c.kind == ControlKind::ComboBox) {
            s += ",\"items\":[";
            for (size_t j = 0; j < c.items.size(); ++j)
                s += (j ? "," : "") + jsonString(c.items[j]);
            s += "],\"selection\":" + std::to_string(c.selection);
        }
        s += "}";
    }
    return s + "]}";
}

std::string paintAsJson(HWND dialog) {
    DialogInfo info = ui().describe(dialog);
    std::string s = "{\"paint\":" + jsonString(info.title) +
                    ",\"dialog\":" + opsJson(ui().lastPaint(info.hwnd)) + ",\"controls\":[";
    bool first = true;
    for (const ControlInfo& c : info.controls) {
        std::vector<PaintOp> ops = ui().lastPaint(c.hwnd);
        if (ops.empty())
            continue;
        s += first ? "" : ",";
        first = false;
        s += "{\"id\":" + std::to_string(c.id) + ",\"ops\":" + opsJson(ops) + "}";
    }
    return s + "]}";
}

} // namespace sim
