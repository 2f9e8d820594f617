// Test helpers: dialog templates built byte by byte, a dialog procedure that records what it is
// sent, and a fixture that gives every test a fresh desktop.
#pragma once

#include "sim/shell.h"
#include "sim/ui.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace simui_test {

struct Item {
    DWORD style;
    int x, y, cx, cy;
    DWORD id;
    WORD classAtom;        // 0x0080 button, 0x0081 edit, 0x0082 static, 0x0085 combo box
    std::string className; // used when classAtom is 0
    std::string text;
    WORD titleOrdinal; // used when not 0 (an icon static)
};

inline Item button(int id, const std::string& text, DWORD style, int x = 0, int y = 0) {
    return {WS_CHILD | WS_VISIBLE | WS_TABSTOP | style,
            x,
            y,
            40,
            14,
            static_cast<DWORD>(id),
            0x0080,
            "",
            text,
            0};
}
inline Item label(int id, const std::string& text, int x = 0, int y = 0, int cx = 60) {
    return {WS_CHILD | WS_VISIBLE | SS_LEFT, x,      y,  cx,   8,
            static_cast<DWORD>(id),          0x0082, "", text, 0};
}
inline Item combo(int id, DWORD style, int x = 0, int y = 0) {
    return {WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | style,
            x,
            y,
            60,
            50,
            static_cast<DWORD>(id),
            0x0085,
            "",
            "",
            0};
}

class Writer {
  public:
    void word(unsigned w) {
        bytes.push_back(static_cast<BYTE>(w & 0xFF));
        bytes.push_back(static_cast<BYTE>((w >> 8) & 0xFF));
    }
    void dword(DWORD d) {
        word(d & 0xFFFF);
        word(d >> 16);
    }
    void string(const std::string& s) {
        for (unsigned char c : s)
            word(c);
        word(0);
    }
    void align() {
        while (bytes.size() % 4)
            bytes.push_back(0);
    }
    std::vector<BYTE> bytes;
};

struct Template {
    bool extended = false;
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    std::string title = "Test dialog";
    int cx = 200, cy = 100;
    std::string font = "MS Sans Serif";
    int pointSize = 8;
    std::vector<Item> items;

    std::vector<BYTE> build() const {
        Writer w;
        if (extended) {
            w.word(1);
            w.word(0xFFFF);
            w.dword(0); // help ID
            w.dword(0); // extended style
            w.dword(style);
        } else {
            w.dword(style);
            w.dword(0);
        }
        w.word(static_cast<unsigned>(items.size()));
        w.word(10);
        w.word(10);
        w.word(static_cast<unsigned>(cx));
        w.word(static_cast<unsigned>(cy));
        w.word(0); // no menu
        w.word(0); // the dialog class
        w.string(title);
        if (style & DS_SETFONT) {
            w.word(static_cast<unsigned>(pointSize));
            if (extended) {
                w.word(FW_NORMAL);
                w.bytes.push_back(0); // italic
                w.bytes.push_back(1); // character set
            }
            w.string(font);
        }
        for (const Item& item : items) {
            w.align();
            if (extended) {
                w.dword(0);
                w.dword(0);
                w.dword(item.style);
            } else {
                w.dword(item.style);
                w.dword(0);
            }
            w.word(static_cast<unsigned>(item.x));
            w.word(static_cast<unsigned>(item.y));
            w.word(static_cast<unsigned>(item.cx));
            w.word(static_cast<unsigned>(item.cy));
            if (extended)
                w.dword(item.id);
            else
                w.word(item.id);
            if (item.classAtom) {
                w.word(0xFFFF);
                w.word(item.classAtom);
            } else {
                w.string(item.className);
            }
            if (item.titleOrdinal) {
                w.word(0xFFFF);
                w.word(item.titleOrdinal);
            } else {
                w.string(item.text);
            }
            w.word(0); // no creation data
        }
        return w.bytes;
    }
};

// What a dialog procedure was sent, and how it answers: by default it ends the dialog on IDOK
// and IDCANCEL and lets every other message go to the default processing.
struct Probe {
    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<Message> messages;
    std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> handler;
    HWND dialog = nullptr;
    LPARAM initParam = 0;

    std::vector<Message> of(UINT message) const {
        std::vector<Message> out;
        for (const Message& m : messages) {
            if (m.message == message)
                out.push_back(m);
        }
        return out;
    }
    std::vector<WPARAM> commands() const {
        std::vector<WPARAM> out;
        for (const Message& m : of(WM_COMMAND))
            out.push_back(m.wParam);
        return out;
    }
};

inline INT_PTR CALLBACK probeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG)
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    Probe* probe = reinterpret_cast<Probe*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!probe)
        return FALSE;
    if (message == WM_INITDIALOG) {
        probe->dialog = dialog;
        probe->initParam = lParam;
    }
    probe->messages.push_back({message, wParam, lParam});
    if (probe->handler)
        return probe->handler(dialog, message, wParam, lParam);
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

// Runs a dialog from the template with the probe as its procedure.
inline INT_PTR run(const Template& t, Probe* probe, HWND parent = nullptr) {
    std::vector<BYTE> bytes = t.build();
    std::string error;
    INT_PTR r = sim::dialogBoxFromBytes(nullptr, bytes.data(), bytes.size(), parent, probeProc,
                                        reinterpret_cast<LPARAM>(probe), &error);
    EXPECT_EQ("", error);
    return r;
}

inline void expectOk(const sim::UiResult& r) {
    EXPECT_TRUE(r.ok) << r.error;
}

class UiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::shell().reset();
        sim::ui().reset();
    }
    void TearDown() override {
        sim::finishFace();
        sim::ui().reset();
        sim::shell().reset();
    }
    // Queues a step that runs on the top dialog at the next idle turn.
    void step(std::function<void()> f) { sim::ui().queueStep(f); }
    HWND top() const { return sim::ui().topDialog(); }
    sim::ControlInfo control(int id) const {
        SCOPED_TRACE("control " + std::to_string(id));
        sim::ControlInfo info;
        EXPECT_TRUE(sim::ui().findControl(top(), id, &info));
        return info;
    }
};

} // namespace simui_test
