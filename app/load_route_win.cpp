// Loading a picture file with the user's fit options: a folder list item as
// a new history state, or a tool's picture into its block.
#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "app/browser_win.h"
#include "codecs/decode_failure.h"
#include "fit/fit_options.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

void TellCouldNotRead(HWND owner, const char* path) {
    std::string text = CouldNotReadMessage(path, LastDecodeFailure());
    MessageBoxA(owner, text.c_str(), "Pixmora", MB_OK | MB_ICONWARNING);
}

int LoadPicture(const char* path, HWND window, FrameImage& block) {
    DecoderSet decoders = AppDecoders();
    ClearDecodeFailure();
    if (!HasOwnRaster(LoadForFrame(decoders, path, CurrentSettings().fit, block))) {
        TellCouldNotRead(GetAncestor(window, GA_ROOT), path);
        return 0;
    }
    PaintFrameImage(window, block);
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
    return 1;
}

void LoadFolderItem(int item) {
    App& a = g_app;
    if (item < 0 || item >= a.NameCount || item >= kNameSlots) return;
    char path[kPathBytes];
    const char* name = a.NameTable + static_cast<size_t>(item) * kPathBytes;
    if (!JoinFolderAndName(a.FolderPath, name, path)) return; // it would not fit a path
    // The picture is fitted aside first: only a file that gives one becomes a state.
    std::unique_ptr<FrameImage> loaded(new (std::nothrow) FrameImage);
    if (!loaded) {
        DecodeFail("out of memory");
        TellCouldNotRead(a.mainDialog, path);
        return;
    }
    StopLoader(true);
    DecoderSet decoders = AppDecoders();
    ClearDecodeFailure();
    // A large picture takes a moment to decode and fit: the wait cursor says so.
    HCURSOR before = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514))); // IDC_WAIT
    const DecodeOutcome outcome = LoadForFrame(decoders, path, CurrentSettings().fit, *loaded);
    SetCursor(before);
    // A file refused before it had a raster of its own changes nothing: the
    // raster still holds the previous file, which must not become a state.
    if (!HasOwnRaster(outcome)) {
        TellCouldNotRead(a.mainDialog, path);
        return;
    }
    ShowAsNewState(*loaded);
}

void ShowAsNewState(const FrameImage& picture) {
    App& a = g_app;
    DropRedo(a.history);
    PushState(a.history);
    std::memcpy(CurrentPicture(a.history).bytes, picture.bytes,
                kFrameHeaderBytes + kFramePixelBytes);
    PaintFrameImage(a.PreviewPane, CurrentPicture(a.history));
    InvalidateRect(a.PreviewPane, nullptr, TRUE);
    InvalidateRect(a.mainDialog, nullptr, TRUE);
    SetUndoRedoButtons(1, 0);
}
