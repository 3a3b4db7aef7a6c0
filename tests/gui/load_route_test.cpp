// A click in the folder list loads the picture as a new history state.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "app/browser_win.h"
#include "export/bmp_writer.h"
#include "resources/resource.h"
#include "tests/gui/gui_harness.h"

namespace {

std::string TempFolder() {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string folder = std::string(dir) + "pixmora_gui_load\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

// A 128 x 128 picture: left half red, right half blue.
void WriteTwoColourBmp(const std::string& path) {
    FrameImage f{};
    InitFrameHeader(128, 128, f.bytes);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            uint8_t* p = f.Row(y) + 3 * x;
            p[0] = x < 64 ? 0 : 255;
            p[1] = 0;
            p[2] = x < 64 ? 255 : 0;
        }
    ASSERT_EQ(WriteBmpFile(path.c_str(), f), 1);
}

// What a folder scan leaves behind: the folder path, the names, the items.
void ListFiles(HWND dialog, const std::string& folder, const char* const* names, int count) {
    // The tree's first item was scanned at start; let that loader finish
    // before the folder data is written over.
    DWORD end = GetTickCount() + 20000;
    while (g_app.loadBuffers.LoaderBusyFlag != 0 && GetTickCount() < end)
        Pump(50);
    ASSERT_EQ(g_app.loadBuffers.LoaderBusyFlag.load(), 0);
    SendMessageA(GetDlgItem(dialog, IDC_FOLDER_LIST), LVM_DELETEALLITEMS, 0, 0);
    std::strcpy(g_app.FolderPath, folder.c_str());
    HWND list = GetDlgItem(dialog, IDC_FOLDER_LIST);
    for (int i = 0; i < count; ++i) {
        std::strcpy(g_app.NameTable + i * kPathBytes, names[i]);
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<char*>(names[i]);
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    g_app.NameCount = count;
}

void Select(HWND dialog, int index) {
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(GetDlgItem(dialog, IDC_FOLDER_LIST), LVM_SETITEMSTATE, index,
                 reinterpret_cast<LPARAM>(&state));
}

TEST(LoadRoute, SelectingAFileLoadsItAsANewState) {
    std::string folder = TempFolder();
    WriteTwoColourBmp(folder + "two.bmp");
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        const char* names[] = {"two.bmp", "missing.bmp"};
        ListFiles(dialog, folder, names, 2);
        int headBefore = g_app.history.head;
        Select(dialog, 0);
        Pump(300);
        HWND pane = GetDlgItem(dialog, IDC_PREVIEW);
        EXPECT_EQ(g_app.history.head, (headBefore + 1) % kHistorySlots);
        EXPECT_EQ(g_app.history.valid[g_app.history.head], 1);
        EXPECT_EQ(ScreenPixelBecomes(pane, 10, 64, RGB(255, 0, 0)), RGB(255, 0, 0));
        EXPECT_EQ(ScreenPixelBecomes(pane, 100, 64, RGB(0, 0, 255)), RGB(0, 0, 255));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_UNDO)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_REDO)));
        // The loader was stopped and its flag lowered again for the next decode.
        EXPECT_EQ(g_app.loadBuffers.LoaderStopFlag.load(), 0);
        SaveScreenshot(dialog, "main_dialog_loaded");

        // A file that cannot be read is named with its reason and changes
        // nothing: no state, the previous picture stays on screen.
        std::string told;
        OnNextDialog([&](HWND box) {
            told = MessageText(box);
            SendMessageA(box, WM_COMMAND, IDOK, 0);
        });
        Select(dialog, 1);
        Pump(200);
        EXPECT_EQ(told, "Could not read missing.bmp: cannot open the file.");
        EXPECT_EQ(g_app.history.head, (headBefore + 1) % kHistorySlots);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_UNDO)));
        EXPECT_EQ(ScreenPixelBecomes(pane, 100, 64, RGB(0, 0, 255)), RGB(0, 0, 255));
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
    DeleteFileA((folder + "two.bmp").c_str());
    RemoveDirectoryA(folder.c_str());
}

// A 256 x 128 picture: the left quarter red, the middle half green, the
// right quarter blue.
void WriteWideBmp(const std::string& path) {
    std::vector<uint8_t> b(54 + 256 * 3 * 128, 0);
    const uint32_t header[] = {0, 0, 54, 40, 256, 128};
    std::memcpy(b.data() + 2, header, sizeof header);
    b[0] = 'B', b[1] = 'M', b[26] = 1, b[28] = 24;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 256; ++x) {
            uint8_t* p = b.data() + 54 + (y * 256 + x) * 3;
            p[0] = x >= 192 ? 255 : 0;
            p[1] = x >= 64 && x < 192 ? 255 : 0;
            p[2] = x < 64 ? 255 : 0;
        }
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
    std::fclose(f);
}

COLORREF WorkingPixel(int x, int y) { // y from the top
    const uint8_t* p = CurrentPicture(g_app.history).Row(y) + 3 * x;
    return RGB(p[2], p[1], p[0]);
}

TEST(LoadRoute, TheFitChosenShapesEveryLaterLoad) {
    std::string folder = TempFolder();
    WriteWideBmp(folder + "wide.bmp");
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        const char* names[] = {"wide.bmp"};
        ListFiles(dialog, folder, names, 1);
        FitOptions fit;
        fit.mode = FitMode::kFill;
        ChangeFitOptions(fit);
        Select(dialog, 0);
        // Its centre 128 x 128: all green.
        for (int x : {0, 64, 127})
            EXPECT_EQ(WorkingPixel(x, 64), RGB(0, 255, 0)) << x;

        fit.mode = FitMode::kInside;
        ChangeFitOptions(fit);
        const int head = g_app.history.head;
        LoadFolderItem(0); // the menu's "Load": the same item again
        EXPECT_EQ(g_app.history.head, (head + 1) % kHistorySlots);
        // The whole picture in a band of rows 32..95, black above and below.
        EXPECT_EQ(WorkingPixel(0, 31), RGB(0, 0, 0));
        EXPECT_EQ(WorkingPixel(0, 32), RGB(255, 0, 0));
        EXPECT_EQ(WorkingPixel(64, 64), RGB(0, 255, 0));
        EXPECT_EQ(WorkingPixel(127, 95), RGB(0, 0, 255));
        EXPECT_EQ(WorkingPixel(127, 96), RGB(0, 0, 0));
        ChangeFitOptions(FitOptions{});
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
    DeleteFileA((folder + "wide.bmp").c_str());
    RemoveDirectoryA(folder.c_str());
}

} // namespace
