// The album list and the two save commands, driven through the main dialog:
// UpLoad, insert after the current item, Delete, Delete All, DownLoad, Save
// BMP through the real save dialog and Save All through the folder browser.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "export/export_lock.h"
#include "export/folder_files.h"
#include "export/save_all.h"
#include "resources/resource.h"
#include "tests/gui/gui_harness.h"
#include "tests/unit/test_support.h"

namespace {

FrameImage Uniform(uint8_t r, uint8_t g, uint8_t b) {
    FrameImage f{};
    InitFrameHeader(128, 128, f.bytes);
    for (int i = 0; i < kFramePixelBytes; i += 3) {
        f.Pixels()[i] = b;
        f.Pixels()[i + 1] = g;
        f.Pixels()[i + 2] = r;
    }
    return f;
}

void PushPicture(const FrameImage& picture) {
    DropRedo(g_app.history);
    PushState(g_app.history);
    CopyFrameImage(CurrentPicture(g_app.history), picture);
    AfterEdit();
}

void Click(HWND dialog, int id) {
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

HWND Album(HWND main) {
    return GetDlgItem(main, IDC_ALBUM_LIST);
}

int ItemCount(HWND main) {
    return static_cast<int>(SendMessageA(Album(main), LVM_GETITEMCOUNT, 0, 0));
}

std::string Label(HWND main, int i) {
    char text[32] = "";
    LVITEMA item = {};
    item.iSubItem = 0;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(Album(main), LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
    return text;
}

void ClickItem(HWND main, int i) {
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(Album(main), LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
}

int SelectedCount(HWND main) {
    return static_cast<int>(SendMessageA(Album(main), LVM_GETSELECTEDCOUNT, 0, 0));
}

// Red byte of album picture i (every test picture is uniform).
int AlbumRed(int i) {
    return AlbumPicture(g_app.album, i).Pixels()[2];
}

// Pixel (x, y) of thumbnail `image`, drawn from the image list.
COLORREF ThumbPixel(int image, int x, int y) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, kThumbWidth, kThumbHeight);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, canvas);
    COLORREF c = CLR_INVALID;
    if (ImageList_Draw(g_app.albumImages, image, dc, 0, 0, ILD_NORMAL)) c = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteObject(canvas);
    DeleteDC(dc);
    return c;
}

std::string TempFolder(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string folder = std::string(dir) + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

TEST(Album, UploadInsertDeleteAndDeleteAll) {
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        for (uint8_t red : {10, 20, 30}) {
            PushPicture(Uniform(red, 0, 0));
            Click(main, IDC_UPLOAD);
        }
        ASSERT_EQ(ItemCount(main), 3);
        EXPECT_EQ(Label(main, 0), "1");
        EXPECT_EQ(Label(main, 2), "3");
        // Each upload was appended selected, so upload inserts after it; the
        // last one is selected now.
        EXPECT_EQ(AlbumRed(0), 10);
        EXPECT_EQ(AlbumRed(2), 30);
        // Thumbnails: 72 x 72 at (4, 0) on white, grey frame around the cell.
        EXPECT_EQ(ThumbPixel(0, 40, 36), RGB(10, 0, 0));
        EXPECT_EQ(ThumbPixel(0, 2, 36), RGB(255, 255, 255));
        EXPECT_EQ(ThumbPixel(0, 0, 36), RGB(0xC0, 0xC0, 0xC0));
        EXPECT_EQ(ThumbPixel(0, 40, 0), RGB(0xC0, 0xC0, 0xC0));
        EXPECT_EQ(ThumbPixel(0, 76, 36), RGB(255, 255, 255));

        // Item "2" clicked: the new picture goes third, the old third is "4".
        ClickItem(main, 1);
        PushPicture(Uniform(99, 0, 0));
        Click(main, IDC_UPLOAD);
        ASSERT_EQ(ItemCount(main), 4);
        EXPECT_EQ(AlbumRed(2), 99);
        EXPECT_EQ(AlbumRed(3), 30);
        EXPECT_EQ(Label(main, 3), "4");
        EXPECT_EQ(ThumbPixel(2, 40, 36), RGB(99, 0, 0));
        EXPECT_EQ(SelectedCount(main), 0);
        // With nothing selected the next upload appends.
        PushPicture(Uniform(77, 0, 0));
        Click(main, IDC_UPLOAD);
        ASSERT_EQ(ItemCount(main), 5);
        EXPECT_EQ(AlbumRed(4), 77);

        // Delete item "1": the others move up and are renumbered.
        ClickItem(main, 0);
        Click(main, IDC_DELETE);
        ASSERT_EQ(ItemCount(main), 4);
        EXPECT_EQ(AlbumRed(0), 20);
        EXPECT_EQ(Label(main, 0), "1");
        EXPECT_EQ(ThumbPixel(0, 40, 36), RGB(20, 0, 0));
        // Delete without a current item does nothing.
        Click(main, IDC_DELETE);
        EXPECT_EQ(ItemCount(main), 4);
        UpdateWindow(main);
        Pump(150);
        SaveScreenshot(main, "main_dialog_album");

        std::string asked;
        OnNextDialog([&](HWND box) {
            asked = MessageText(box);
            SendMessageA(box, WM_COMMAND, IDYES, 0);
        });
        Click(main, IDC_DELETE_ALL);
        EXPECT_EQ(asked, "Delete all 4 pictures from the album?");
        EXPECT_EQ(ItemCount(main), 0);
        EXPECT_EQ(ImageList_GetImageCount(g_app.albumImages), 0);
        Click(main, IDC_UPLOAD);
        ASSERT_EQ(ItemCount(main), 1);
        EXPECT_EQ(Label(main, 0), "1");
        CloseAnyway(main);
    }));
    TearDown();
}

