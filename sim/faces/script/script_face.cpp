// The script face: runs a parsed script one action per idle turn of the modal loops, prints the
// JSON lines it asks for, and stops the run at the first action the dialog cannot take.
#include "faces.h"

#include <unistd.h>

#include <deque>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

struct ScriptRun {
    std::string name;
    std::vector<ScriptAction> actions;
    size_t next = 0;
    std::string error;
    std::deque<int> answerLines; // lines of the answers queued and not yet taken
    size_t answersQueued = 0;
    size_t answersTaken = 0;
    int lastAnswerLine = 0;
    size_t errorsSeen = 0;
    bool broughtToFront = false; // another process raised our dialog since the last wait
};

const int kForegroundWaitMs = 10000;
const int kForegroundPollMs = 20;

ScriptRun& run() {
    static ScriptRun r;
    return r;
}

void fail(int line, const std::string& message) {
    if (run().error.empty())
        run().error = run().name + ":" + std::to_string(line) + ": " + message;
}

// Errors of queued answers belong to the line of the answer that was taken last.
void collectAnswerErrors() {
    ScriptRun& r = run();
    size_t taken = r.answersQueued - ui().pendingAnswers();
    while (r.answersTaken < taken && !r.answerLines.empty()) {
        r.lastAnswerLine = r.answerLines.front();
        r.answerLines.pop_front();
        ++r.answersTaken;
    }
    const std::vector<std::string>& errors = ui().errors();
    for (; r.errorsSeen < errors.size(); ++r.errorsSeen)
        fail(r.lastAnswerLine, errors[r.errorsSeen]);
}

UiResult perform(const ScriptAction& a) {
    switch (a.kind) {
    case ScriptAction::Select:
        return ui().select(a.id, a.text);
    case ScriptAction::Type:
        return ui().type(a.id, a.text);
    case ScriptAction::Check:
        return ui().check(a.id, a.state);
    case ScriptAction::Click:
        return ui().click(a.id);
    case ScriptAction::Sys:
        return ui().sysCommand(a.command);
    case ScriptAction::Key:
        return ui().key(a.key);
    case ScriptAction::Minimize:
        return ui().minimize();
    default:
        return UiResult::success();
    }
}

// Blocks until another process brings one of our dialogs to the front (a second instance of the
// program does), so that a script can keep its dialog open until then.
bool waitForForeground(const ScriptAction& a) {
    for (int waited = 0; !run().broughtToFront; waited += kForegroundPollMs) {
        if (waited >= kForegroundWaitMs) {
            fail(a.line, a.source + ": no other program brought the dialog to the front");
            return false;
        }
        usleep(kForegroundPollMs * 1000);
        for (HWND window : shell().takeForegroundRequests())
            ui().notifyForeground(window);
    }
    run().broughtToFront = false;
    return true;
}

void queueAnswer(const ScriptAction& a) {
    ui().answerNextBox(a.id);
    run().answerLines.push_back(a.line);
    ++run().answersQueued;
}

// Answers, show and paint take no turn of their own; the next action that acts on the dialog
// does, so that the dialog can react before the script goes on.
bool idle() {
    ScriptRun& r = run();
    collectAnswerErrors();
    if (!r.error.empty())
        return false;
    while (r.next < r.actions.size()) {
        const ScriptAction& a = r.actions[r.next++];
        switch (a.kind) {
        case ScriptAction::Answer:
            queueAnswer(a);
            continue;
        case ScriptAction::Show:
            ui().print(describeAsJson(ui().describe(ui().topDialog())));
            continue;
        case ScriptAction::Paint:
            ui().print(paintAsJson(ui().topDialog()));
            continue;
        case ScriptAction::Wait:
            return waitForForeground(a);
        default: {
            UiResult result = perform(a);
            if (!result.ok) {
                fail(a.line, a.source + ": " + result.error);
                return false;
            }
            return true;
        }
        }
    }
    return false;
}

// A box that comes up before the script reached its answer (one shown before any dialog, or
// while a dialog is still being set up, when no idle turn has read the script yet) takes the
// answer line the script is at; a box without one takes its default.
int answerFromScript(const MessageBoxRecord& box) {
    ScriptRun& r = run();
    if (r.error.empty() && r.next < r.actions.size() &&
        r.actions[r.next].kind == ScriptAction::Answer) {
        queueAnswer(r.actions[r.next++]);
        return ui().answerMessageBox(box);
    }
    return defaultBoxAnswer(box.type);
}

std::string finishScript() {
    ScriptRun& r = run();
    collectAnswerErrors();
    if (r.error.empty() && r.next < r.actions.size()) {
        const ScriptAction& a = r.actions[r.next];
        fail(a.line, a.source + ": no dialog is open (the program has ended)");
    }
    if (r.error.empty() && !r.answerLines.empty())
        fail(r.answerLines.front(), "the answer was not used: no message box or dialog came up");
    std::string error = r.error;
    r = ScriptRun();
    return error;
}

} // namespace

bool runScriptText(const std::string& name, const std::string& text, std::string* error) {
    std::vector<ScriptAction> actions;
    if (!parseScript(name, text, &actions, error))
        return false;
    ui().clearPending();
    run() = ScriptRun();
    run().name = name;
    run().actions = actions;
    installFace(Face::Script, finishScript);
    ui().setIdleHandler(idle);
    ui().setMessageBoxHandler(answerFromScript);
    ui().setForegroundHandler([](HWND window) {
        run().broughtToFront = true;
        ui().print(
            "{\"event\":\"foreground\",\"title\":" + jsonString(ui().describe(window).title) + "}");
    });
    shell().setPrintBoxes(true);
    return true;
}

bool runScript(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = path + ": cannot open the script";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return runScriptText(path, text.str(), error);
}

} // namespace sim
