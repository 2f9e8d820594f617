// gdi32 of the simulated PC: fonts, brushes, stock objects, and device contexts whose drawing is
// recorded for tests and the faces instead of being rasterised.
#include "window_manager.h"

#include <map>

namespace sim {
namespace wm {
namespace {

struct DcState {
    HWND window = nullptr;
    COLORREF textColor = 0x00000000;
    COLORREF bkColor = 0x00FFFFFF;
    int bkMode = OPAQUE;
    HFONT font = nullptr;
    HBRUSH brush = nullptr;
};

struct GdiState {
    std::map<uintptr_t, GdiObjectInfo> objects; // created fonts and brushes
    std::map<uintptr_t, DcState> dcs;
    std::vector<PaintOp> log;
};

GdiState& gdi() {
    static GdiState state;
    return state;
}

// Stock objects and system-colour brushes have fixed handles outside the range of created ones.
const uintptr_t kStockBase = 0x7f00;
const uintptr_t kSysBrushBase = 0x7e00;
const int kStockCount = 18;
const int kSysColorCount = 31;

uintptr_t key(const void* handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

bool isStock(uintptr_t h) {
    return h >= kStockBase && h < kStockBase + kStockCount * 4 && (h - kStockBase) % 4 == 0;
}
bool isSysBrush(uintptr_t h) {
    return h >= kSysBrushBase && h < kSysBrushBase + kSysColorCount * 4 &&
           (h - kSysBrushBase) % 4 == 0;
}

DcState* dcOf(HDC dc) {
    auto it = gdi().dcs.find(key(dc));
    return it == gdi().dcs.end() ? nullptr : &it->second;
}

} // namespace

HDC beginPaintDc(Window* window) {
    HDC dc = reinterpret_cast<HDC>(newHandle());
    DcState state;
    state.window = window->handle;
    state.font = window->font;
    state.brush = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    gdi().dcs[key(dc)] = state;
    return dc;
}

void endPaintDc(HDC dc) {
    gdi().dcs.erase(key(dc));
}

HFONT fontOfDc(HDC dc) {
    DcState* state = dcOf(dc);
    return state ? state->font : nullptr;
}

HWND windowOfDc(HDC dc) {
    DcState* state = dcOf(dc);
    return state ? state->window : nullptr;
}

void recordOp(HDC dc, PaintOp op) {
    DcState* state = dcOf(dc);
    if (!state)
        return;
    op.dc = dc;
    op.window = state->window;
    op.textColor = state->textColor;
    op.bkColor = state->bkColor;
    op.bkMode = state->bkMode;
    op.font = state->font;
    gdi().log.push_back(op);
    if (Window* w = find(state->window)) {
        if (op.kind == PaintOp::BeginPaint)
            w->lastPaint.clear();
        w->lastPaint.push_back(op);
    }
}

const std::vector<PaintOp>& paintLogRef() {
    return gdi().log;
}
void clearPaintLogRef() {
    gdi().log.clear();
}

void resetGdi() {
    gdi().objects.clear();
    gdi().dcs.clear();
    gdi().log.clear();
}

} // namespace wm

GdiObjectInfo gdiObjectInfo(HGDIOBJ object) {
    uintptr_t h = wm::key(object);
    GdiObjectInfo info;
    if (wm::isStock(h)) {
        int index = static_cast<int>((h - wm::kStockBase) / 4);
        info.stock = true;
        static const COLORREF brushColours[] = {0x00FFFFFF, 0x00C0C0C0, 0x00808080,
                                                0x00404040, 0x00000000, 0};
        if (index <= NULL_BRUSH) {
            info.kind = GdiObjectInfo::Brush;
            info.colour = brushColours[index];
            info.hollow = index == NULL_BRUSH;
        } else if (index <= NULL_PEN) {
            info.kind = GdiObjectInfo::Pen;
        } else {
            info.kind = GdiObjectInfo::Font;
            info.face = "System";
            info.height = 16;
            info.weight = FW_BOLD;
        }
        return info;
    }
    if (wm::isSysBrush(h)) {
        info.kind = GdiObjectInfo::Brush;
        info.stock = true;
        info.colour = GetSysColor(static_cast<int>((h - wm::kSysBrushBase) / 4));
        return info;
    }
    auto it = wm::gdi().objects.find(h);
    return it == wm::gdi().objects.end() ? info : it->second;
}

int liveGdiObjects() {
    return static_cast<int>(wm::gdi().objects.size());
}

const char* paintOpName(PaintOp::Kind kind) {
    static const char* const names[] = {"BeginPaint", "EndPaint",     "SetBkColor", "SetTextColor",
                                        "SetBkMode",  "SelectObject", "ExtTextOut", "DrawText",
                                        "DrawIcon",   "FillRect"};
    return names[kind];
}

} // namespace sim

using sim::GdiObjectInfo;
using sim::PaintOp;
using namespace sim::wm;

HFONT WINAPI CreateFontA(int height, int width, int escapement, int orientation, int weight,
                         DWORD italic, DWORD underline, DWORD strikeOut, DWORD charSet,
                         DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                         DWORD pitchAndFamily, LPCSTR faceName) {
    (void)width, (void)escapement, (void)orientation, (void)italic, (void)underline;
    (void)strikeOut, (void)charSet, (void)outPrecision, (void)clipPrecision, (void)quality;
    GdiObjectInfo info;
    info.kind = GdiObjectInfo::Font;
    info.height = height;
    info.weight = weight;
    info.pitchAndFamily = static_cast<int>(pitchAndFamily);
    info.face = faceName ? faceName : "";
    HFONT font = reinterpret_cast<HFONT>(newHandle());
    gdi().objects[key(font)] = info;
    return font;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF colour) {
    GdiObjectInfo info;
    info.kind = GdiObjectInfo::Brush;
    info.colour = colour & 0x00FFFFFF;
    HBRUSH brush = reinterpret_cast<HBRUSH>(newHandle());
    gdi().objects[key(brush)] = info;
    return brush;
}

// Stock objects are never deleted; Windows reports success for them all the same.
BOOL WINAPI DeleteObject(HGDIOBJ object) {
    uintptr_t h = key(object);
    if (isStock(h) || isSysBrush(h))
        return TRUE;
    return gdi().objects.erase(h) ? TRUE : FALSE;
}

HGDIOBJ WINAPI GetStockObject(int index) {
    if (index < 0 || index >= kStockCount || index == 9 || index == 15)
        return nullptr;
    return reinterpret_cast<HGDIOBJ>(kStockBase + static_cast<uintptr_t>(index) * 4);
}

HBRUSH WINAPI GetSysColorBrush(int index) {
    if (index < 0 || index >= kSysColorCount)
        return nullptr;
    return reinterpret_cast<HBRUSH>(kSysBrushBase + static_cast<uintptr_t>(index) * 4);
}

// The classic Windows scheme (the one Windows 98 shipped with).
DWORD WINAPI GetSysColor(int index) {
    switch (index) {
    case COLOR_BACKGROUND:
        return 0x00808000;
    case COLOR_ACTIVECAPTION:
    case COLOR_HIGHLIGHT:
        return 0x00800000;
    case COLOR_INACTIVECAPTION:
    case COLOR_BTNSHADOW:
    case COLOR_GRAYTEXT:
        return 0x00808080;
    case COLOR_WINDOW:
    case COLOR_CAPTIONTEXT:
    case COLOR_HIGHLIGHTTEXT:
        return 0x00FFFFFF;
    case COLOR_MENU:
    case COLOR_BTNFACE:
    case COLOR_SCROLLBAR:
        return 0x00C0C0C0;
    default:
        return 0x00000000;
    }
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    DcState* state = dcOf(dc);
    GdiObjectInfo info = sim::gdiObjectInfo(object);
    if (!state || info.kind == GdiObjectInfo::None)
        return nullptr;
    HGDIOBJ previous = nullptr;
    if (info.kind == GdiObjectInfo::Font) {
        previous = state->font;
        state->font = static_cast<HFONT>(object);
    } else if (info.kind == GdiObjectInfo::Brush) {
        previous = state->brush;
        state->brush = static_cast<HBRUSH>(object);
    } else {
        previous = GetStockObject(BLACK_PEN);
    }
    PaintOp op;
    op.kind = PaintOp::SelectObject;
    op.object = object;
    recordOp(dc, op);
    if (!previous)
        previous = GetStockObject(SYSTEM_FONT);
    return previous;
}

namespace {

// Sets one of the DC's colours, records the change and gives the previous colour back.
COLORREF setColour(HDC dc, COLORREF DcState::*field, PaintOp::Kind kind, COLORREF colour) {
    DcState* state = dcOf(dc);
    if (!state)
        return CLR_INVALID;
    COLORREF previous = state->*field;
    state->*field = colour;
    PaintOp op;
    op.kind = kind;
    op.colour = colour;
    recordOp(dc, op);
    return previous;
}

} // namespace

COLORREF WINAPI SetTextColor(HDC dc, COLORREF colour) {
    return setColour(dc, &DcState::textColor, PaintOp::SetTextColor, colour);
}

COLORREF WINAPI GetTextColor(HDC dc) {
    DcState* state = dcOf(dc);
    return state ? state->textColor : CLR_INVALID;
}

COLORREF WINAPI SetBkColor(HDC dc, COLORREF colour) {
    return setColour(dc, &DcState::bkColor, PaintOp::SetBkColor, colour);
}

COLORREF WINAPI GetBkColor(HDC dc) {
    DcState* state = dcOf(dc);
    return state ? state->bkColor : CLR_INVALID;
}

int WINAPI SetBkMode(HDC dc, int mode) {
    DcState* state = dcOf(dc);
    if (!state || (mode != TRANSPARENT && mode != OPAQUE))
        return 0;
    int previous = state->bkMode;
    state->bkMode = mode;
    PaintOp op;
    op.kind = PaintOp::SetBkMode;
    op.mode = mode;
    recordOp(dc, op);
    return previous;
}

int WINAPI GetBkMode(HDC dc) {
    DcState* state = dcOf(dc);
    return state ? state->bkMode : 0;
}

BOOL WINAPI ExtTextOutA(HDC dc, int x, int y, UINT options, const RECT* rect, LPCSTR text,
                        UINT count, const INT* dx) {
    (void)dx;
    if (!dcOf(dc) || (count && !text))
        return FALSE;
    PaintOp op;
    op.kind = PaintOp::ExtTextOut;
    op.x = x;
    op.y = y;
    op.options = options;
    if (rect) {
        op.hasRect = true;
        op.rect = *rect;
    }
    if (count)
        op.text.assign(text, count);
    recordOp(dc, op);
    return TRUE;
}

int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    if (!dcOf(dc) || !rect || sim::gdiObjectInfo(brush).kind != GdiObjectInfo::Brush)
        return 0;
    PaintOp op;
    op.kind = PaintOp::FillRect;
    op.hasRect = true;
    op.rect = *rect;
    op.brush = brush;
    recordOp(dc, op);
    return 1;
}

BOOL WINAPI DrawIcon(HDC dc, int x, int y, HICON icon) {
    if (!dcOf(dc) || !icon)
        return FALSE;
    PaintOp op;
    op.kind = PaintOp::DrawIcon;
    op.x = x;
    op.y = y;
    op.icon = icon;
    recordOp(dc, op);
    return TRUE;
}