TEST(Album, DownloadMakesTheAlbumPictureANewState) {
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        PushPicture(Uniform(1, 2, 3));
        Click(main, IDC_UPLOAD);
        PushPicture(Uniform(4, 5, 6));
        Click(main, IDC_UPLOAD);
        PushPicture(Uniform(7, 8, 9));
        SendMessageA(Album(main), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), [] {
            static LVITEMA none = {};
            none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            return reinterpret_cast<LPARAM>(&none);
        }());
        int head = g_app.history.head;
        Click(main, IDC_DOWNLOAD); // no current item: nothing
        EXPECT_EQ(g_app.history.head, head);
        ClickItem(main, 0);
        Click(main, IDC_DOWNLOAD);
        EXPECT_EQ(g_app.history.head, (head + 1) % kHistorySlots);
        EXPECT_EQ(CurrentPicture(g_app.history).Pixels()[2], 1);
        EXPECT_EQ(ItemCount(main), 2);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main, IDC_UNDO)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, IDC_REDO)));
        CloseAnyway(main);
    }));
    TearDown();
}

TEST(Album, DeleteAndDownloadActOnTheItemTheUserSeesSelected) {
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        for (uint8_t red : {10, 20, 30}) {
            PushPicture(Uniform(red, 0, 0));
            Click(main, IDC_UPLOAD);
        }
        // The last upload is selected and focused: Delete removes it.
        Click(main, IDC_DELETE);
        ASSERT_EQ(ItemCount(main), 2);
        EXPECT_EQ(AlbumRed(1), 20);
        // Item "2" selected, the focus moved to "1" without selecting it.
        ClickItem(main, 1);
        LVITEMA focus = {};
        focus.stateMask = LVIS_FOCUSED;
        focus.state = LVIS_FOCUSED;
        SendMessageA(Album(main), LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&focus));
        Click(main, IDC_DOWNLOAD);
        EXPECT_EQ(CurrentPicture(g_app.history).Pixels()[2], 20);
        Click(main, IDC_DELETE);
        ASSERT_EQ(ItemCount(main), 1);
        EXPECT_EQ(AlbumRed(0), 10);
        CloseAnyway(main);
    }));
    TearDown();
}

TEST(Album, ClosingAndDeleteAllAskBeforeUnsavedPicturesAreLost) {
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        for (uint8_t red : {10, 20}) {
            PushPicture(Uniform(red, 0, 0));
            Click(main, IDC_UPLOAD);
        }
        std::string asked;
        auto answer = [&](int id) {
            OnNextDialog([&asked, id](HWND box) {
                asked = MessageText(box);
                SendMessageA(box, WM_COMMAND, id, 0);
            });
        };
        answer(IDNO);
        SendMessageA(main, WM_CLOSE, 0, 0);
        EXPECT_EQ(asked, "The album holds 2 pictures that have not been saved with Save All. "
                         "Close Pixmora anyway?");
        EXPECT_TRUE(IsWindowVisible(main)) << "No keeps the program open";
        asked.clear();
        answer(IDNO);
        Click(main, IDC_DELETE_ALL);
        EXPECT_EQ(asked, "Delete all 2 pictures from the album?");
        EXPECT_EQ(ItemCount(main), 2);
        asked.clear();
        answer(IDYES);
        Click(main, IDCANCEL);
        EXPECT_NE(asked.find("holds 2 pictures"), std::string::npos);
    }));
    EXPECT_FALSE(HarnessHadToClose());
    TearDown();
}

