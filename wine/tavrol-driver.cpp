// tavrol-driver.exe: the Wine suite's hands inside Wine. It runs Tavrol.exe and works its windows
// with window messages, answers its message boxes, sends raw requests to the kernel driver and
// reads the registry and the service manager. Every observation is printed as one "key=value"
// line; the suite on the Linux side makes the judgements.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const char kServiceName[] = "TAVROL";
const DWORD kWaitMs = 30000;

// Values are printed on one line: backslashes, line breaks and tabs are escaped.
void print(const char* key, const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == '\t')
            escaped += "\\t";
        else
            escaped += c;
    }
    printf("%s=%s\n", key, escaped.c_str());
    fflush(stdout);
}

void printNumber(const char* key, unsigned long value) {
    printf("%s=%lu\n", key, value);
    fflush(stdout);
}

std::string hex(const unsigned char* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

bool parseHex(const std::string& text, std::vector<unsigned char>* bytes) {
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        const unsigned long value = strtoul(pair, &end, 16);
        if (*end)
            return false;
        bytes->push_back(static_cast<unsigned char>(value));
    }
    return true;
}

int fail(const std::string& what) {
    print("error", what);
    return 2;
}

// ---------------------------------------------------------------------------------------------
// Service manager

std::string serviceState(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_QUERY_STATUS);
    if (!service)
        return "absent";
    SERVICE_STATUS status;
    std::string state = "unknown";
    if (QueryServiceStatus(service, &status)) {
        switch (status.dwCurrentState) {
        case SERVICE_STOPPED:
            state = "stopped";
            break;
        case SERVICE_START_PENDING:
            state = "start-pending";
            break;
        case SERVICE_STOP_PENDING:
            state = "stop-pending";
            break;
        case SERVICE_RUNNING:
            state = "running";
            break;
        default:
            break;
        }
    }
    CloseServiceHandle(service);
    return state;
}

bool waitForState(SC_HANDLE manager, const std::string& wanted, DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 100) {
        if (serviceState(manager) == wanted)
            return true;
        Sleep(100);
    }
    return serviceState(manager) == wanted;
}

// Installs and starts the driver at `path`. The first start after a fresh prefix can fail once
// while Wine's device host comes up, so a failed start is retried a few times.
int serviceStart(const char* path) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return fail("OpenSCManagerA " + std::to_string(GetLastError()));
    SC_HANDLE service =
        CreateServiceA(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path,
                       nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS)
        service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (!service) {
        const DWORD error = GetLastError();
        CloseServiceHandle(manager);
        return fail("CreateServiceA " + std::to_string(error));
    }
    DWORD lastError = 0;
    bool running = false;
    for (int attempt = 0; attempt < 5 && !running; ++attempt) {
        if (StartServiceA(service, 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING)
            running = waitForState(manager, "running", 10000);
        else
            lastError = GetLastError();
        if (!running)
            Sleep(500);
    }
    CloseServiceHandle(service);
    print("service", serviceState(manager));
    CloseServiceHandle(manager);
    if (!running)
        return fail("StartServiceA " + std::to_string(lastError));
    return 0;
}

int serviceRemove() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return fail("OpenSCManagerA " + std::to_string(GetLastError()));
    SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (service) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        waitForState(manager, "stopped", 10000);
        DeleteService(service);
        CloseServiceHandle(service);
        waitForState(manager, "absent", 10000);
    }
    print("service", serviceState(manager));
    CloseServiceHandle(manager);
    return 0;
}

int serviceQuery() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return fail("OpenSCManagerA " + std::to_string(GetLastError()));
    print("service", serviceState(manager));
    CloseServiceHandle(manager);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Raw requests to the kernel driver

