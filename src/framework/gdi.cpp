// GDI objects of the framework.
#include "framework/gdi.h"
#include "framework/wnd.h"

BOOL CFont::Attach(HFONT font) {
    if (!font)
        return FALSE;
    if (font != m_hObject)
        DeleteObject();
    m_hObject = font;
    return TRUE;
}

HFONT CFont::Detach() {
    HFONT font = m_hObject;
    m_hObject = nullptr;
    return font;
}

BOOL CFont::DeleteObject() {
    if (!m_hObject)
        return FALSE;
    BOOL deleted = ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return deleted;
}

HDC CDC::Detach() {
    HDC dc = m_hDC;
    m_hDC = nullptr;
    return dc;
}

HGDIOBJ CDC::SelectObject(CFont* font) {
    if (!font || !font->GetSafeHandle())
        return nullptr;
    return ::SelectObject(m_hDC, font->GetSafeHandle());
}

void CDC::FillSolidRect(LPCRECT rect, COLORREF color) {
    ::SetBkColor(m_hDC, color);
    ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, rect, nullptr, 0, nullptr);
}

CPaintDC::CPaintDC(CWnd* window) : m_hWnd(window->m_hWnd) {
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() {
    ::EndPaint(m_hWnd, &m_ps);
    m_hDC = nullptr;
}