TEST(Album, KeysInTheAlbumListAndTheEditingKeysNeverEndTheProgram) {
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        for (uint8_t red : {10, 20, 30}) {
            PushPicture(Uniform(red, 0, 0));
            Click(main, IDC_UPLOAD);
        }
        HWND album = Album(main);
        // Enter: DownLoad of the selected item, the last upload.
        ClickItem(main, 1);
        PressKey(album, VK_RETURN);
        EXPECT_TRUE(IsWindowVisible(main));
        EXPECT_EQ(CurrentPicture(g_app.history).Pixels()[2], 20);
        // Delete: the selected item goes.
        PressKey(album, VK_DELETE);
        ASSERT_EQ(ItemCount(main), 2);
        EXPECT_EQ(AlbumRed(1), 30);

        // Ctrl+Z undoes, Ctrl+Y and Ctrl+Shift+Z redo, each only while its
        // button is enabled; Z alone is no command.
        const int head = g_app.history.head;
        auto cursorBack = [&] {
            return (head - g_app.history.cursor + kHistorySlots) % kHistorySlots;
        };
        PressKey(album, 'Z');
        EXPECT_EQ(cursorBack(), 0);
        PressKey(album, 'Y', true);
        EXPECT_EQ(cursorBack(), 0) << "nothing to redo";
        PressKey(album, 'Z', true);
        PressKey(album, 'Z', true);
        EXPECT_EQ(cursorBack(), 2);
        EXPECT_EQ(CursorPicture(g_app.history).Pixels()[2], 20);
        PressKey(album, 'Y', true);
        EXPECT_EQ(cursorBack(), 1);
        PressKey(album, 'Z', true, true);
        EXPECT_EQ(cursorBack(), 0);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, IDC_REDO)));

        // Ctrl+S: Save BMP's dialog.
        bool saveAsked = false;
        OnNextDialog([&](HWND save) {
            saveAsked = WindowText(save) == "Save BMP";
            SendMessageA(save, WM_COMMAND, IDCANCEL, 0);
        });
        PressKey(album, 'S', true);
        EXPECT_TRUE(saveAsked);

        // Esc is the close, with its question; No keeps everything.
        std::string asked;
        OnNextDialog([&](HWND box) {
            asked = MessageText(box);
            SendMessageA(box, WM_COMMAND, IDNO, 0);
        });
        PressKey(album, VK_ESCAPE);
        EXPECT_NE(asked.find("holds 2 pictures"), std::string::npos) << asked;
        EXPECT_TRUE(IsWindowVisible(main));
        EXPECT_EQ(ItemCount(main), 2);
        CloseAnyway(main);
    }));
    EXPECT_FALSE(HarnessHadToClose());
    TearDown();
}

TEST(SaveBmp, TheSaveDialogNameGetsTheExtensionAndTheFileIsWritten) {
    std::string folder = TempFolder("pixmora_gui_savebmp");
    std::string chosen = folder + "\\picture";
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        PushPicture(Uniform(200, 100, 50));
        PushPicture(Uniform(1, 1, 1));
        Click(main, IDC_UNDO); // Save BMP saves the picture the Undo shows
        bool asked = false;
        OnNextDialog([&](HWND save) {
            asked = true;
            SetWindowTextA(GetDlgItem(save, 1148), chosen.c_str());
            SendMessageA(GetDlgItem(save, IDOK), BM_CLICK, 0, 0);
        });
        Click(main, IDC_SAVE_BMP);
        EXPECT_TRUE(asked);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, IDC_REDO)));
        EXPECT_EQ(g_app.history.head, g_app.history.cursor);
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
    std::vector<uint8_t> file = ReadFile(chosen + ".BMP");
    ASSERT_EQ(file.size(), 49206u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(static_cast<uint8_t>(file[54]), 50);  // blue
    EXPECT_EQ(static_cast<uint8_t>(file[56]), 200); // red
    DeleteFileA((chosen + ".BMP").c_str());
    RemoveDirectoryA(folder.c_str());
}

// Types `name` into the save dialog and presses its OK.
std::function<void(HWND)> TypeName(const std::string& name) {
    return [name](HWND save) {
        SetWindowTextA(GetDlgItem(save, 1148), name.c_str());
        SendMessageA(GetDlgItem(save, IDOK), BM_CLICK, 0, 0);
    };
}

