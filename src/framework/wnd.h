// CWnd: a window object attached to a Win32 window handle it does not own.
#pragma once

#include "platform/platform.h"

class CWnd {
public:
    CWnd() : m_hWnd(nullptr) {}
    virtual ~CWnd() {}
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    void Attach(HWND window) { m_hWnd = window; }
    HWND Detach() {
        HWND window = m_hWnd;
        m_hWnd = nullptr;
        return window;
    }

    HWND m_hWnd;
};
