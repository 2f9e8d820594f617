// Shell services of the simulated PC: message boxes, system metrics, the named mutex, top-level
// windows seen across processes, the process token and ExitWindowsEx.
//
// Message boxes (MessageBoxA) are recorded (owner, title, text, icon, buttons, answer). The answer
// comes from, in this order: the queue of scripted answers (queueAnswer), the face hook (the
// terminal or script face of the window manager), a question on the terminal when stdin is a
// TTY, and otherwise the box's default button: IDOK for MB_OK and MB_OKCANCEL, IDNO for Yes/No
// boxes unless setYesNoDefault says otherwise. With setPrintBoxes(true) every box is also printed
// to stdout as one JSON line:
//   {"owner":null,"title":"Vantorel Tavrolin","text":"...","icon":"warning","buttons":"ok"}
// owner is null, the owner's registered title, or its handle as "0x...".
//
// Cross-process objects live in the state directory given to attach(): the named mutex is an
// flock'ed file "objects/mutex-<name>", and every registered top-level window a file in
// "objects/windows/" (owner pid and title), so two runs of the program on one virtual PC meet.
// Without a state directory both stay inside the process.
//
// Mutex and token handles are kernel handles of sim::process(); CloseHandle gives them up.
//
// Every boot of a virtual PC starts the shell afresh with the settings of the machine profile:
//   "#! safe-mode"               GetSystemMetrics(SM_CLEANBOOT) returns 1
//   "#! windows 9x"              no token functions (ERROR_CALL_NOT_IMPLEMENTED), ExitWindowsEx
//                                needs no privilege
//   "#! no-shutdown-privilege"   the user does not hold SeShutdownPrivilege: AdjustTokenPrivileges
//                                reports ERROR_NOT_ALL_ASSIGNED, and ExitWindowsEx(EWX_REBOOT)
//                                fails with ERROR_PRIVILEGE_NOT_HELD on NT
#pragma once

#include <string>
#include <vector>

#include "sim_types.h"

namespace sim {

struct MessageBoxRecord {
    HWND owner;
    std::string ownerTitle; // "" when the owner is not a registered window
    std::string title;
    std::string text;
    UINT type;
    int answer;
    // A scripted answer that is not one of the box's buttons is refused (the box takes its
    // default answer instead) and kept here; 0 when none was refused.
    int refusedAnswer;

    const char* icon() const;    // "error", "warning", "information", "question" or "none"
    const char* buttons() const; // "ok", "okcancel", "yesno", "yesnocancel", ...
    std::string json() const;
};

// Answers a message box interactively; returns the button pressed, or 0 to leave the box to the
// shell's own handling.
typedef int (*MessageBoxFace)(const MessageBoxRecord& box);
// Tells the window manager that another process asked for one of its windows to come to front.
typedef void (*ForegroundHook)(HWND window);

struct ExitWindowsCall {
    UINT flags;
    DWORD reason;
    BOOL result;
    DWORD error; // last error set by the call, 0 on success
};

class Shell {
  public:
    // Back to a fresh process: records, queued answers, hooks and settings cleared; mutex and
    // token handles closed; windows unregistered; state directory detached.
    void reset();

    // Cross-process objects in <stateDir>/objects. Returns false with *error on failure.
    bool attach(const std::string& stateDir, std::string* error);
    void detach();

    // Machine settings; a boot sets them from the profile, tests may change them afterwards.
    void setSafeMode(bool on);
    void setNtPlatform(bool nt);
    void setShutdownPrivilegeHeld(bool held);

    // Message boxes.
    void queueAnswer(int button);
    size_t queuedAnswers() const;
    void setYesNoDefault(int button);
    void setPrintBoxes(bool on);
    // Whether a box nobody else answers is asked on the terminal when stdin is a TTY (the
    // default); tests switch it off so that they never wait for a person.
    void setAskOnTerminal(bool on);
    void setFace(MessageBoxFace face);
    const std::vector<MessageBoxRecord>& messageBoxes() const;
    void clearMessageBoxes();

    // Top-level windows, registered by the window manager while they exist.
    void registerWindow(HWND window, const std::string& title);
    void setWindowTitle(HWND window, const std::string& title);
    void unregisterWindow(HWND window);
    std::string windowTitle(HWND window) const; // "" for an unknown window
    // Windows of this process that another process brought to the front since the last call;
    // the window manager polls this. The hook, when set, is called for requests made by this
    // process on its own windows.
    std::vector<HWND> takeForegroundRequests();
    void setForegroundHook(ForegroundHook hook);

    // Token and restart.
    bool shutdownPrivilegeEnabled() const;
    const std::vector<ExitWindowsCall>& exitWindowsCalls() const;
    bool restartRequested() const;
    void clearRestartRequest();

    // Every shell call as one readable line ("CreateMutexA \"Exists\" -> already exists", ...).
    const std::vector<std::string>& trace() const;
};

Shell& shell();

} // namespace sim