TEST(SaveBmp, ARefusedNameIsExplainedAndAnExistingFileIsOnlyReplacedWhenConfirmed) {
    std::string folder = TempFolder("pixmora_gui_savebmp2");
    std::string kept = folder + "\\kept.BMP";
    FILE* f = std::fopen(kept.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fputs("old", f);
    std::fclose(f);
    // No room left for ".BMP" within 259 characters.
    std::string tooLong = folder + "\\" + std::string(257 - folder.size(), 'n');
    ASSERT_EQ(tooLong.size(), 258u);
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        PushPicture(Uniform(200, 100, 50));
        std::string told;
        OnNextDialog([&](HWND save) {
            OnNextDialog([&](HWND box) {
                told = MessageText(box);
                SendMessageA(box, WM_COMMAND, IDOK, 0);
            });
            TypeName(tooLong)(save);
        });
        Click(main, IDC_SAVE_BMP);
        Pump(100);
        EXPECT_EQ(told, "Could not save " + tooLong + ": the name is too long to add \".BMP\".");

        // "kept" becomes kept.BMP, which exists: asked, No keeps the file.
        for (const char* typed : {"kept", "kept.BMP"}) {
            std::string asked;
            OnNextDialog([&](HWND save) {
                OnNextDialog([&](HWND box) {
                    asked = MessageText(box);
                    SendMessageA(box, WM_COMMAND, IDNO, 0);
                    // The system's own question leaves the save dialog open.
                    Pump(200);
                    if (IsWindow(save)) SendMessageA(save, WM_COMMAND, IDCANCEL, 0);
                });
                TypeName(folder + "\\" + typed)(save);
            });
            Click(main, IDC_SAVE_BMP);
            Pump(100);
            EXPECT_NE(asked.find("already exists"), std::string::npos) << typed << ": " << asked;
        }
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
    std::vector<uint8_t> file = ReadFile(kept);
    EXPECT_EQ(std::string(file.begin(), file.end()), "old");
    DeleteFileA(kept.c_str());
    RemoveDirectoryA(folder.c_str());
}

// Chooses `folder` in Save All's folder browser, then hands each message box
// that follows to `box` (which answers it) until none comes for 1.5 s.
void SaveAllInto(HWND main, const std::string& folder,
                 const std::function<void(HWND box, const std::string& text)>& box) {
    bool asked = false;
    std::function<void(HWND)> answer = [&](HWND shown) {
        OnNextDialog(answer, 1500);
        box(shown, MessageText(shown));
    };
    const std::string leaf = folder.substr(folder.rfind('\\') + 1);
    OnNextDialog(
        [&](HWND browser) {
            asked = true;
            // The browser fills its tree after it appears: select until the
            // folder is the tree's current item.
            HWND tree = GetDlgItem(browser, 14145);
            for (int tries = 0; tries < 30; ++tries) {
                SendMessageA(browser, BFFM_SETSELECTIONA, TRUE,
                             reinterpret_cast<LPARAM>(folder.c_str()));
                Pump(100);
                char text[MAX_PATH] = "";
                TVITEMA item = {};
                item.mask = TVIF_TEXT;
                item.hItem =
                    reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
                item.pszText = text;
                item.cchTextMax = sizeof text;
                if (item.hItem &&
                    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)) &&
                    leaf == text)
                    break;
            }
            OnNextDialog(answer, 5000);
            SendMessageA(GetDlgItem(browser, IDOK), BM_CLICK, 0, 0);
        },
        kShellDialogMs);
    Click(main, IDC_SAVE_ALL);
    EXPECT_TRUE(asked);
    OnNextDialog(nullptr);
    // The X server's focus events of the closed boxes come late; a popup
    // menu shown before they are in would be cancelled by them.
    Pump(500);
}

void WriteText(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f) << path;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// A picture an earlier Save All wrote: a 128 x 128 JPEG.
std::string OlderPicture(uint8_t red) {
    std::vector<uint8_t> jpeg;
    EXPECT_EQ(EncodeSaveAllPicture(Uniform(red, 1, 2), jpeg), SaveAllFailure::kNone);
    return std::string(jpeg.begin(), jpeg.end());
}

// What Save All shows on the progress bar 1034: each position it is set to,
// and whether the wait cursor was up at every step past 0.
struct ProgressSeen {
    std::vector<int> positions;
    bool waitCursor = true;
};
ProgressSeen g_progress;
WNDPROC g_barProc = nullptr;

LRESULT CALLBACK RecordingBar(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS) {
        g_progress.positions.push_back(static_cast<int>(wParam));
        if (wParam > 0 && GetCursor() != LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)))
            g_progress.waitCursor = false;
    }
    return CallWindowProcA(g_barProc, bar, message, wParam, lParam);
}

