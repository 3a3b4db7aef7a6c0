// LoadPicture: decode by extension, fit into the block, paint into the window.
#include "app/app_win.h"
#include "codecs/decode_failure.h"
#include "codecs/load_picture.h"

#include <string>

void TellCouldNotRead(HWND owner, const char* path) {
    std::string text = CouldNotReadMessage(path, LastDecodeFailure());
    MessageBoxA(owner, text.c_str(), "Pixmora", MB_OK | MB_ICONWARNING);
}

int LoadPicture(const char* path, HWND window, FrameImage& block) {
    DecoderSet decoders = AppDecoders();
    ClearDecodeFailure();
    if (!LoadPictureIntoFrame(decoders, path, block)) {
        TellCouldNotRead(GetAncestor(window, GA_ROOT), path);
        return 0;
    }
    PaintFrameImage(window, block);
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
    return 1;
}
