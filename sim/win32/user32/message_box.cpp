// user32 shell functions of the simulated PC: MessageBoxA and GetSystemMetrics.
#include <ctype.h>
#include <stdio.h>
#include <unistd.h>

#include "shell_internal.h"
#include "sim/process.h"
#include "sim_user32.h"

namespace sim {
namespace {

const UINT kIconMask = 0xF0;
const UINT kButtonsMask = 0x0F;
const UINT kDefaultButtonMask = 0xF00;

struct ButtonSet {
    const char* name;
    int buttons[3];
    const char* prompt;
};

const ButtonSet kButtonSets[] = {
    {"ok", {IDOK}, "[O]K"},
    {"okcancel", {IDOK, IDCANCEL}, "[O]K / [C]ancel"},
    {"abortretryignore", {IDABORT, IDRETRY, IDIGNORE}, "[A]bort / [R]etry / [I]gnore"},
    {"yesnocancel", {IDYES, IDNO, IDCANCEL}, "[Y]es / [N]o / [C]ancel"},
    {"yesno", {IDYES, IDNO}, "[Y]es / [N]o"},
    {"retrycancel", {IDRETRY, IDCANCEL}, "[R]etry / [C]ancel"},
};

const ButtonSet& buttonSetOf(UINT type) {
    UINT index = type & kButtonsMask;
    return index < sizeof kButtonSets / sizeof kButtonSets[0] ? kButtonSets[index] : kButtonSets[0];
}

bool isButtonOf(UINT type, int button) {
    for (int candidate : buttonSetOf(type).buttons)
        if (candidate != 0 && candidate == button)
            return true;
    return false;
}

// The answer of a box nobody answers: its default button, but No for a Yes/No question unless
// the shell was told otherwise, so that an unattended run never agrees to anything.
int unattendedAnswer(UINT type) {
    const ButtonSet& set = buttonSetOf(type);
    if ((type & kButtonsMask) == MB_YESNO)
        return shellState().yesNoDefault;
    UINT index = (type & kDefaultButtonMask) >> 8;
    if (index < 3 && set.buttons[index] != 0)
        return set.buttons[index];
    return set.buttons[0];
}

int buttonForKey(UINT type, char key) {
    static const struct {
        char key;
        int button;
    } keys[] = {{'o', IDOK},    {'c', IDCANCEL}, {'y', IDYES},   {'n', IDNO},
                {'a', IDABORT}, {'r', IDRETRY},  {'i', IDIGNORE}};
    for (const auto& entry : keys)
        if (entry.key == tolower(static_cast<unsigned char>(key)) && isButtonOf(type, entry.button))
            return entry.button;
    return 0;
}

// Shows the box on the terminal and reads the person's answer; the default at end of input.
int askOnTerminal(const MessageBoxRecord& box) {
    printf("+-- %s (%s)\n", box.title.c_str(), box.icon());
    size_t start = 0;
    while (start <= box.text.size()) {
        size_t end = box.text.find('\n', start);
        if (end == std::string::npos)
            end = box.text.size();
        printf("| %s\n", box.text.substr(start, end - start).c_str());
        start = end + 1;
    }
    for (;;) {
        printf("+-- %s? ", buttonSetOf(box.type).prompt);
        fflush(stdout);
        char line[64];
        if (!fgets(line, sizeof line, stdin))
            return unattendedAnswer(box.type);
        if (line[0] == '\n')
            return unattendedAnswer(box.type);
        if (int button = buttonForKey(box.type, line[0]))
            return button;
    }
}

std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

} // namespace

const char* MessageBoxRecord::icon() const {
    switch (type & kIconMask) {
    case MB_ICONERROR:
        return "error";
    case MB_ICONWARNING:
        return "warning";
    case MB_ICONINFORMATION:
        return "information";
    case MB_ICONQUESTION:
        return "question";
    default:
        return "none";
    }
}

const char* MessageBoxRecord::buttons() const {
    return buttonSetOf(type).name;
}

std::string MessageBoxRecord::json() const {
    std::string ownerText = "null";
    if (owner) {
        char handle[32];
        snprintf(handle, sizeof handle, "0x%llx",
                 static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(owner)));
        ownerText = jsonText(ownerTitle.empty() ? std::string(handle) : ownerTitle);
    }
    return "{\"owner\":" + ownerText + ",\"title\":" + jsonText(title) +
           ",\"text\":" + jsonText(text) + ",\"icon\":\"" + icon() + "\",\"buttons\":\"" +
           buttons() + "\"}";
}

} // namespace sim

using namespace sim;

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    process().noteWindowShown();
    ShellState& state = shellState();
    MessageBoxRecord box{
        owner, shell().windowTitle(owner), caption ? caption : "Error", text ? text : "", type, 0,
        0};
    if (state.printBoxes) {
        printf("%s\n", box.json().c_str());
        fflush(stdout);
    }
    if (!state.answers.empty()) {
        int scripted = state.answers.front();
        state.answers.pop_front();
        if (isButtonOf(type, scripted))
            box.answer = scripted;
        else
            box.refusedAnswer = scripted;
    }
    if (!box.answer && !box.refusedAnswer && state.face)
        box.answer = state.face(box);
    if (box.answer && !isButtonOf(type, box.answer)) {
        box.refusedAnswer = box.answer;
        box.answer = 0;
    }
    if (!box.answer && !box.refusedAnswer && state.askOnTerminal && isatty(STDIN_FILENO))
        box.answer = askOnTerminal(box);
    if (box.refusedAnswer)
        fprintf(stderr, "message box %s: %d is not one of its buttons (%s); answered %d\n",
                traceQuoted(box.title).c_str(), box.refusedAnswer, box.buttons(),
                unattendedAnswer(type));
    if (!box.answer)
        box.answer = unattendedAnswer(type);
    shellTrace(
        "MessageBoxA " + traceQuoted(box.title) + " " + traceQuoted(box.text) + " " + box.icon() +
        " " + box.buttons() + " -> " + std::to_string(box.answer) +
        (box.refusedAnswer ? " (refused answer " + std::to_string(box.refusedAnswer) + ")" : ""));
    shellState().boxes.push_back(box);
    return box.answer;
}

int WINAPI GetSystemMetrics(int index) {
    switch (index) {
    case SM_CLEANBOOT:
        return shellState().safeMode ? 1 : 0;
    case SM_CXICON:
    case SM_CYICON:
        return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
        return 16;
    case SM_CXSCREEN:
        return 1024;
    case SM_CYSCREEN:
        return 768;
    default:
        return 0;
    }
}
