#include "app_win32/ConnectorIcons_win32.h"

#include <initializer_list>

namespace tallyport::desktop {
namespace {

// Draws the connector on a 16-unit grid scaled to `size`: a cable from the left, the plug's
// body and its two pins; crossed out, two red strokes over it. `ink` and `cross` are the
// brushes/pens' colours (the mask draws everything in black).
void DrawConnector(HDC dc, int size, COLORREF ink, bool crossed, COLORREF cross) {
    const auto at = [size](int unit) { return unit * size / 16; };
    HBRUSH body = ::CreateSolidBrush(ink);
    const RECT parts[] = {
        {at(0), at(7), at(4), at(9)},     // cable
        {at(4), at(4), at(10), at(12)},   // body
        {at(10), at(5), at(15), at(7)},   // upper pin
        {at(10), at(9), at(15), at(11)},  // lower pin
    };
    for (const RECT& part : parts) {
        ::FillRect(dc, &part, body);
    }
    ::DeleteObject(body);
    if (crossed) {
        HPEN pen = ::CreatePen(PS_SOLID, size >= 32 ? 4 : 2, cross);
        HGDIOBJ old = ::SelectObject(dc, pen);
        ::MoveToEx(dc, at(1), at(1), nullptr);
        ::LineTo(dc, at(15), at(15));
        ::MoveToEx(dc, at(15), at(1), nullptr);
        ::LineTo(dc, at(1), at(15));
        ::SelectObject(dc, old);
        ::DeleteObject(pen);
    }
}

HICON MakeIcon(ConnectorImage image, int size) {
    const bool crossed = image == kImageDisconnected;
    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    // The colour image on black (what the mask leaves transparent must be black).
    HBITMAP color = ::CreateCompatibleBitmap(screen, size, size);
    HGDIOBJ old = ::SelectObject(dc, color);
    const RECT all{0, 0, size, size};
    ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    DrawConnector(dc, size, RGB(0x1E, 0x5A, 0xC8), crossed, RGB(0xD0, 0x10, 0x10));
    // The mask: white (transparent) everywhere but the drawing, which is black.
    HBITMAP mask = ::CreateBitmap(size, size, 1, 1, nullptr);
    ::SelectObject(dc, mask);
    ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    DrawConnector(dc, size, RGB(0, 0, 0), crossed, RGB(0, 0, 0));
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    ::ReleaseDC(nullptr, screen);

    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask;
    info.hbmColor = color;
    HICON icon = ::CreateIconIndirect(&info);
    ::DeleteObject(mask);
    ::DeleteObject(color);
    return icon;
}

}  // namespace

ConnectorIcons::ConnectorIcons()
    : small_{MakeIcon(kImageConnected, 16), MakeIcon(kImageDisconnected, 16)},
      large_{MakeIcon(kImageConnected, 32), MakeIcon(kImageDisconnected, 32)} {}

ConnectorIcons::~ConnectorIcons() {
    for (HICON icon : {small_[0], small_[1], large_[0], large_[1]}) {
        ::DestroyIcon(icon);
    }
}

}  // namespace tallyport::desktop
