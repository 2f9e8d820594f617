// Dialog templates built in memory for the framework's tests (DLGTEMPLATE, as the resource
// compiler writes it for a DIALOG statement).
#pragma once

#include "platform/platform.h"

#include <cstring>
#include <string>
#include <vector>

namespace fwtest {

enum : WORD { kButtonAtom = 0x0080, kStaticAtom = 0x0082, kComboBoxAtom = 0x0085 };

class TestTemplate {
  public:
    explicit TestTemplate(const char* caption, DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU |
                                                             DS_MODALFRAME | DS_SETFONT |
                                                             WS_MINIMIZEBOX)
        : m_caption(caption), m_style(style) {}

    TestTemplate& add(WORD classAtom, int id, DWORD style, const char* text, short x, short y,
                      short cx, short cy) {
        m_items.push_back(Item{classAtom, id, static_cast<DWORD>(style | WS_CHILD | WS_VISIBLE),
                               text, x, y, cx, cy});
        return *this;
    }

    // The template's bytes, DWORD-aligned as DialogBoxIndirectParamA requires.
    LPCDLGTEMPLATEA get() {
        std::vector<BYTE> bytes;
        putDword(bytes, m_style);
        putDword(bytes, 0);
        putWord(bytes, static_cast<WORD>(m_items.size()));
        putWord(bytes, 0);
        putWord(bytes, 0);
        putWord(bytes, 220);
        putWord(bytes, 120);
        putWord(bytes, 0); // no menu
        putWord(bytes, 0); // the dialog class
        putText(bytes, m_caption);
        if (m_style & DS_SETFONT) {
            putWord(bytes, 8);
            putText(bytes, "MS Sans Serif");
        }
        for (const Item& item : m_items) {
            while (bytes.size() % 4)
                bytes.push_back(0);
            putDword(bytes, item.style);
            putDword(bytes, 0);
            putWord(bytes, static_cast<WORD>(item.x));
            putWord(bytes, static_cast<WORD>(item.y));
            putWord(bytes, static_cast<WORD>(item.cx));
            putWord(bytes, static_cast<WORD>(item.cy));
            putWord(bytes, static_cast<WORD>(item.id));
            putWord(bytes, 0xFFFF);
            putWord(bytes, item.classAtom);
            putText(bytes, item.text);
            putWord(bytes, 0); // no creation data
        }
        m_storage.assign((bytes.size() + 3) / 4, 0);
        std::memcpy(m_storage.data(), bytes.data(), bytes.size());
        return reinterpret_cast<LPCDLGTEMPLATEA>(m_storage.data());
    }

  private:
    struct Item {
        WORD classAtom;
        int id;
        DWORD style;
        std::string text;
        short x, y, cx, cy;
    };
    static void putWord(std::vector<BYTE>& bytes, WORD value) {
        bytes.push_back(static_cast<BYTE>(value));
        bytes.push_back(static_cast<BYTE>(value >> 8));
    }
    static void putDword(std::vector<BYTE>& bytes, DWORD value) {
        putWord(bytes, static_cast<WORD>(value));
        putWord(bytes, static_cast<WORD>(value >> 16));
    }
    static void putText(std::vector<BYTE>& bytes, const std::string& text) {
        for (char c : text)
            putWord(bytes, static_cast<BYTE>(c));
        putWord(bytes, 0);
    }

    std::string m_caption;
    DWORD m_style;
    std::vector<Item> m_items;
    std::vector<DWORD> m_storage;
};

} // namespace fwtest