TEST(SaveAll, TheFolderBrowserExportsNumberedJpegFilesTheSameTwice) {
    std::string folder = TempFolder("pixmora_gui_saveall");
    // An earlier, bigger export left 3.jpg and 7.JPG; other files stay.
    WriteText(folder + "\\3.jpg", OlderPicture(3));
    WriteText(folder + "\\7.JPG", OlderPicture(7));
    WriteText(folder + "\\notes.txt", "old");
    std::vector<std::string> told;
    int barWhileTold = -1;
    auto answerYes = [&](HWND box, const std::string& text) {
        told.push_back(text);
        if (told.size() == 1)
            barWhileTold = static_cast<int>(
                SendMessageA(GetDlgItem(g_app.mainDialog, IDC_PROGRESS), PBM_GETPOS, 0, 0));
        SendMessageA(box, WM_COMMAND, GetDlgItem(box, IDYES) ? IDYES : IDOK, 0);
    };
    std::vector<std::vector<uint8_t>> first;
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        for (uint8_t red : {0, 128, 255}) {
            PushPicture(Uniform(red, 64, 32));
            Click(main, IDC_UPLOAD);
        }
        HWND bar = GetDlgItem(main, IDC_PROGRESS);
        g_progress = ProgressSeen();
        g_barProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingBar)));
        SaveAllInto(main, folder, answerYes);
        SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_barProc));
        ASSERT_EQ(told.size(), 2u);
        EXPECT_EQ(told[0], "Saved 3 pictures to " + folder + ".");
        // The box's text read back in the ANSI code page.
        char ellipsis[8] = "";
        WideCharToMultiByte(CP_ACP, 0, L"\u2026", 1, ellipsis, sizeof ellipsis - 1, nullptr,
                            nullptr);
        EXPECT_EQ(told[1],
                  folder + " also holds 2 older pictures (3.jpg " + ellipsis +
                      " 7.JPG) that the frame would show after the new ones. Delete them?");
        // Stepped per picture over 0 .. N with the wait cursor; full while
        // the closing message shows, cleared after it.
        EXPECT_EQ(g_progress.positions, (std::vector<int>{0, 1, 2, 3, 0}));
        EXPECT_TRUE(g_progress.waitCursor);
        EXPECT_EQ(barWhileTold, 3);
        EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 3);
        EXPECT_NE(GetCursor(), LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));
        for (int i = 0; i < 3; ++i)
            first.push_back(ReadFile(folder + "\\" + std::to_string(i) + ".jpg"));
        told.clear();
        SaveAllInto(main, folder, answerYes);
        EXPECT_EQ(told.size(), 1u) << "no older pictures left to offer";
        // Saved: the close does not ask.
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    EXPECT_FALSE(HarnessHadToClose());
    TearDown();
    for (int i = 0; i < 3; ++i) {
        std::string path = folder + "\\" + std::to_string(i) + ".jpg";
        std::vector<uint8_t> again = ReadFile(path);
        ASSERT_GT(first[i].size(), 600u) << path;
        EXPECT_EQ(static_cast<uint8_t>(first[i][0]), 0xFF);
        EXPECT_EQ(static_cast<uint8_t>(first[i][1]), 0xD8);
        EXPECT_EQ(again, first[i]) << path;
        DeleteFileA(path.c_str());
    }
    EXPECT_TRUE(ReadFile(folder + "\\3.jpg").empty());
    EXPECT_TRUE(ReadFile(folder + "\\7.JPG").empty());
    EXPECT_EQ(ReadFile(folder + "\\notes.txt").size(), 3u);
    DeleteFileA((folder + "\\notes.txt").c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST(SaveAll, AFailureNamesTheFileAndLeavesTheFolderAsItWasAndTheAlbumUnsaved) {
    std::string folder = TempFolder("pixmora_gui_saveall_fails");
    // A folder called 1.jpg cannot be replaced by the second picture.
    const std::string older = OlderPicture(0);
    WriteText(folder + "\\0.jpg", older);
    CreateDirectoryA((folder + "\\1.jpg").c_str(), nullptr);
    std::vector<std::string> told;
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        for (uint8_t red : {10, 20, 30}) {
            PushPicture(Uniform(red, 0, 0));
            Click(main, IDC_UPLOAD);
        }
        SaveAllInto(main, folder, [&](HWND box, const std::string& text) {
            told.push_back(text);
            SendMessageA(box, WM_COMMAND, IDOK, 0);
        });
        EXPECT_EQ(SendMessageA(GetDlgItem(main, IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);
        std::string asked;
        OnNextDialog([&](HWND box) {
            asked = MessageText(box);
            SendMessageA(box, WM_COMMAND, IDYES, 0);
        });
        SendMessageA(main, WM_CLOSE, 0, 0);
        EXPECT_NE(asked.find("holds 3 pictures"), std::string::npos) << "still unsaved";
    }));
    EXPECT_FALSE(HarnessHadToClose());
    TearDown();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "Could not save " + folder +
                           "\\1.jpg: the file of that name cannot be replaced. The folder was "
                           "left as it was.");
    EXPECT_EQ(ReadFile(folder + "\\0.jpg"), std::vector<uint8_t>(older.begin(), older.end()));
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
    int entries = 0;
    if (h != INVALID_HANDLE_VALUE) {
        do
            ++entries;
        while (FindNextFileA(h, &found));
        FindClose(h);
    }
    EXPECT_EQ(entries, 4) << ". .. 0.jpg 1.jpg and nothing else";
    DeleteFileA((folder + "\\0.jpg").c_str());
    RemoveDirectoryA((folder + "\\1.jpg").c_str());
    RemoveDirectoryA(folder.c_str());
}

// The folder's files, "." and ".." left out, in name order.
std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    ListFolder(folder, names);
    std::sort(names.begin(), names.end());
    return names;
}

