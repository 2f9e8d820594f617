// CWnd: thin wrappers over the window functions, and the message-map walk.
#include "framework/wnd.h"
#include "framework/app.h"
#include "framework/gdi.h"

CWnd::CWnd() : m_hWnd(nullptr), m_current{0, 0, 0, FALSE} {}

CWnd::~CWnd() {}

const MessageMap* CWnd::GetThisMessageMap() {
    static const MessageMapEntry entries[] = {{0, 0, 0, MessageHandlerKind::End, MessageHandler()}};
    static const MessageMap map = {nullptr, entries};
    return &map;
}

const MessageMap* CWnd::GetMessageMap() const {
    return GetThisMessageMap();
}

void CWnd::DoDataExchange(CDataExchange*) {}

HWND CWnd::Detach() {
    HWND window = m_hWnd;
    m_hWnd = nullptr;
    return window;
}

HWND CWnd::GetDlgItem(int id) const {
    return ::GetDlgItem(m_hWnd, id);
}

int CWnd::GetDlgCtrlID() const {
    return ::GetDlgCtrlID(m_hWnd);
}

BOOL CWnd::EnableWindow(BOOL enable) {
    return ::EnableWindow(m_hWnd, enable);
}

BOOL CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}

BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

int CWnd::GetWindowText(LPSTR text, int size) const {
    return ::GetWindowTextA(m_hWnd, text, size);
}

int CWnd::GetWindowTextLength() const {
    return ::GetWindowTextLengthA(m_hWnd);
}

void CWnd::SetWindowText(LPCSTR text) {
    ::SetWindowTextA(m_hWnd, text);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::SendDlgItemMessage(int id, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendDlgItemMessageA(m_hWnd, id, message, wParam, lParam);
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

HMENU CWnd::GetSystemMenu(BOOL revert) const {
    return ::GetSystemMenu(m_hWnd, revert);
}

void CWnd::GetClientRect(LPRECT rect) const {
    ::GetClientRect(m_hWnd, rect);
}

void CWnd::Invalidate(BOOL erase) {
    ::InvalidateRect(m_hWnd, nullptr, erase);
}

int CWnd::MessageBox(LPCSTR text, LPCSTR caption, UINT type) {
    return ::AfxShowMessageBox(m_hWnd, text, caption, type);
}

LRESULT CWnd::Default() {
    m_current.defaultRequested = TRUE;
    return 0;
}

void CWnd::OnSysCommand(UINT, LPARAM) {
    Default();
}

void CWnd::OnPaint() {
    Default();
}

HCURSOR CWnd::OnQueryDragIcon() {
    Default();
    return nullptr;
}

HBRUSH CWnd::OnCtlColor(CDC* dc, CWnd* control, UINT) {
    return reinterpret_cast<HBRUSH>(::DefWindowProcA(m_hWnd, m_current.message,
                                                     reinterpret_cast<WPARAM>(dc->GetSafeHdc()),
                                                     reinterpret_cast<LPARAM>(control->m_hWnd)));
}

BOOL CWnd::OnEraseBkgnd(CDC*) {
    Default();
    return FALSE;
}

static BOOL isCtlColorMessage(UINT message) {
    return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
}

const MessageMapEntry* CWnd::findEntry(const MessageMap* map, UINT message, WPARAM wParam) {
    for (; map; map = map->base) {
        for (const MessageMapEntry* entry = map->entries; entry->kind != MessageHandlerKind::End;
             ++entry) {
            if (entry->kind == MessageHandlerKind::CtlColor) {
                if (isCtlColorMessage(message))
                    return entry;
            } else if (entry->message == message) {
                if (message != WM_COMMAND ||
                    (entry->code == HIWORD(wParam) && entry->id == LOWORD(wParam)))
                    return entry;
            }
        }
    }
    return nullptr;
}

LRESULT CWnd::callHandler(const MessageMapEntry& entry, WPARAM wParam, LPARAM lParam) {
    switch (entry.kind) {
    case MessageHandlerKind::Command:
    case MessageHandlerKind::Paint:
        (this->*entry.handler.plain)();
        return 0;
    case MessageHandlerKind::SysCommand:
        (this->*entry.handler.sysCommand)(static_cast<UINT>(wParam), lParam);
        return 0;
    case MessageHandlerKind::QueryDragIcon:
        return reinterpret_cast<LRESULT>((this->*entry.handler.queryDragIcon)());
    case MessageHandlerKind::CtlColor: {
        CDC dc;
        dc.Attach(reinterpret_cast<HDC>(wParam));
        CWnd control;
        control.Attach(reinterpret_cast<HWND>(lParam));
        UINT colorType = m_current.message - WM_CTLCOLORMSGBOX;
        HBRUSH brush = (this->*entry.handler.ctlColor)(&dc, &control, colorType);
        control.Detach();
        dc.Detach();
        return reinterpret_cast<LRESULT>(brush);
    }
    case MessageHandlerKind::EraseBkgnd: {
        CDC dc;
        dc.Attach(reinterpret_cast<HDC>(wParam));
        BOOL erased = (this->*entry.handler.eraseBkgnd)(&dc);
        dc.Detach();
        return erased;
    }
    case MessageHandlerKind::End:
        break;
    }
    return 0;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const MessageMapEntry* entry = findEntry(GetMessageMap(), message, wParam);
    if (!entry)
        return FALSE;
    // A handler may open a modal dialog whose loop sends this window further messages.
    CurrentMessage outer = m_current;
    m_current = CurrentMessage{message, wParam, lParam, FALSE};
    LRESULT handlerResult = callHandler(*entry, wParam, lParam);
    BOOL handled = !m_current.defaultRequested;
    m_current = outer;
    if (handled)
        *result = handlerResult;
    return handled;
}
