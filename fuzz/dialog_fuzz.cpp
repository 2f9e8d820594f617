// Dialog templates, read as the window manager reads them and drawn as the terminal face draws
// them on an 80x24 screen: every offset is checked, and drawing costs what the screen holds.
#include <string>

#include "fuzz_check.h"
#include "sim/ui.h"

using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::DialogTemplate tpl;
    std::string error;
    if (!sim::parseDialogTemplate(data, size, &tpl, &error)) {
        require(!error.empty(), "a refusal says why");
        return 0;
    }
    require(tpl.items.size() <= size / 18, "every item takes bytes of the template");
    sim::DialogInfo dialog;
    dialog.title = tpl.title;
    dialog.style = tpl.style;
    dialog.templateCx = tpl.cx;
    dialog.templateCy = tpl.cy;
    dialog.baseX = 6;
    dialog.baseY = 13;
    for (const sim::DialogItemTemplate& item : tpl.items) {
        sim::ControlInfo control;
        control.id = int(item.id & 0xFFFF);
        control.className = sim::controlClassName(item.windowClass);
        control.kind = sim::controlKindOf(control.className, item.style);
        control.style = item.style;
        control.visible = (item.style & WS_VISIBLE) != 0;
        control.enabled = (item.style & WS_DISABLED) == 0;
        control.text = item.title.name;
        control.iconOrdinal = item.title.isOrdinal ? item.title.ordinal : 0;
        control.dialogUnits = {item.x, item.y, item.x + item.cx, item.y + item.cy};
        dialog.controls.push_back(control);
    }
    sim::term::Canvas canvas(80, 24);
    sim::term::drawDialog(canvas, dialog, {});
    return 0;
}
