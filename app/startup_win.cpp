// StartUp and TearDown: every long-lived block is allocated once, zero-filled,
// before the main dialog opens, and released after it has ended.
#include "app/app_win.h"
#include "app/recovery_win.h"

#include "codecs/gif_decoder.h"
#include "codecs/jpeg_decoder.h"

#include <new>

App g_app;

namespace {

void* ZeroBlock(size_t bytes) {
    return GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, bytes);
}

template <typename T> void Release(T*& block) {
    if (block) GlobalFree(static_cast<HGLOBAL>(static_cast<void*>(block)));
    block = nullptr;
}

void ReleaseWorker(LoaderWorker*& w) {
    if (!w) return;
    Release(w->buffers.fileBuffer);
    Release(w->buffers.decodeBuffer);
    Release(w->gifState);
    Release(w->jpegDecoder);
    delete w;
    w = nullptr;
}

FrameImage* BlackPicture() {
    auto* f = static_cast<FrameImage*>(ZeroBlock(sizeof(FrameImage)));
    if (f) InitFrameHeader(kFrameSide, kFrameSide, f->bytes);
    return f;
}

} // namespace

DecoderSet AppDecoders() {
    DecoderSet d;
    d.buffers = &g_app.loadBuffers;
    d.gif = g_app.gifState;
    d.jpeg = g_app.jpegDecoder;
    return d;
}

bool StartUp(HINSTANCE instance) {
    App& a = g_app;
    a.instance = instance;
    a.IncludeFiles = 0;
    a.RootList = nullptr;
    if (FAILED(SHGetDesktopFolder(&a.desktopFolder))) a.desktopFolder = nullptr;
    if (FAILED(CoGetMalloc(1, &a.shellMalloc))) a.shellMalloc = nullptr;

    a.DisplayNameBuffer = static_cast<char*>(ZeroBlock(kPathBytes));
    a.FolderPath = static_cast<char*>(ZeroBlock(kPathBytes));
    a.NameTable = static_cast<char*>(ZeroBlock(kNameSlots * kPathBytes));
    a.NameCount = 0;
    a.loadBuffers.LoaderStopFlag = 0;
    a.loadBuffers.LoaderBusyFlag = 0;
    a.gifState = static_cast<GifState*>(ZeroBlock(kGifStateBytes));
    a.loadBuffers.fileBuffer = static_cast<uint8_t*>(ZeroBlock(kFileBufferSize));
    a.loadBuffers.readPosition = 0;
    a.loadBuffers.dataLength = 0;
    a.loadBuffers.decodeBuffer = static_cast<uint8_t*>(ZeroBlock(kDecodeBufferSize));
    a.loadBuffers.raster = RasterDescriptor{};
    a.jpegDecoder = static_cast<JpegDecoder*>(ZeroBlock(kJpegDecoderBytes));

    bool ok = a.DisplayNameBuffer && a.FolderPath && a.NameTable && a.gifState &&
              a.loadBuffers.fileBuffer && a.loadBuffers.decodeBuffer && a.jpegDecoder;
    for (int i = 0; i < kHistorySlots; ++i) {
        a.historyBlocks[i] = static_cast<FrameImage*>(ZeroBlock(sizeof(FrameImage)));
        ok = ok && a.historyBlocks[i];
    }
    if (ok) InitHistoryRing(a.history, a.historyBlocks);

    a.BackgroundImage = BlackPicture();
    a.BackgroundPath = static_cast<char*>(ZeroBlock(kPathBytes));
    a.WorkImage = BlackPicture();
    a.BlendPercent = 0;
    a.FrameArtImage = BlackPicture();
    a.FrameArtPath = static_cast<char*>(ZeroBlock(kPathBytes));
    ok = ok && a.BackgroundImage && a.BackgroundPath && a.WorkImage && a.FrameArtImage &&
         a.FrameArtPath;
    for (int i = 0; i < kAlbumCapacity; ++i) {
        a.albumBlocks[i] = static_cast<FrameImage*>(ZeroBlock(sizeof(FrameImage)));
        ok = ok && a.albumBlocks[i];
    }
    if (ok) InitAlbumStore(a.album, a.albumBlocks);
    return ok;
}

int MakeLoaderWorkers(int count) {
    App& a = g_app;
    int made = 0;
    for (LoaderWorker*& w : a.loaderWorkers) {
        if (made >= count) break;
        if (!w) {
            LoaderWorker* fresh = new (std::nothrow) LoaderWorker;
            if (!fresh) break;
            fresh->buffers.fileBuffer = static_cast<uint8_t*>(ZeroBlock(kFileBufferSize));
            fresh->buffers.decodeBuffer = static_cast<uint8_t*>(ZeroBlock(kDecodeBufferSize));
            fresh->gifState = static_cast<GifState*>(ZeroBlock(kGifStateBytes));
            fresh->jpegDecoder = static_cast<JpegDecoder*>(ZeroBlock(kJpegDecoderBytes));
            if (!fresh->buffers.fileBuffer || !fresh->buffers.decodeBuffer || !fresh->gifState ||
                !fresh->jpegDecoder) {
                ReleaseWorker(fresh);
                break;
            }
            w = fresh;
        }
        ++made;
    }
    return made;
}

void TearDown() {
    // A store the close route did not delete stays for the next start.
    LeaveRecoveryAlbum();
    App& a = g_app;
    if (a.RootList && a.shellMalloc) a.shellMalloc->Free(a.RootList);
    a.RootList = nullptr;
    if (a.shellMalloc) a.shellMalloc->Release();
    a.shellMalloc = nullptr;
    if (a.desktopFolder) a.desktopFolder->Release();
    a.desktopFolder = nullptr;
    Release(a.DisplayNameBuffer);
    Release(a.FolderPath);
    Release(a.NameTable);
    Release(a.gifState);
    Release(a.loadBuffers.fileBuffer);
    Release(a.loadBuffers.decodeBuffer);
    a.loadBuffers.raster = RasterDescriptor{};
    Release(a.jpegDecoder);
    for (LoaderWorker*& w : a.loaderWorkers)
        ReleaseWorker(w);
    for (int i = 0; i < kHistorySlots; ++i) {
        Release(a.historyBlocks[i]);
        a.history.slot[i] = nullptr;
    }
    Release(a.BackgroundImage);
    Release(a.BackgroundPath);
    Release(a.WorkImage);
    Release(a.FrameArtImage);
    Release(a.FrameArtPath);
    if (a.folderImages) ImageList_Destroy(a.folderImages);
    a.folderImages = nullptr;
    if (a.albumImages) ImageList_Destroy(a.albumImages);
    a.albumImages = nullptr;
    for (int i = 0; i < kAlbumCapacity; ++i)
        Release(a.albumBlocks[i]);
    a.album = AlbumStore{};
}

bool NothingAllocated() {
    const App& a = g_app;
    bool none = !a.shellMalloc && !a.desktopFolder && !a.DisplayNameBuffer && !a.FolderPath &&
                !a.NameTable && !a.gifState && !a.loadBuffers.fileBuffer &&
                !a.loadBuffers.decodeBuffer && !a.jpegDecoder && !a.BackgroundImage &&
                !a.BackgroundPath && !a.WorkImage && !a.FrameArtImage && !a.FrameArtPath &&
                !a.folderImages && !a.albumImages;
    for (int i = 0; i < kHistorySlots; ++i)
        none = none && !a.historyBlocks[i];
    for (int i = 0; i < kAlbumCapacity; ++i)
        none = none && !a.albumBlocks[i];
    for (const LoaderWorker* w : a.loaderWorkers)
        none = none && !w;
    return none;
}
