// The face of a run without a usable terminal: nobody can answer, so each dialog closes as
// Cancel as soon as it waits for input, and one line tells what it showed.
#include "faces.h"

namespace sim {
namespace {

struct Unattended {
    std::string reason;
    std::function<void(const std::string&)> report;
};

Unattended& unattended() {
    static Unattended u;
    return u;
}

std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    }
    return term::withoutMnemonics(text);
}

bool idle() {
    DialogInfo dialog = ui().describe(ui().topDialog());
    std::string shown = dialogSummary(dialog);
    std::string line = unattended().reason + ": \"" + dialog.title + "\"";
    if (!shown.empty())
        line += " showed " + shown + " and";
    line += " closed as Cancel";
    if (unattended().report)
        unattended().report(line);
    return false;
}

std::string finish() {
    unattended() = Unattended();
    return "";
}

} // namespace

std::string dialogSummary(const DialogInfo& dialog) {
    std::string parts, label;
    auto add = [&parts](const std::string& part) { parts += (parts.empty() ? "" : ", ") + part; };
    for (const ControlInfo& c : dialog.controls) {
        if (!c.visible)
            continue;
        std::string text = oneLine(c.text);
        std::string state;
        switch (c.kind) {
        case ControlKind::Static:
            // A field is named by the text before it, as screen readers name it.
            if (!c.iconOrdinal)
                label = text;
            continue;
        case ControlKind::ComboBox:
        case ControlKind::Edit:
            state = text.empty() ? "none" : text;
            text = label;
            break;
        case ControlKind::CheckBox:
            state =
                c.check == BST_CHECKED ? "on" : (c.check == BST_INDETERMINATE ? "mixed" : "off");
            break;
        case ControlKind::RadioButton:
            if (c.check != BST_CHECKED)
                continue;
            state = "chosen";
            break;
        default:
            continue;
        }
        label.clear();
        if (!c.enabled)
            state = term::kUnavailable;
        add(text.empty() ? state : text + " " + state);
    }
    return parts;
}

void installUnattendedFace(const std::string& reason,
                           std::function<void(const std::string&)> report) {
    unattended().reason = reason;
    unattended().report = report;
    installFace(Face::Unattended, finish);
    ui().setIdleHandler(idle);
}

} // namespace sim
