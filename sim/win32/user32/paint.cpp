// The paint cycle of the simulated PC's windows: what is invalid gets WM_PAINT, bottom dialog
// first, and the user32 functions around it (InvalidateRect, UpdateWindow, BeginPaint, GetDC).
#include "window_manager.h"

#include <cstring>

namespace sim {
namespace wm {

void invalidate(Window* window) {
    window->needsPaint = true;
    for (HWND child : window->children) {
        if (Window* c = find(child))
            c->needsPaint = true;
    }
}

void paintWindow(Window* window) {
    HWND handle = window->handle;
    if (window->needsPaint && !window->painting) {
        window->painting = true;
        sendMessage(window, WM_PAINT, 0, 0);
        window = find(handle);
        if (!window)
            return;
        window->painting = false;
        window->needsPaint = false;
    }
    if (!window->isDialog || window->iconic)
        return;
    for (HWND child : std::vector<HWND>(window->children)) {
        Window* c = find(child);
        if (c && c->needsPaint && (c->style & WS_VISIBLE))
            paintWindow(c);
    }
}

// Paints what is invalid, bottom dialog first, as Windows does when the queue runs empty.
void paintPending() {
    for (HWND h : std::vector<HWND>(modalStack())) {
        if (Window* w = find(h))
            paintWindow(w);
    }
}

} // namespace wm
} // namespace sim

using namespace sim::wm;
using sim::wm::Window;

BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
    (void)rect, (void)erase;
    Window* w = find(window);
    if (!w)
        return FALSE;
    invalidate(w);
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND window) {
    Window* w = find(window);
    if (!w)
        return FALSE;
    paintWindow(w);
    return TRUE;
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    Window* w = find(window);
    if (!w || !paint)
        return nullptr;
    std::memset(paint, 0, sizeof(*paint));
    HDC dc = beginPaintDc(w);
    sim::PaintOp op;
    op.kind = sim::PaintOp::BeginPaint;
    recordOp(dc, op);
    paint->hdc = dc;
    GetClientRect(window, &paint->rcPaint);
    // The background is erased before the window draws; fErase tells whether nobody did it.
    // Dialogs have no class icon, so a minimised one gets WM_ERASEBKGND too, as on Windows.
    paint->fErase = sendMessage(w, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) ? FALSE : TRUE;
    w = find(window);
    if (w)
        w->needsPaint = false;
    return dc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint) {
    if (!paint || windowOfDc(paint->hdc) != window || !window)
        return FALSE;
    sim::PaintOp op;
    op.kind = sim::PaintOp::EndPaint;
    recordOp(paint->hdc, op);
    endPaintDc(paint->hdc);
    return TRUE;
}

HDC WINAPI GetDC(HWND window) {
    Window* w = find(window);
    return w ? beginPaintDc(w) : nullptr;
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
    if (!dc || windowOfDc(dc) != window)
        return 0;
    endPaintDc(dc);
    return 1;
}
