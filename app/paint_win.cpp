// Painting pictures: a cell of white with a picture stretched into it (the
// preview, both lists' thumbnails), and the preview painted 1:1 at the
// top-left of its window through that cell, so the window gets the whole
// picture in one BitBlt.
#include "app/app_win.h"

HBITMAP PaintCell(HWND window, int32_t width, int32_t height, const ThumbnailRect& place,
                  const CellPicture& picture, bool framed) {
    HDC screen = GetDC(window);
    if (!screen) return nullptr;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(window, screen);
    if (!memory || !bitmap) {
        if (bitmap) DeleteObject(bitmap);
        if (memory) DeleteDC(memory);
        return nullptr;
    }
    HGDIOBJ old = SelectObject(memory, bitmap);
    const RECT cell = {0, 0, width, height};
    HBRUSH white = CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));
    FillRect(memory, &cell, white);
    DeleteObject(white);
    SetStretchBltMode(memory, COLORONCOLOR);
    StretchDIBits(memory, place.x0, place.y0, place.w, place.h, 0, 0, picture.width, picture.height,
                  picture.pixels, static_cast<const BITMAPINFO*>(picture.info), DIB_RGB_COLORS,
                  SRCCOPY);
    if (framed) {
        HBRUSH grey = CreateSolidBrush(RGB(0xC0, 0xC0, 0xC0));
        FrameRect(memory, &cell, grey);
        DeleteObject(grey);
    }
    // Whoever takes the bitmap (an image list, a BitBlt) needs it out of our DC.
    SelectObject(memory, old);
    DeleteDC(memory);
    return bitmap;
}

HBITMAP PaintThumbnailCell(HWND window, const CellPicture& picture) {
    return PaintCell(window, kThumbWidth, kThumbHeight,
                     FitThumbnailRect(picture.width, picture.height), picture, true);
}

int PaintFrameImage(HWND window, const FrameImage& block) {
    // The source rectangle is always 128 x 128, whatever the header says.
    const CellPicture picture = {block.bytes, block.Pixels(), kFrameSide, kFrameSide};
    const ThumbnailRect all = {0, 0, kFrameSide, kFrameSide};
    HBITMAP bitmap = PaintCell(window, kFrameSide, kFrameSide, all, picture, false);
    if (!bitmap) return 1;
    HDC dc = GetDC(window);
    HDC memory = dc ? CreateCompatibleDC(dc) : nullptr;
    if (memory) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(dc, 0, 0, kFrameSide, kFrameSide, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    if (dc) ReleaseDC(window, dc);
    DeleteObject(bitmap);
    return 1;
}
