// Folders of real JPEG and GIF pictures (from the decoder corpus beside the
// project) fill with thumbnails, and a click shows the picture.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "resources/resource.h"
#include "tests/gui/gui_harness.h"

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

} // namespace
