// CWnd: a window object attached to a Win32 window handle it does not own, and the message-map
// dispatch that every window class of the framework shares.
#pragma once

#include "platform/platform.h"
#include "framework/msgmap.h"

class CDC;
class CDataExchange;

class CWnd {
  public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    // The root of every message-map chain: an empty table.
    static const MessageMap* GetThisMessageMap();
    virtual const MessageMap* GetMessageMap() const;
    // Binds control objects to control windows (DDX_Control); a plain window binds nothing.
    virtual void DoDataExchange(CDataExchange* pDX);

    HWND GetSafeHwnd() const { return m_hWnd; }
    void Attach(HWND window) { m_hWnd = window; }
    HWND Detach();

    HWND GetDlgItem(int id) const;
    int GetDlgCtrlID() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsIconic() const;
    int GetWindowText(LPSTR text, int size) const;
    int GetWindowTextLength() const;
    void SetWindowText(LPCSTR text);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    HICON SetIcon(HICON icon, BOOL bigIcon);
    HMENU GetSystemMenu(BOOL revert) const;
    void GetClientRect(LPRECT rect) const;
    void Invalidate(BOOL erase = TRUE);
    int MessageBox(LPCSTR text, LPCSTR caption, UINT type = MB_OK);

    // Looks `message` up in the class's message map and its bases' and calls the handler.
    // FALSE when no entry matches or the handler asked for default processing; `result` is
    // written only when the message was handled.
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    HWND m_hWnd;

  protected:
    // Asks for the window's default processing of the message being handled.
    LRESULT Default();

    // Base handlers: what a derived class's handler falls back on.
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    // Default colouring: the system's colours set into the device context, the system brush back.
    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT colorType);
    BOOL OnEraseBkgnd(CDC* dc);

    // The message being dispatched; saved and restored around nested dispatches.
    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        BOOL defaultRequested;
    };
    CurrentMessage m_current;

  private:
    static const MessageMapEntry* findEntry(const MessageMap* map, UINT message, WPARAM wParam);
    LRESULT callHandler(const MessageMapEntry& entry, WPARAM wParam, LPARAM lParam);
};