std::string EmptyTempFolder(const char* name) {
    const std::string folder = TempFolder(name);
    RemoveFolderTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

TEST(SaveAll, TheUsersOwnFilesAreReplacedOnlyWhenTheUserSaysSo) {
    const std::string folder = EmptyTempFolder("pixmora_gui_saveall_own");
    const std::string older = OlderPicture(9), photo = "a camera's photo";
    WriteText(folder + "\\0.jpg", older);
    WriteText(folder + "\\1.jpg", photo);
    std::vector<std::string> told;
    auto answer = [&](int button) {
        return [&told, button](HWND box, const std::string& text) {
            told.push_back(text);
            SendMessageA(box, WM_COMMAND, GetDlgItem(box, button) ? button : IDOK, 0);
        };
    };
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        for (uint8_t red : {40, 50}) {
            PushPicture(Uniform(red, 0, 0));
            Click(main, IDC_UPLOAD);
        }
        SaveAllInto(main, folder, answer(IDNO));
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0], folder + " holds a file that is not a 128 x 128 picture: 1.jpg. Save "
                                    "All would replace it with an album picture. Replace it?");
        EXPECT_EQ(ReadFile(folder + "\\1.jpg"), std::vector<uint8_t>(photo.begin(), photo.end()));
        EXPECT_EQ(ReadFile(folder + "\\0.jpg"), std::vector<uint8_t>(older.begin(), older.end()));
        EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{"0.jpg", "1.jpg"}));
        EXPECT_EQ(AlbumUnsavedPictures(g_app.album), 2) << "nothing was saved";
        told.clear();
        SaveAllInto(main, folder, answer(IDYES));
        ASSERT_EQ(told.size(), 2u);
        EXPECT_EQ(told[1], "Saved 2 pictures to " + folder + ".");
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    EXPECT_FALSE(HarnessHadToClose());
    TearDown();
    std::vector<uint8_t> second;
    EncodeSaveAllPicture(Uniform(50, 0, 0), second);
    EXPECT_EQ(ReadFile(folder + "\\1.jpg"), second);
    EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{"0.jpg", "1.jpg"}));
    RemoveFolderTree(folder);
}

struct ChildTextSearch {
    const std::wstring* text;
    bool found;
};

BOOL CALLBACK MatchChildText(HWND child, LPARAM data) {
    auto* s = reinterpret_cast<ChildTextSearch*>(data);
    wchar_t seen[512] = L"";
    InternalGetWindowText(child, seen, 512);
    if (*s->text == seen && IsWindowVisible(child)) s->found = true;
    return !s->found;
}

// The window text of a child of `parent` that reads `text`, found without
// sending the dialog thread a message (it is busy waiting).
bool HasChildText(HWND parent, const std::wstring& text) {
    ChildTextSearch search{&text, false};
    EnumChildWindows(parent, MatchChildText, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

TEST(SaveAll, ASecondExportIntoTheFolderWaitsSayingSoOnTheProgressLine) {
    const std::string folder = EmptyTempFolder("pixmora_gui_saveall_wait");
    ExportLock other; // another export into the folder, in another window
    ASSERT_EQ(other.TryTake(folder), ExportLockOutcome::kTaken);
    wchar_t wide[MAX_PATH] = L"";
    MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide, MAX_PATH);
    const std::wstring waiting = L"Waiting for another export into " + std::wstring(wide);
    std::atomic<bool> sawWaiting{false};
    std::vector<std::string> told;
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        for (uint8_t red : {60, 70}) {
            PushPicture(Uniform(red, 0, 0));
            Click(main, IDC_UPLOAD);
        }
        std::thread otherEnds([&] {
            for (int i = 0; i < 200 && !sawWaiting; ++i) {
                sawWaiting = HasChildText(main, waiting);
                Sleep(50);
            }
            if (sawWaiting) SaveScreenshot(main, "save_all_waiting");
            EXPECT_TRUE(FolderNames(folder) == std::vector<std::string>{kExportLockName})
                << "nothing is written while the other export runs";
            other.Release();
        });
        SaveAllInto(main, folder, [&](HWND box, const std::string& text) {
            told.push_back(text);
            SendMessageA(box, WM_COMMAND, IDOK, 0);
        });
        otherEnds.join();
        EXPECT_FALSE(HasChildText(main, waiting));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(main, IDC_PROGRESS)));
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
    EXPECT_TRUE(sawWaiting);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "Saved 2 pictures to " + folder + ".");
    EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{"0.jpg", "1.jpg"}));
    RemoveFolderTree(folder);
}

TEST(SaveAll, AnExportCutShortIsUndoneWhenTheProgramStartsAgain) {
    const std::string folder = EmptyTempFolder("pixmora_gui_saveall_cut");
    const std::string zero = OlderPicture(1), one = OlderPicture(2);
    std::vector<std::vector<uint8_t>> jpegs(2);
    EncodeSaveAllPicture(Uniform(80, 0, 0), jpegs[0]);
    EncodeSaveAllPicture(Uniform(90, 0, 0), jpegs[1]);
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        RememberSaveAllFolder(folder.c_str());
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
    // The export is killed once 0.jpg has stepped aside: the folder has a gap.
    for (long n = 1; n < 40; ++n) {
        RemoveFolderTree(folder);
        CreateDirectoryA(folder.c_str(), nullptr);
        WriteText(folder + "\\0.jpg", zero);
        WriteText(folder + "\\1.jpg", one);
        FailFileOperation(n, true);
        CommitSaveAllSet(folder, jpegs.data(), 2);
        FailFileOperation(0);
        if (GetFileAttributesA((folder + "\\0.jpg").c_str()) == INVALID_FILE_ATTRIBUTES) break;
    }
    ASSERT_EQ(FolderNames(folder), (std::vector<std::string>{"1.jpg", "~pixmora-0"}));
    std::string said;
    OnNextDialog([&](HWND box) {
        said = MessageText(box);
        SendMessageA(box, WM_COMMAND, IDOK, 0);
    });
    ASSERT_TRUE(RunMainDialog([&](HWND main) { SendMessageA(main, WM_CLOSE, 0, 0); }));
    TearDown();
    EXPECT_EQ(said, "An interrupted Save All into " + folder + " was undone.");
    EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{"0.jpg", "1.jpg"}));
    EXPECT_EQ(ReadFile(folder + "\\0.jpg"), std::vector<uint8_t>(zero.begin(), zero.end()));
    RemoveFolderTree(folder);
}

