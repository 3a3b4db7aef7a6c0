// The program's single instances of every long-lived buffer and window
// handle. Allocated by StartUp, released by TearDown (app/startup_win.cpp).
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <cstdint>

#include "picture/frame_image.h"
#include "picture/history.h"
#include "codecs/load_buffers.h"
#include "codecs/picture_decoders.h"
#include "export/album.h"
#include "browser/scan_rules.h"

// One more decoder for the thumbnail loader, beside the one that works in
// the shared loadBuffers: its own buffers and work records (app/startup_win.cpp).
struct LoaderWorker {
    LoadBuffers buffers;
    GifState* gifState = nullptr;
    JpegDecoder* jpegDecoder = nullptr;
};
// The loader decodes with at most this many decoders at once: one per core,
// the first in the shared buffers. Each other one holds 120 MB of buffers,
// so a 32-bit program with many cores does not run out of address space.
constexpr int kMaxLoaderDecoders = 4;

struct App {
    HINSTANCE instance = nullptr;

    // Shell
    IShellFolder* desktopFolder = nullptr;
    IMalloc* shellMalloc = nullptr;
    LPITEMIDLIST RootList = nullptr;
    int32_t IncludeFiles = 0;

    // Folder browser
    char* DisplayNameBuffer = nullptr; // kPathBytes
    char* FolderPath = nullptr;        // kPathBytes, ends in a backslash
    char* NameTable = nullptr;         // kNameSlots x kPathBytes
    int32_t NameCount = 0;

    // Decoders
    LoadBuffers loadBuffers; // FileBuffer, DecodeBuffer, loader flags
    GifState* gifState = nullptr;
    JpegDecoder* jpegDecoder = nullptr;
    // The loader's other decoders, made at the first folder scan (one per
    // core beyond the first) and released by TearDown.
    LoaderWorker* loaderWorkers[kMaxLoaderDecoders - 1] = {};

    // Pictures
    FrameImage* historyBlocks[kHistorySlots] = {};
    HistoryRing history;
    FrameImage* BackgroundImage = nullptr;
    char* BackgroundPath = nullptr;
    FrameImage* WorkImage = nullptr;
    int32_t BlendPercent = 0;
    FrameImage* FrameArtImage = nullptr;
    char* FrameArtPath = nullptr;
    FrameImage* albumBlocks[kAlbumCapacity] = {};
    AlbumStore album; // references into albumBlocks, in list order

    // Main dialog
    HWND mainDialog = nullptr;
    HWND FolderTree = nullptr;
    HWND FolderList = nullptr;
    HWND AlbumList = nullptr;
    HWND PreviewPane = nullptr;
    HIMAGELIST folderImages = nullptr;
    HIMAGELIST albumImages = nullptr;
};

extern App g_app;

DecoderSet AppDecoders();

// Start-up and tear-down. StartUp returns false when a block could not be
// had; TearDown releases whatever exists and may run after a failed StartUp.
bool StartUp(HINSTANCE instance);
// Makes the thumbnail loader's other decoders, up to `count` of them, unless
// they are there already (only while no loader runs); returns how many there
// are. Fewer when memory runs short: the loader then uses fewer cores.
int MakeLoaderWorkers(int count);
void TearDown();
// True when nothing StartUp allocated is left (tests check the release).
bool NothingAllocated();

// Main dialog (app/main_dialog_win.cpp)
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void SetUndoRedoButtons(int undo, int redo);
void AfterEdit();
// Opens a tool dialog modally; refused while one is open (ToolDialogOpen).
void OpenToolDialog(int templateId);
bool ToolDialogOpen();

// Painting (app/paint_win.cpp)
int PaintFrameImage(HWND window, const FrameImage& block);

// A picture as the cell painters take it: a BITMAPINFO (header and palette),
// its pixels, and the width x height source rectangle drawn from (0, 0).
struct CellPicture {
    const void* info = nullptr;
    const void* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
};
// A new width x height bitmap compatible with `window`'s screen: white, the
// picture stretched into `place`, and with `framed` a grey one-pixel frame
// around the whole cell. nullptr when GDI has no room for it.
HBITMAP PaintCell(HWND window, int32_t width, int32_t height, const ThumbnailRect& place,
                  const CellPicture& picture, bool framed);
// A list's 80 x 72 thumbnail: the picture fitted into the cell, framed.
HBITMAP PaintThumbnailCell(HWND window, const CellPicture& picture);

// Loading a picture file into a block and painting it into a window. A file
// refused before it gave a raster of its own leaves the block as it was and
// is reported to the user ("Could not read NAME: REASON."); 0 then.
int LoadPicture(const char* path, HWND window, FrameImage& block);
void TellCouldNotRead(HWND owner, const char* path);

// Zero-fills a file dialog record (open or save) and sets its size, owner and
// instance. The size is the Windows 2000 layout: 76 bytes in the 32-bit
// program (tools/tool_frame_win.cpp).
void PrepareOpenFileName(OPENFILENAMEA& ofn, HWND owner);
