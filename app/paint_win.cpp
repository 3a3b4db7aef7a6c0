// Painting a picture block 1:1 at the top-left of a window, through an
// off-screen bitmap so the window gets the whole picture in one BitBlt.
#include "app/app_win.h"

int PaintFrameImage(HWND window, const FrameImage& block) {
    HDC dc = GetDC(window);
    if (!dc) return 1;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, kFrameSide, kFrameSide);
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
        RECT all = {0, 0, kFrameSide, kFrameSide};
        FillRect(memory, &all, white);
        SetStretchBltMode(memory, COLORONCOLOR);
        // The source rectangle is always 128 x 128, whatever the header says.
        StretchDIBits(memory, 0, 0, kFrameSide, kFrameSide, 0, 0, kFrameSide, kFrameSide,
                      block.Pixels(), reinterpret_cast<const BITMAPINFO*>(block.bytes),
                      DIB_RGB_COLORS, SRCCOPY);
        BitBlt(dc, 0, 0, kFrameSide, kFrameSide, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteObject(white);
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(window, dc);
    return 1;
}
