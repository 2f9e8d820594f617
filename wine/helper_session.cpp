// tavrol-driver.exe: sessions with Tavrol.exe, worked through window messages.
#include "helper.h"

#include <stdlib.h>

namespace {

struct Program {
    PROCESS_INFORMATION info = {};
    HWND dialog = nullptr;
    HWND box = nullptr;
};

std::string className(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Text of another process's window or list item. The wide messages are used: Wine hands the
// narrow forms back across processes as UTF-16 in the caller's narrow buffer.
std::string narrow(const wchar_t* text) {
    char buffer[2048] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

std::string windowText(HWND window) {
    wchar_t text[1024] = L"";
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return narrow(text);
}

std::string comboItem(HWND combo, LRESULT index) {
    wchar_t item[512] = L"";
    if (SendMessageW(combo, CB_GETLBTEXTLEN, index, 0) >= 512)
        return "<too long>";
    SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(item));
    return narrow(item);
}

struct WindowSearch {
    DWORD processId;
    bool wantBox; // a message box rather than the main dialog
    HWND found;
};

BOOL CALLBACK hasComboChild(HWND child, LPARAM result) {
    if (className(child) == "ComboBox") {
        *reinterpret_cast<bool*>(result) = true;
        return FALSE;
    }
    return TRUE;
}

bool isMainDialog(HWND window) {
    bool combo = false;
    EnumChildWindows(window, hasComboChild, reinterpret_cast<LPARAM>(&combo));
    return combo;
}

// A message box is a dialog whose text sits in the static control with ID 0xffff.
bool isMessageBox(HWND window) {
    HWND text = GetDlgItem(window, 0xffff);
    return text && className(text) == "Static";
}

BOOL CALLBACK matchWindow(HWND window, LPARAM param) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || className(window) != "#32770" || !IsWindowVisible(window))
        return TRUE;
    if (search->wantBox ? isMessageBox(window) : isMainDialog(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct OtherDialogSearch {
    DWORD processId;
    HWND mainDialog;
    HWND found;
};

BOOL CALLBACK matchOtherDialog(HWND window, LPARAM param) {
    OtherDialogSearch* search = reinterpret_cast<OtherDialogSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && window != search->mainDialog &&
        className(window) == "#32770" && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A dialog of the program other than its main dialog (the About or restore-defaults dialog).
HWND waitForOtherDialog(const Program& program, DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 50) {
        OtherDialogSearch search = {program.info.dwProcessId, program.dialog, nullptr};
        EnumWindows(matchOtherDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        Sleep(50);
    }
    return nullptr;
}

HWND findWindowOf(DWORD processId, bool wantBox) {
    WindowSearch search = {processId, wantBox, nullptr};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits for a window of the program, or for its end; null when it ended or the time ran out.
HWND waitForWindow(const Program& program, bool wantBox, DWORD ms = kWaitMs) {
    for (DWORD waited = 0; waited < ms; waited += 50) {
        if (HWND window = findWindowOf(program.info.dwProcessId, wantBox))
            return window;
        if (WaitForSingleObject(program.info.hProcess, 50) == WAIT_OBJECT_0)
            return findWindowOf(program.info.dwProcessId, wantBox);
    }
    return nullptr;
}

bool launch(const std::string& exe, const std::string& arguments, PROCESS_INFORMATION* info) {
    std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::string directory = exe.substr(0, exe.find_last_of('\\'));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          directory.c_str(), &startup, info) != 0;
}

void dumpControl(HWND control) {
    const int id = GetDlgCtrlID(control);
    const std::string kind = className(control);
    std::string line = "id=" + std::to_string(id) + " class=" + kind +
                       " enabled=" + (IsWindowEnabled(control) ? "1" : "0");
    if (kind == "Button") {
        const LRESULT check = SendMessageA(control, BM_GETCHECK, 0, 0);
        line += " checked=" + std::to_string(check);
    }
    if (kind == "ComboBox") {
        const LRESULT count = SendMessageA(control, CB_GETCOUNT, 0, 0);
        const LRESULT selected = SendMessageA(control, CB_GETCURSEL, 0, 0);
        std::string items;
        for (LRESULT i = 0; i < count; ++i) {
            const std::string item = comboItem(control, i);
            items += (i ? "|" : "") + item;
            if (i == selected)
                line += " selected=" + item;
        }
        line += " items=" + items;
    } else {
        line += " text=" + windowText(control);
    }
    print("control", line);
}

BOOL CALLBACK dumpChild(HWND child, LPARAM) {
    dumpControl(child);
    return TRUE;
}

BOOL CALLBACK listButton(HWND child, LPARAM param) {
    if (className(child) == "Button") {
        std::string* buttons = reinterpret_cast<std::string*>(param);
        *buttons += (buttons->empty() ? "" : ",") + std::to_string(GetDlgCtrlID(child));
    }
    return TRUE;
}

// A static control that shows an icon (SS_ICON); Wine answers STM_GETICON across processes.
BOOL CALLBACK findIconControl(HWND child, LPARAM result) {
    if (className(child) == "Static" &&
        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        *reinterpret_cast<HWND*>(result) = child;
        return FALSE;
    }
    return TRUE;
}

// One step of a session; returns false when the session cannot go on.
bool runStep(Program& program, const std::string& exe, const std::string& step) {
    const size_t colon = step.find(':');
    const std::string verb = step.substr(0, colon);
    const std::string argument = colon == std::string::npos ? "" : step.substr(colon + 1);

    if (verb == "dialog") {
        program.dialog = waitForWindow(program, false);
        if (!program.dialog) {
            print("dialog", "none");
            return false;
        }
        print("dialog", "found");
        print("dialog.title", windowText(program.dialog));
        return true;
    }
    if (verb == "dump") {
        if (!program.dialog)
            return fail("dump without a dialog") == 0;
        EnumChildWindows(program.dialog, dumpChild, 0);
        return true;
    }
    if (verb == "select") { // select:ID:TEXT
        const size_t split = argument.find(':');
        const int id = atoi(argument.substr(0, split).c_str());
        const std::string text = split == std::string::npos ? "" : argument.substr(split + 1);
        HWND combo = GetDlgItem(program.dialog, id);
        const LRESULT index = SendMessageA(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(text.c_str()));
        print("selected", std::to_string(index));
        PostMessageA(program.dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        return true;
    }
    if (verb == "click") { // posted: the click may open a modal box
        HWND button = GetDlgItem(program.dialog, atoi(argument.c_str()));
        if (!button)
            return fail("no control " + argument) == 0;
        PostMessageA(button, BM_CLICK, 0, 0);
        return true;
    }
    if (verb == "command") { // command:ID, a WM_COMMAND as a menu or accelerator would send it
        PostMessageA(program.dialog, WM_COMMAND, MAKEWPARAM(atoi(argument.c_str()), 0), 0);
        return true;
    }
    if (verb == "box") { // box or box:MS waits that long for a message box
        program.box =
            waitForWindow(program, true, argument.empty() ? kWaitMs : atoi(argument.c_str()));
        if (!program.box) {
            print("box", "none");
            return true;
        }
        std::string buttons;
        EnumChildWindows(program.box, listButton, reinterpret_cast<LPARAM>(&buttons));
        print("box.title", windowText(program.box));
        print("box.text", windowText(GetDlgItem(program.box, 0xffff)));
        print("box.buttons", buttons);
        return true;
    }
    if (verb == "answer") { // answer:ID presses that button of the current box
        if (!program.box)
            return fail("answer without a box") == 0;
        PostMessageA(program.box, WM_COMMAND, MAKEWPARAM(atoi(argument.c_str()), BN_CLICKED), 0);
        for (DWORD waited = 0; IsWindow(program.box) && waited < kWaitMs; waited += 50)
            Sleep(50);
        program.box = nullptr;
        return true;
    }
    if (verb == "no-box") { // reports a box that is up now, without waiting
        HWND box = findWindowOf(program.info.dwProcessId, true);
        print("box.now", box ? windowText(GetDlgItem(box, 0xffff)) : "none");
        return true;
    }
    if (verb == "sleep") {
        Sleep(atoi(argument.c_str()));
        return true;
    }
    if (verb == "syscommand") { // syscommand:ID, as the system menu sends it
        PostMessageA(program.dialog, WM_SYSCOMMAND, strtoul(argument.c_str(), nullptr, 0), 0);
        return true;
    }
    if (verb == "other") { // other:ID waits for another dialog and sends it that command
        HWND other = waitForOtherDialog(program, 10000);
        print("other", other ? windowText(other) : "none");
        if (other)
            PostMessageA(other, WM_COMMAND, MAKEWPARAM(atoi(argument.c_str()), BN_CLICKED), 0);
        for (DWORD waited = 0; other && IsWindow(other) && waited < kWaitMs; waited += 50)
            Sleep(50);
        return true;
    }
    if (verb == "handshake") { // handshake:NAME makes C:\NAME.ready and waits until it is gone
        const std::string path = "C:\\" + argument + ".ready";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return fail("cannot create " + path) == 0;
        CloseHandle(file);
        DWORD waited = 0;
        while (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES && waited < 60000) {
            Sleep(100);
            waited += 100;
        }
        print("handshake", argument);
        return true;
    }
    if (verb == "decoy") { // a window of ours takes the foreground from the program
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "TavrolDecoy";
        RegisterClassA(&windowClass);
        HWND decoy = CreateWindowA("TavrolDecoy", "decoy", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                   100, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
        SetForegroundWindow(decoy);
        print("decoy.foreground", GetForegroundWindow() == decoy ? "1" : "0");
        return true;
    }
    if (verb == "service") { // the driver service as the program has left it so far
        serviceQuery();
        return true;
    }
    if (verb == "service-path") { // where the service manager loads the driver from
        servicePath();
        return true;
    }
    if (verb == "file") { // file:PATH, whether that file exists now
        const DWORD attributes = GetFileAttributesA(argument.c_str());
        print("file", attributes == INVALID_FILE_ATTRIBUTES ? "absent" : "present");
        return true;
    }
    if (verb == "other-icon") { // whether the icon control of another dialog shows an icon
        HWND other = waitForOtherDialog(program, 10000);
        HWND icon = nullptr;
        EnumChildWindows(other, findIconControl, reinterpret_cast<LPARAM>(&icon));
        print("other.icon", !icon                                   ? "no control"
                            : SendMessageA(icon, STM_GETICON, 0, 0) ? "set"
                                                                    : "none");
        return true;
    }
    if (verb == "foreground") {
        HWND foreground = GetForegroundWindow();
        print("foreground", foreground && foreground == program.dialog ? "dialog" : "other");
        return true;
    }
    if (verb == "launch") { // a second copy; waits for it to end
        PROCESS_INFORMATION second = {};
        if (!launch(exe, argument, &second))
            return fail("CreateProcessA " + std::to_string(GetLastError())) == 0;
        const bool ended = WaitForSingleObject(second.hProcess, kWaitMs) == WAIT_OBJECT_0;
        DWORD code = 0;
        GetExitCodeProcess(second.hProcess, &code);
        print("second.exit", ended ? std::to_string(code) : "timeout");
        if (!ended)
            TerminateProcess(second.hProcess, 1);
        CloseHandle(second.hProcess);
        CloseHandle(second.hThread);
        return true;
    }
    if (verb == "run") { // run:COMMANDLINE while the program is open (a set-up, say)
        runToTheEnd(argument);
        return true;
    }
    if (verb == "exit") {
        const bool ended = WaitForSingleObject(program.info.hProcess, kWaitMs) == WAIT_OBJECT_0;
        DWORD code = 0;
        GetExitCodeProcess(program.info.hProcess, &code);
        print("exit", ended ? std::to_string(code) : "timeout");
        if (!ended)
            TerminateProcess(program.info.hProcess, 1);
        return ended;
    }
    return fail("unknown step " + step) == 0;
}

} // namespace

// The program is never left running.
int session(const std::string& exe, const std::string& arguments, int count, char** steps) {
    Program program;
    if (!launch(exe, arguments, &program.info))
        return fail("CreateProcessA " + std::to_string(GetLastError()));
    WaitForInputIdle(program.info.hProcess, 5000);
    bool going = true;
    for (int i = 0; i < count && going; ++i)
        going = runStep(program, exe, steps[i]);
    int result = 0;
    if (WaitForSingleObject(program.info.hProcess, 0) != WAIT_OBJECT_0) {
        print("killed", "1");
        TerminateProcess(program.info.hProcess, 1);
        WaitForSingleObject(program.info.hProcess, 5000);
        result = going ? 0 : 2;
    }
    CloseHandle(program.info.hProcess);
    CloseHandle(program.info.hThread);
    return result;
}
