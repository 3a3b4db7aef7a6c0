// LoadPicture: decode by extension, fit into the block, paint into the window.
#include "app/app_win.h"
#include "codecs/load_picture.h"

int LoadPicture(const char* path, HWND window, FrameImage& block) {
    DecoderSet decoders = AppDecoders();
    if (!LoadPictureIntoFrame(decoders, path, block)) return 0;
    PaintFrameImage(window, block);
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
    return 1;
}
