// Control objects: one-line wrappers over the messages of the standard controls.
#pragma once

#include "framework/wnd.h"

class CButton : public CWnd {
  public:
    // BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE.
    int GetCheck() const { return static_cast<int>(::SendMessageA(m_hWnd, BM_GETCHECK, 0, 0)); }
    void SetCheck(int state) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(state)); }
};

class CComboBox : public CWnd {
  public:
    int AddString(LPCSTR text) {
        return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
    }
    // Selects the first item, searching from after `startAfter` and wrapping, whose text begins
    // with `text`; -1 searches the whole list. The item's index, or CB_ERR.
    int SelectString(int startAfter, LPCSTR text) {
        return static_cast<int>(SendMessage(CB_SELECTSTRING, static_cast<WPARAM>(startAfter),
                                            reinterpret_cast<LPARAM>(text)));
    }
    int GetCount() const { return static_cast<int>(::SendMessageA(m_hWnd, CB_GETCOUNT, 0, 0)); }
    int GetCurSel() const { return static_cast<int>(::SendMessageA(m_hWnd, CB_GETCURSEL, 0, 0)); }
    int SetCurSel(int index) {
        return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index)));
    }
    int GetLBTextLen(int index) const {
        return static_cast<int>(
            ::SendMessageA(m_hWnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0));
    }
    // `text` must hold GetLBTextLen(index) + 1 bytes.
    int GetLBText(int index, LPSTR text) const {
        return static_cast<int>(::SendMessageA(m_hWnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                               reinterpret_cast<LPARAM>(text)));
    }
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
};
