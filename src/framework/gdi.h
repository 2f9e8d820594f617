// GDI objects of the framework: the font that owns its handle, device contexts and the menu.
#pragma once

#include "platform/platform.h"

class CWnd;

// A font object that owns its GDI font: the font is deleted with the object.
class CFont {
  public:
    CFont() : m_hObject(nullptr) {}
    ~CFont() { DeleteObject(); }
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;

    // Takes ownership of `font`, deleting a font held before; FALSE for a null handle.
    BOOL Attach(HFONT font);
    HFONT Detach();
    HFONT GetSafeHandle() const { return m_hObject; }
    BOOL DeleteObject();

  private:
    HFONT m_hObject;
};

// A device context the object does not own: the paint DC below, or one lent by a message.
class CDC {
  public:
    CDC() : m_hDC(nullptr) {}
    virtual ~CDC() {}
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    void Attach(HDC dc) { m_hDC = dc; }
    HDC Detach();
    HDC GetSafeHdc() const { return m_hDC; }

    COLORREF SetTextColor(COLORREF color) { return ::SetTextColor(m_hDC, color); }
    COLORREF SetBkColor(COLORREF color) { return ::SetBkColor(m_hDC, color); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    // Selects the font when the object holds one; an empty font object leaves the DC alone.
    HGDIOBJ SelectObject(CFont* font);
    HGDIOBJ SelectStockObject(int index) { return ::SelectObject(m_hDC, ::GetStockObject(index)); }
    BOOL ExtTextOut(int x, int y, UINT options, LPCRECT rect, LPCSTR text, UINT length) {
        return ::ExtTextOutA(m_hDC, x, y, options, rect, text, length, nullptr);
    }
    // Fills `rect` with `color` the way GDI does it fastest: an empty opaque text output over
    // the rectangle in that background colour. The background colour stays set afterwards.
    void FillSolidRect(LPCRECT rect, COLORREF color);
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

    HDC m_hDC;
};

// The device context of a WM_PAINT handler: BeginPaint when built, EndPaint when it goes.
class CPaintDC : public CDC {
  public:
    explicit CPaintDC(CWnd* window);
    ~CPaintDC() override;

    PAINTSTRUCT m_ps;

  private:
    HWND m_hWnd;
};

// A menu the object does not own (the system menu belongs to its window).
class CMenu {
  public:
    explicit CMenu(HMENU menu = nullptr) : m_hMenu(menu) {}

    HMENU GetSafeHmenu() const { return m_hMenu; }
    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, LPCSTR text = nullptr) {
        return ::AppendMenuA(m_hMenu, flags, id, text);
    }
    int GetMenuItemCount() const { return ::GetMenuItemCount(m_hMenu); }

    HMENU m_hMenu;
};