// ---- Ordering the album ----

struct MenuLine {
    std::string text;
    bool grey;
};

// The items of a shown popup menu, separators left out.
std::vector<MenuLine> MenuLines(HWND menuWindow) {
    auto menu = reinterpret_cast<HMENU>(SendMessageA(menuWindow, 0x01E1, 0, 0)); // MN_GETHMENU
    std::vector<MenuLine> lines;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        const UINT state = GetMenuState(menu, i, MF_BYPOSITION);
        if (state & MF_SEPARATOR) continue;
        char text[64] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        lines.push_back({text, (state & MF_GRAYED) != 0});
    }
    return lines;
}

// Picks the item at `position` (separators not counted) as a user does with
// the arrow keys and Enter; the menu's own loop takes the keys.
void PickMenuItem(HWND menuWindow, int position) {
    for (int i = 0; i <= position; ++i)
        PostMessageA(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menuWindow, WM_KEYDOWN, VK_RETURN, 0);
}

enum { kUp, kDown, kFirst, kLast, kDownload, kDelete };

// The screen point of album item i's picture.
POINT ItemPoint(HWND main, int i) {
    RECT r = {};
    r.left = LVIR_ICON;
    SendMessageA(Album(main), LVM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
    POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(Album(main), &p);
    return p;
}

// A right click on item i: the pointer there, the button pressed and
// released on the list, which sends the dialog its context-menu message; the
// menu is answered by `pick`.
void RightClickItem(HWND main, int i, const std::function<void(HWND)>& pick) {
    OnNextMenu(pick);
    const POINT p = ItemPoint(main, i);
    SetCursorPos(p.x, p.y);
    POINT client = p;
    ScreenToClient(Album(main), &client);
    PostMessageA(Album(main), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(client.x, client.y));
    PostMessageA(Album(main), WM_RBUTTONUP, 0, MAKELPARAM(client.x, client.y));
    for (int tries = 0; tries < 40 && !NextDialogHandled(); ++tries)
        Pump(50);
    Pump(50);
    EXPECT_TRUE(NextDialogHandled()) << "no menu on item " << i;
}

std::vector<int> AlbumReds() {
    std::vector<int> reds;
    for (int i = 0; i < AlbumCount(g_app.album); ++i)
        reds.push_back(AlbumRed(i));
    return reds;
}

int SelectedItem(HWND main) {
    return static_cast<int>(
        SendMessageA(Album(main), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

TEST(Album, TheContextMenuAndDraggingOrderTheAlbumAndTheExportedFiles) {
    std::string folder = TempFolder("pixmora_gui_order");
    auto answerOk = [](HWND box, const std::string&) { SendMessageA(box, WM_COMMAND, IDOK, 0); };
    std::vector<std::vector<uint8_t>> before, after;
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        for (uint8_t red : {10, 20, 30, 40}) {
            PushPicture(Uniform(red, 0, 0));
            Click(main, IDC_UPLOAD);
        }
        SaveAllInto(main, folder, answerOk);
        for (int i = 0; i < 4; ++i)
            before.push_back(ReadFile(folder + "\\" + std::to_string(i) + ".jpg"));

        // Right click on "2": every item of the menu, all of them usable.
        std::vector<MenuLine> lines;
        RightClickItem(main, 1, [&](HWND menu) {
            lines = MenuLines(menu);
            Pump(100);
            SaveScreenshot(main, "album_context_menu");
            PickMenuItem(menu, kDown);
        });
        ASSERT_EQ(lines.size(), 6u);
        const char* texts[] = {"Move up",      "Move down", "Move to first",
                               "Move to last", "DownLoad",  "Delete"};
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(lines[i].text, texts[i]);
            EXPECT_FALSE(lines[i].grey) << texts[i];
        }
        EXPECT_EQ(AlbumReds(), (std::vector<int>{10, 30, 20, 40}));
        EXPECT_EQ(SelectedItem(main), 2) << "the moved picture stays current";
        EXPECT_EQ(Label(main, 2), "3");
        EXPECT_EQ(ThumbPixel(2, 40, 36), RGB(20, 0, 0));

        // The menu key on the first item: it cannot go up.
        ClickItem(main, 0);
        OnNextMenu([&](HWND menu) {
            lines = MenuLines(menu);
            PickMenuItem(menu, kLast);
        });
        PressKey(Album(main), VK_APPS);
        ASSERT_EQ(lines.size(), 6u);
        EXPECT_TRUE(lines[kUp].grey);
        EXPECT_TRUE(lines[kFirst].grey);
        EXPECT_FALSE(lines[kDown].grey);
        EXPECT_EQ(AlbumReds(), (std::vector<int>{30, 20, 40, 10}));
        // Shift+F10 on the last one: it cannot go down; to first.
        OnNextMenu([&](HWND menu) {
            lines = MenuLines(menu);
            PickMenuItem(menu, kFirst);
        });
        PressKey(Album(main), VK_F10, false, true);
        ASSERT_EQ(lines.size(), 6u);
        EXPECT_TRUE(lines[kDown].grey);
        EXPECT_TRUE(lines[kLast].grey);
        EXPECT_EQ(AlbumReds(), (std::vector<int>{10, 30, 20, 40}));
        RightClickItem(main, 2, [](HWND menu) { PickMenuItem(menu, kUp); });
        EXPECT_EQ(AlbumReds(), (std::vector<int>{10, 20, 30, 40}));

        // Dragging "4" onto "1" puts it first.
        NMLISTVIEW drag = {};
        drag.hdr.hwndFrom = Album(main);
        drag.hdr.idFrom = IDC_ALBUM_LIST;
        drag.hdr.code = LVN_BEGINDRAG;
        drag.iItem = 3;
        SendMessageA(main, WM_NOTIFY, IDC_ALBUM_LIST, reinterpret_cast<LPARAM>(&drag));
        EXPECT_EQ(GetCapture(), main);
        POINT onFirst = ItemPoint(main, 0);
        ScreenToClient(main, &onFirst);
        SendMessageA(main, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(onFirst.x, onFirst.y));
        SendMessageA(main, WM_LBUTTONUP, 0, MAKELPARAM(onFirst.x, onFirst.y));
        EXPECT_NE(GetCapture(), main);
        EXPECT_EQ(AlbumReds(), (std::vector<int>{40, 10, 20, 30}));
        EXPECT_EQ(SelectedItem(main), 0);
        // A drop outside the list changes nothing.
        SendMessageA(main, WM_NOTIFY, IDC_ALBUM_LIST, reinterpret_cast<LPARAM>(&drag));
        SendMessageA(main, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        EXPECT_EQ(AlbumReds(), (std::vector<int>{40, 10, 20, 30}));
        // Esc during a drag ends the drag only.
        SendMessageA(main, WM_NOTIFY, IDC_ALBUM_LIST, reinterpret_cast<LPARAM>(&drag));
        PressKey(Album(main), VK_ESCAPE);
        EXPECT_NE(GetCapture(), main);
        EXPECT_TRUE(IsWindowVisible(main));
        SendMessageA(main, WM_LBUTTONUP, 0, MAKELPARAM(onFirst.x, onFirst.y));
        EXPECT_EQ(AlbumReds(), (std::vector<int>{40, 10, 20, 30}));

        // A new order is a change Save All has not saved yet.
        std::string asked;
        OnNextDialog([&](HWND box) {
            asked = MessageText(box);
            SendMessageA(box, WM_COMMAND, IDNO, 0);
        });
        SendMessageA(main, WM_CLOSE, 0, 0);
        EXPECT_NE(asked.find("holds 4 pictures"), std::string::npos) << asked;
        SaveAllInto(main, folder, answerOk);
        for (int i = 0; i < 4; ++i)
            after.push_back(ReadFile(folder + "\\" + std::to_string(i) + ".jpg"));

        // DownLoad and Delete from the menu act on the item clicked.
        RightClickItem(main, 2, [](HWND menu) { PickMenuItem(menu, kDownload); });
        EXPECT_EQ(CurrentPicture(g_app.history).Pixels()[2], 20);
        RightClickItem(main, 0, [](HWND menu) { PickMenuItem(menu, kDelete); });
        EXPECT_EQ(AlbumReds(), (std::vector<int>{10, 20, 30}));
        CloseAnyway(main);
    }));
    EXPECT_FALSE(HarnessHadToClose());
    TearDown();
    ASSERT_EQ(after.size(), 4u);
    ASSERT_GT(before[3].size(), 600u);
    EXPECT_EQ(after[0], before[3]) << "the files follow the new order";
    EXPECT_EQ(after[1], before[0]);
    EXPECT_EQ(after[2], before[1]);
    EXPECT_EQ(after[3], before[2]);
    for (int i = 0; i < 4; ++i)
        DeleteFileA((folder + "\\" + std::to_string(i) + ".jpg").c_str());
    RemoveDirectoryA(folder.c_str());
}

} // namespace
