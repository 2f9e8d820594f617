// Scripts given to `tavrolin-sim run --script`: a refusal names the file and line, and what is
// accepted reads the same when its actions are written out one a line again.
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "sim/ui.h"

using fuzz::require;

namespace {

bool sameAction(const sim::ScriptAction& a, const sim::ScriptAction& b) {
    return a.kind == b.kind && a.id == b.id && a.state == b.state && a.command == b.command &&
           a.text == b.text && a.key == b.key;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<sim::ScriptAction> actions;
    std::string error;
    if (!sim::parseScript("fuzz.script", text, &actions, &error)) {
        require(error.compare(0, 12, "fuzz.script:") == 0, "a refusal names the file and line");
        return 0;
    }
    std::string again;
    for (const sim::ScriptAction& action : actions) {
        require(action.line >= 1, "an action knows its line");
        again += action.source + "\n";
    }
    std::vector<sim::ScriptAction> reread;
    require(sim::parseScript("again.script", again, &reread, &error), "actions read again");
    require(reread.size() == actions.size(), "actions read again are as many");
    for (size_t i = 0; i < actions.size(); ++i)
        require(sameAction(actions[i], reread[i]), "actions read again are the same");
    return 0;
}
