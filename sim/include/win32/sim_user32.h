// user32 functions of the simulated PC used by the shell: message boxes, windows of other
// processes, system metrics, strings and icons of a resource module, restart.
// The dialog and control functions are declared in sim_user32_dialogs.h.
#pragma once

#include "sim_types.h"

#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_YESNO 0x00000004u
#define MB_ICONHAND 0x00000010u
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040u
#define MB_ICONINFORMATION MB_ICONASTERISK

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

#define SM_CXICON 11
#define SM_CYICON 12
#define SM_CLEANBOOT 67

#define EWX_LOGOFF 0
#define EWX_SHUTDOWN 1
#define EWX_REBOOT 2

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
int WINAPI GetSystemMetrics(int index);
HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName);
BOOL WINAPI SetForegroundWindow(HWND window);
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax);
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR iconName);
BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason);

// Further system metrics of the shell.
#ifndef SM_CXSCREEN
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#endif
#ifndef SM_CXSMICON
#define SM_CXSMICON 49
#define SM_CYSMICON 50
#endif
#ifndef EWX_FORCE
#define EWX_FORCE 4
#endif
#ifndef EWX_POWEROFF
#define EWX_POWEROFF 8
#endif
#ifndef MB_DEFBUTTON2
#define MB_DEFBUTTON1 0x00000000u
#define MB_DEFBUTTON2 0x00000100u
#define MB_DEFBUTTON3 0x00000200u
#endif
#ifndef MB_ABORTRETRYIGNORE
#define MB_ABORTRETRYIGNORE 0x00000002u
#define MB_YESNOCANCEL 0x00000003u
#define MB_RETRYCANCEL 0x00000005u
#endif