// One request per argument: "code,inputLength,outputLength[,inputHex]". Input bytes beyond the
// hex are zero. The output buffer carries a 0xbd fill four bytes past its end and the byte count
// starts as 0xdeadbeef, so the suite sees exactly what the driver wrote.
int sendRequests(int count, char** specs) {
    for (int i = 0; i < count; ++i) {
        unsigned long code = 0, inLength = 0, outLength = 0;
        char inputHex[2048] = "";
        const int fields =
            sscanf(specs[i], "%lx,%lu,%lu,%2047s", &code, &inLength, &outLength, inputHex);
        std::vector<unsigned char> input;
        if (fields < 3 || inLength > 4096 || outLength > 4096 || !parseHex(inputHex, &input) ||
            input.size() > inLength)
            return fail(std::string("bad request spec: ") + specs[i]);
        input.resize(inLength, 0);
        std::vector<unsigned char> output(outLength + 4, 0xbd);

        HANDLE device = CreateFileA("\\\\.\\Tavrol", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (device == INVALID_HANDLE_VALUE) {
            printf("request=%d open-error=%lu\n", i, GetLastError());
            fflush(stdout);
            continue;
        }
        DWORD returned = 0xdeadbeef;
        SetLastError(0);
        const BOOL ok =
            DeviceIoControl(device, code, inLength ? input.data() : nullptr, inLength,
                            outLength ? output.data() : nullptr, outLength, &returned, nullptr);
        const DWORD error = ok ? 0 : GetLastError();
        CloseHandle(device);
        printf("request=%d ok=%d error=%lu bytes=%lu out=%s tail=%s\n", i, ok ? 1 : 0, error,
               returned, hex(output.data(), outLength).c_str(),
               hex(output.data() + outLength, 4).c_str());
        fflush(stdout);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Registry (HKLM only: everything the program keeps lives there)

int registryGet(const char* path, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        print("key", "absent");
        return 0;
    }
    print("key", "present");
    DWORD type = 0, size = 0;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (result != ERROR_SUCCESS) {
        print("value", "absent");
        RegCloseKey(key);
        return 0;
    }
    std::vector<unsigned char> data(size + 1, 0);
    result = RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return fail("RegQueryValueExA " + std::to_string(result));
    printNumber("type", type);
    printNumber("size", size);
    print("data", hex(data.data(), size));
    if (type == REG_DWORD && size == 4)
        printNumber("dword", *reinterpret_cast<DWORD*>(data.data()));
    if (type == REG_SZ)
        print("string", reinterpret_cast<const char*>(data.data()));
    return 0;
}

int registrySet(const char* path, const char* name, const char* type, const char* value) {
    std::vector<unsigned char> data;
    DWORD regType;
    if (!strcmp(type, "dword")) {
        const DWORD number = strtoul(value, nullptr, 0);
        data.assign(reinterpret_cast<const unsigned char*>(&number),
                    reinterpret_cast<const unsigned char*>(&number) + 4);
        regType = REG_DWORD;
    } else if (!strcmp(type, "binary") && parseHex(value, &data)) {
        regType = REG_BINARY;
    } else if (!strcmp(type, "string")) {
        data.assign(value, value + strlen(value) + 1);
        regType = REG_SZ;
    } else {
        return fail(std::string("bad value type or data: ") + type);
    }
    HKEY key;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key) != ERROR_SUCCESS)
        return fail(std::string("RegCreateKeyA ") + path);
    const LONG result = RegSetValueExA(key, name, 0, regType, data.data(), data.size());
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return fail("RegSetValueExA " + std::to_string(result));
    print("set", name);
    return 0;
}

LONG deleteTree(HKEY root, const std::string& path) {
    HKEY key;
    LONG result = RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        return result;
    char child[256];
    while (RegEnumKeyA(key, 0, child, sizeof child) == ERROR_SUCCESS) {
        if (deleteTree(root, path + "\\" + child) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    return RegDeleteKeyA(root, path.c_str());
}

int registryDelete(const char* path, const char* name) {
    if (name) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, name);
            RegCloseKey(key);
        }
    } else {
        deleteTree(HKEY_LOCAL_MACHINE, path);
    }
    print("deleted", path);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Windows of the program

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

// Runs the program and works through the steps in order. The program is never left running.
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

int usage() {
    fputs("usage: tavrol-driver COMMAND ...\n"
          "  service-start PATH | service-remove | service-query\n"
          "  requests CODE,INLEN,OUTLEN[,HEX] ...\n"
          "  reg-get KEY VALUE | reg-set KEY VALUE dword|binary|string DATA\n"
          "  reg-delete KEY [VALUE]\n"
          "  session EXE ARGS STEP ...\n"
          "  steps: dialog dump select:ID:TEXT click:ID command:ID box answer:ID no-box\n"
          "         sleep:MS decoy foreground launch:ARGS service exit syscommand:ID other:ID\n"
          "         handshake:NAME  (box:MS waits MS at most)\n",
          stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    if (command == "service-start" && argc == 3)
        return serviceStart(argv[2]);
    if (command == "service-remove" && argc == 2)
        return serviceRemove();
    if (command == "service-query" && argc == 2)
        return serviceQuery();
    if (command == "requests")
        return sendRequests(argc - 2, argv + 2);
    if (command == "reg-get" && argc == 4)
        return registryGet(argv[2], argv[3]);
    if (command == "reg-set" && argc == 6)
        return registrySet(argv[2], argv[3], argv[4], argv[5]);
    if (command == "reg-delete" && (argc == 3 || argc == 4))
        return registryDelete(argv[2], argc == 4 ? argv[3] : nullptr);
    if (command == "session" && argc >= 4)
        return session(argv[2], argv[3], argc - 4, argv + 4);
    return usage();
}
