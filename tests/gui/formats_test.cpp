// Folders of real JPEG and GIF pictures (from the decoder corpus beside the
// project) fill with thumbnails, and a click shows the picture; PNG files and
// JPEG files named .jpeg are listed and load as well.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "fit/fit_options.h"
#include "resources/resource.h"
#include "tests/gui/gui_harness.h"
#include "tests/unit/png_builder.h"
#include "tests/unit/test_support.h"

namespace {

std::string CorpusPath(const std::string& relative) {
    std::string path = std::string(PIXMORA_SOURCE_DIR) + "/../shared/corpus/" + relative;
    for (char& c : path)
        if (c == '/') c = '\\';
    if (path[0] == '\\') path = "Z:" + path;
    return path;
}

// A fresh temporary folder holding copies of the given corpus files; "" when
// the corpus is not there.
std::string FolderOf(const char* name, const std::vector<std::string>& files) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string folder = std::string(temp) + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    int n = 0;
    for (const std::string& f : files) {
        std::string from = CorpusPath(f);
        std::string to =
            folder + "\\" + std::to_string(n++) + "_" + f.substr(f.find_last_of('/') + 1);
        if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) return "";
    }
    return folder;
}

void RemoveFolder(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do
            DeleteFileA((folder + "\\" + found.cFileName).c_str());
        while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(folder.c_str());
}

bool WaitForLoader() {
    DWORD end = GetTickCount() + 30000;
    Pump(300);
    while (g_app.loadBuffers.LoaderBusyFlag != 0 && GetTickCount() < end)
        Pump(50);
    return g_app.loadBuffers.LoaderBusyFlag == 0;
}

// A thumbnail that the loader drew is not all white: the picture is in it.
bool ThumbnailDrawn(int image) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, kThumbWidth, kThumbHeight);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, canvas);
    ImageList_Draw(g_app.folderImages, image, dc, 0, 0, ILD_NORMAL);
    int coloured = 0;
    for (int y = 4; y < 68; y += 4)
        for (int x = 4; x < 76; x += 4)
            if (GetPixel(dc, x, y) != RGB(255, 255, 255)) ++coloured;
    SelectObject(dc, old);
    DeleteObject(canvas);
    DeleteDC(dc);
    return coloured > 20;
}

void ShowFolderAndClick(const char* name, const std::vector<std::string>& files, const char* shot) {
    std::string folder = FolderOf(name, files);
    if (folder.empty()) GTEST_SKIP() << "the decoder corpus is not beside the project";
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        ASSERT_TRUE(WaitForLoader()); // the scan of the tree's first item at start
        ScanFolder(folder.c_str());
        ASSERT_TRUE(WaitForLoader());
        HWND list = GetDlgItem(main, IDC_FOLDER_LIST);
        ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), static_cast<LRESULT>(files.size()));
        for (size_t i = 0; i < files.size(); ++i)
            EXPECT_TRUE(ThumbnailDrawn(static_cast<int>(i))) << files[i];
        int head = g_app.history.head;
        LVITEMA state = {};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
        Pump(200);
        EXPECT_EQ(g_app.history.head, (head + 1) % kHistorySlots);
        // The preview shows a picture, not the black start picture.
        const FrameImage& shown = CurrentPicture(g_app.history);
        int lit = 0;
        for (int i = 0; i < kFramePixelBytes; i += 97)
            lit += shown.Pixels()[i] != 0;
        EXPECT_GT(lit, 50);
        InvalidateRect(main, nullptr, TRUE);
        UpdateWindow(main);
        Pump(300);
        SaveScreenshot(main, shot);
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
    RemoveFolder(folder);
}

TEST(PictureFolders, JpegPhotosFillWithThumbnailsAndAClickShowsOne) {
    ShowFolderAndClick("pixmora_gui_jpeg",
                       {"jpeg/image-rs/progressive-cat.jpg", "jpeg/pillow/rgb.jpg",
                        "jpeg/derived/prog-420-rst.jpg", "jpeg/derived/seq-422.jpg"},
                       "main_dialog_jpeg_folder");
}

TEST(PictureFolders, GifPicturesFillWithThumbnailsAndAClickShowsOne) {
    ShowFolderAndClick("pixmora_gui_gif",
                       {"gif/wuffs/hippopotamus.interlaced.gif", "gif/giflib/porsche.gif",
                        "gif/pillow/hopper.gif"},
                       "main_dialog_gif_folder");
}

// What the core's load of `path` gives with the program's fit choices.
std::unique_ptr<FrameImage> CoreLoad(const std::string& path) {
    OwnedLoadBuffers owned;
    std::vector<uint8_t> gif(kGifStateBytes), jpeg(kJpegDecoderBytes);
    DecoderSet set;
    set.buffers = &owned.buffers;
    set.gif = reinterpret_cast<GifState*>(gif.data());
    set.jpeg = reinterpret_cast<JpegDecoder*>(jpeg.data());
    std::unique_ptr<FrameImage> block(new FrameImage{});
    EXPECT_EQ(LoadForFrame(set, path.c_str(), CurrentSettings().fit, *block), DecodeOutcome::kComplete);
    return block;
}

TEST(PictureFolders, APngAndAJpegNamedJpegAreListedAndAClickShowsEach) {
    const std::string folder = FreshTempFolder("pixmora_gui_png");
    pngtest::PngFields png; // 64 x 32: the left half red, the right half blue
    png.width = 64;
    png.height = 32;
    for (int i = 0; i < 64 * 32; ++i)
        png.samples.insert(png.samples.end(), {uint16_t(i % 64 < 32 ? 255 : 0), 0, uint16_t(i % 64 < 32 ? 0 : 255)});
    const pngtest::Bytes file = pngtest::Build(png);
    FILE* f = std::fopen((folder + "\\shot.png").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    const std::string jpeg = folder + "\\photo.jpeg";
    ASSERT_TRUE(CopyFileA(NativePath(std::string(PIXMORA_SOURCE_DIR) + "/tests/data/jpeg/synth-420.jpg").c_str(),
                          jpeg.c_str(), FALSE));
    const std::unique_ptr<FrameImage> expected = CoreLoad(jpeg);
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        ASSERT_TRUE(WaitForLoader());
        ScanFolder(folder.c_str());
        ASSERT_TRUE(WaitForLoader());
        HWND list = GetDlgItem(main, IDC_FOLDER_LIST);
        ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 2);
        for (int i = 0; i < 2; ++i) {
            const std::string name = g_app.NameTable + static_cast<size_t>(i) * kPathBytes;
            EXPECT_TRUE(ThumbnailDrawn(i)) << name;
            const int head = g_app.history.head;
            LVITEMA state = {};
            state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageA(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
            Pump(200);
            ASSERT_EQ(g_app.history.head, (head + 1) % kHistorySlots) << name;
            const FrameImage& shown = CurrentPicture(g_app.history);
            if (name == "shot.png") {
                EXPECT_EQ(std::memcmp(shown.Row(64) + 3 * 10, "\0\0\xFF", 3), 0) << "red on the left";
                EXPECT_EQ(std::memcmp(shown.Row(64) + 3 * 100, "\xFF\0\0", 3), 0) << "blue on the right";
            } else {
                EXPECT_EQ(name, "photo.jpeg");
                EXPECT_EQ(std::memcmp(shown.bytes, expected->bytes, kFrameHeaderBytes + kFramePixelBytes), 0);
            }
        }
        SaveScreenshot(main, "main_dialog_png_folder");
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
    RemoveFolderTree(folder);
}

} // namespace
