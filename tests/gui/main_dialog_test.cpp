// The main dialog as the user meets it: controls, About, history buttons,
// the ways to end the dialog, and the release of every buffer afterwards.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "export/bmp_writer.h"
#include "resources/resource.h"
#include "tests/gui/gui_harness.h"

namespace {

struct ControlRow {
    int id;
    const char* cls;
    const char* text;
    RECT dlu; // x, y, width, height in dialog units
    bool enabled;
};

// The template as the user must see it.
const ControlRow kControls[] = {
    {IDC_FOLDER_TREE, "SysTreeView32", "", {7, 7, 178, 154}, true},
    {IDC_FOLDER_LIST, "SysListView32", "", {185, 7, 225, 154}, true},
    {IDC_BLEND, "Button", "Alpha  Blending", {108, 170, 63, 14}, true},
    {IDC_ROTATE, "Button", "Rotate", {108, 187, 63, 14}, true},
    {IDC_CROP, "Button", "Crop to Move", {108, 204, 63, 14}, true},
    {IDC_PROCESS, "Button", "Image Processing", {108, 221, 63, 14}, true},
    {IDC_FRAME, "Button", "Digital Frame", {108, 238, 63, 14}, true},
    {IDC_SAVE_BMP, "Button", "Save BMP", {108, 255, 63, 14}, true},
    {IDC_UNDO, "Button", "Undo", {7, 271, 41, 14}, false},
    {IDC_REDO, "Button", "Redo", {53, 272, 41, 14}, false},
    {IDC_UPLOAD, "Button", "UpLoad      --->", {108, 272, 63, 14}, true},
    {IDC_DOWNLOAD, "Button", "DownLoad <---", {108, 289, 63, 14}, true},
    {IDC_ALBUM_LIST, "SysListView32", "", {185, 163, 225, 133}, true},
    {IDC_DELETE, "Button", "Delete", {185, 306, 50, 14}, true},
    {IDC_DELETE_ALL, "Button", "Delete All", {242, 306, 50, 14}, true},
    {IDC_UPLOAD_FLASH, "Button", "Upload Flash", {299, 306, 50, 14}, false},
    {IDC_DOWNLOAD_FLASH, "Button", "Download Flash", {356, 306, 50, 14}, false},
    {IDC_SAVE_ALL, "Button", "Save All", {185, 325, 50, 14}, true},
    {IDOK, "Button", "OK", {242, 325, 50, 14}, true},
    {IDCANCEL, "Button", "Cancel", {299, 325, 50, 14}, true},
    {IDC_ABOUT, "Button", "About", {356, 325, 50, 14}, true},
    {IDC_PROGRESS, "msctls_progress32", "", {183, 345, 238, 14}, false},
};

RECT ClientRectOf(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A picture that is one colour all over, as a new history state, the way
// every edit arrives.
void PushColour(uint8_t blue, uint8_t green, uint8_t red) {
    DropRedo(g_app.history);
    PushState(g_app.history);
    FrameImage& f = CurrentPicture(g_app.history);
    InitFrameHeader(128, 128, f.bytes);
    for (int i = 0; i < kFramePixelBytes; i += 3) {
        f.Pixels()[i] = blue;
        f.Pixels()[i + 1] = green;
        f.Pixels()[i + 2] = red;
    }
    AfterEdit();
}

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

TEST(MainDialog, EveryControlHasItsIdClassTextPlaceAndState) {
    ASSERT_TRUE(RunMainDialog([](HWND dialog) {
        EXPECT_EQ(WindowText(dialog), "Pixmora");
        LONG style = GetWindowLongA(dialog, GWL_STYLE);
        EXPECT_TRUE(style & WS_MINIMIZEBOX);
        EXPECT_TRUE(style & WS_SYSMENU);
        for (const ControlRow& row : kControls) {
            SCOPED_TRACE(row.id);
            HWND c = GetDlgItem(dialog, row.id);
            ASSERT_NE(c, nullptr);
            EXPECT_STRCASEEQ(ClassOf(c).c_str(), row.cls);
            EXPECT_EQ(WindowText(c), row.text);
            EXPECT_EQ(IsWindowEnabled(c) != FALSE, row.enabled);
            // The dialog manager converts position and size separately.
            RECT want = row.dlu;
            MapDialogRect(dialog, &want);
            RECT got = ClientRectOf(dialog, c);
            EXPECT_EQ(got.left, want.left);
            EXPECT_EQ(got.top, want.top);
            EXPECT_EQ(got.right - got.left, want.right);
            EXPECT_EQ(got.bottom - got.top, want.bottom);
        }
        LONG folderStyle = GetWindowLongA(GetDlgItem(dialog, IDC_FOLDER_LIST), GWL_STYLE);
        EXPECT_EQ(folderStyle & LVS_TYPEMASK, LVS_ICON);
        EXPECT_TRUE(folderStyle & LVS_SINGLESEL);
        LONG albumStyle = GetWindowLongA(GetDlgItem(dialog, IDC_ALBUM_LIST), GWL_STYLE);
        EXPECT_TRUE(albumStyle & LVS_SINGLESEL);
        EXPECT_TRUE(albumStyle & LVS_SHOWSELALWAYS);
        LONG okStyle = GetWindowLongA(GetDlgItem(dialog, IDOK), GWL_STYLE);
        EXPECT_EQ(okStyle & 0x0F, BS_DEFPUSHBUTTON);
        // Both lists carry 80 x 72 thumbnail image lists.
        for (int id : {IDC_FOLDER_LIST, IDC_ALBUM_LIST}) {
            auto images = reinterpret_cast<HIMAGELIST>(
                SendMessageA(GetDlgItem(dialog, id), LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
            int cx = 0, cy = 0;
            ASSERT_TRUE(ImageList_GetIconSize(images, &cx, &cy));
            EXPECT_EQ(cx, 80);
            EXPECT_EQ(cy, 72);
        }
        SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    }));
    TearDown();
}

TEST(MainDialog, PreviewIsA130PixelSquareShowingBlack) {
    ASSERT_TRUE(RunMainDialog([](HWND dialog) {
        HWND pane = GetDlgItem(dialog, IDC_PREVIEW);
        RECT r;
        GetWindowRect(pane, &r);
        EXPECT_EQ(r.right - r.left, 130);
        EXPECT_EQ(r.bottom - r.top, 130);
        // Placed from the template's rectangle less 30 pixels for the caption.
        RECT tmpl = {7, 169, 7 + 88, 169 + 78};
        MapDialogRect(dialog, &tmpl);
        RECT dialogWindow;
        GetWindowRect(dialog, &dialogWindow);
        RECT got = ClientRectOf(dialog, pane);
        POINT origin = {0, 0};
        ClientToScreen(dialog, &origin);
        EXPECT_EQ(got.left, tmpl.left + (origin.x - dialogWindow.left));
        EXPECT_EQ(got.top, tmpl.top + (origin.y - dialogWindow.top) - 30);
        UpdateWindow(dialog);
        Pump(200);
        EXPECT_EQ(ScreenPixelBecomes(pane, 64, 64, RGB(0, 0, 0)), RGB(0, 0, 0));
        SaveScreenshot(dialog, "main_dialog");
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(MainDialog, UndoAndRedoFollowTheHistory) {
    ASSERT_TRUE(RunMainDialog([](HWND dialog) {
        HWND pane = GetDlgItem(dialog, IDC_PREVIEW);
        EXPECT_FALSE(Enabled(dialog, IDC_UNDO));
        EXPECT_FALSE(Enabled(dialog, IDC_REDO));

        PushColour(0, 0, 255); // red
        Pump(100);
        EXPECT_TRUE(Enabled(dialog, IDC_UNDO));
        EXPECT_FALSE(Enabled(dialog, IDC_REDO));
        EXPECT_EQ(ScreenPixelBecomes(pane, 64, 64, RGB(255, 0, 0)), RGB(255, 0, 0));

        SendMessageA(GetDlgItem(dialog, IDC_UNDO), BM_CLICK, 0, 0);
        Pump(100);
        EXPECT_EQ(ScreenPixelBecomes(pane, 64, 64, RGB(0, 0, 0)),
                  RGB(0, 0, 0)); // the black start picture
        EXPECT_FALSE(Enabled(dialog, IDC_UNDO));
        EXPECT_TRUE(Enabled(dialog, IDC_REDO));

        SendMessageA(GetDlgItem(dialog, IDC_REDO), BM_CLICK, 0, 0);
        Pump(100);
        EXPECT_EQ(ScreenPixelBecomes(pane, 64, 64, RGB(255, 0, 0)), RGB(255, 0, 0));
        EXPECT_TRUE(Enabled(dialog, IDC_UNDO));
        EXPECT_FALSE(Enabled(dialog, IDC_REDO));

        PushColour(255, 0, 0); // blue
        PushColour(0, 255, 0); // green
        SendMessageA(GetDlgItem(dialog, IDC_UNDO), BM_CLICK, 0, 0);
        Pump(100);
        EXPECT_EQ(ScreenPixelBecomes(pane, 64, 64, RGB(0, 0, 255)), RGB(0, 0, 255));
        EXPECT_TRUE(Enabled(dialog, IDC_UNDO));
        // A repaint of the whole dialog keeps the picture the Undo showed.
        InvalidateRect(dialog, nullptr, TRUE);
        UpdateWindow(dialog);
        Pump(100);
        EXPECT_EQ(ScreenPixelBecomes(pane, 64, 64, RGB(0, 0, 255)), RGB(0, 0, 255));

        // A new state after an Undo drops the redo state.
        PushColour(128, 128, 128);
        EXPECT_FALSE(Enabled(dialog, IDC_REDO));
        EXPECT_EQ(g_app.history.cursor, g_app.history.head);
        SendMessageA(GetDlgItem(dialog, IDC_UNDO), BM_CLICK, 0, 0);
        Pump(100);
        EXPECT_EQ(ScreenPixelBecomes(pane, 64, 64, RGB(0, 0, 255)),
                  RGB(0, 0, 255)); // green is gone
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(MainDialog, FlashButtonsAndProgressBarDoNothingEvenWhenCommanded) {
    ASSERT_TRUE(RunMainDialog([](HWND dialog) {
        PushColour(1, 2, 3);
        HistoryRing before = g_app.history;
        for (int id : {IDC_UPLOAD_FLASH, IDC_DOWNLOAD_FLASH, IDC_PROGRESS})
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        Pump(100);
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_EQ(g_app.history.head, before.head);
        EXPECT_EQ(g_app.history.cursor, before.cursor);
        EXPECT_EQ(std::memcmp(g_app.history.valid, before.valid, sizeof before.valid), 0);
        EXPECT_TRUE(Enabled(dialog, IDC_UNDO));
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(MainDialog, AboutShowsItsTextsAndCancelCloses) {
    ASSERT_TRUE(RunMainDialog([](HWND dialog) {
        bool seen = false;
        OnNextDialog([&](HWND about) {
            seen = true;
            EXPECT_EQ(WindowText(about), "About");
            EXPECT_EQ(WindowText(GetDlgItem(about, IDC_MAIL_LINK)), PIXMORA_CONTACT);
            EXPECT_EQ(WindowText(GetDlgItem(about, IDCANCEL)), "Cancel");
            bool text = false;
            for (HWND c = GetWindow(about, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                text = text || WindowText(c) == "Digital frame 128x128 Image Viewer for Windows";
            EXPECT_TRUE(text);
            EXPECT_EQ(GetParent(about), dialog); // owned by the main dialog
            Pump(200);
            SaveScreenshot(about, "about_dialog");
            SendMessageA(GetDlgItem(about, IDCANCEL), BM_CLICK, 0, 0);
        });
        SendMessageA(GetDlgItem(dialog, IDC_ABOUT), BM_CLICK, 0, 0);
        EXPECT_TRUE(seen);
        EXPECT_TRUE(IsWindow(dialog));
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(MainDialog, MailLinkWithoutMailToolSaysSoAndAboutStaysOpen) {
    if (!std::getenv("PIXMORA_NO_MAIL_TOOL"))
        GTEST_SKIP() << "needs a system without a mailto handler (scripts/test sets one up)";
    ASSERT_TRUE(RunMainDialog([](HWND dialog) {
        bool boxSeen = false;
        OnNextDialog([&](HWND about) {
            OnNextDialog([&](HWND box) {
                boxSeen = true;
                EXPECT_EQ(WindowText(box), "about");
                bool text = false;
                for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                    text = text || WindowText(c) == "Can't find mail tool";
                EXPECT_TRUE(text);
                EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);
                SendMessageA(box, WM_COMMAND, IDOK, 0);
            });
            SendMessageA(GetDlgItem(about, IDC_MAIL_LINK), BM_CLICK, 0, 0);
            EXPECT_TRUE(IsWindow(about));
            SendMessageA(GetDlgItem(about, IDCANCEL), BM_CLICK, 0, 0);
        });
        SendMessageA(GetDlgItem(dialog, IDC_ABOUT), BM_CLICK, 0, 0);
        EXPECT_TRUE(boxSeen);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(MainDialog, EnterOpensAndClosesTheTreeAndLoadsFromTheFolderListAndTheTreeHasNoRenaming) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string folder = std::string(temp) + "pixmora_gui_enter";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string file = folder + "\\only.bmp";
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        HWND tree = GetDlgItem(dialog, IDC_FOLDER_TREE);
        // The first root item with sub-folders, selected and closed.
        auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
        for (; item; item = reinterpret_cast<HTREEITEM>(SendMessageA(
                         tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
            TVITEMA info = {};
            info.mask = TVIF_CHILDREN;
            info.hItem = item;
            SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&info));
            if (info.cChildren) break;
        }
        ASSERT_NE(item, nullptr);
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        auto expanded = [&] {
            return (SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item),
                                 TVIS_EXPANDED) &
                    TVIS_EXPANDED) != 0;
        };
        ASSERT_FALSE(expanded());
        PressKey(tree, VK_RETURN);
        EXPECT_TRUE(expanded());
        EXPECT_NE(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)),
                  0)
            << "filled as it opened";
        PressKey(tree, VK_RETURN);
        EXPECT_FALSE(expanded());
        EXPECT_TRUE(IsWindowVisible(dialog));

        // F2 and a direct request alike: no label editor.
        EXPECT_FALSE(GetWindowLongA(tree, GWL_STYLE) & TVS_EDITLABELS);
        PressKey(tree, VK_F2);
        EXPECT_EQ(SendMessageA(tree, TVM_GETEDITCONTROL, 0, 0), 0);
        EXPECT_EQ(SendMessageA(tree, TVM_EDITLABELA, 0, reinterpret_cast<LPARAM>(item)), 0);

        // Enter in the folder list loads the selected picture again.
        PushColour(0, 0, 200);
        ASSERT_TRUE(WriteBmpFile(file.c_str(), CurrentPicture(g_app.history)));
        PushColour(0, 0, 0);
        ASSERT_EQ(ScanFolder(folder.c_str()), 1);
        HWND list = GetDlgItem(dialog, IDC_FOLDER_LIST);
        // The loader thread lists the file; then the list is still.
        for (int i = 0; i < 200 && g_app.loadBuffers.LoaderBusyFlag.load(); ++i)
            Pump(50);
        Pump(50);
        ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 1);
        LVITEMA select = {};
        select.stateMask = select.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&select));
        EXPECT_EQ(CurrentPicture(g_app.history).Pixels()[2], 200);
        const int head = g_app.history.head;
        PressKey(list, VK_RETURN);
        EXPECT_EQ(g_app.history.head, (head + 1) % kHistorySlots);
        EXPECT_EQ(CurrentPicture(g_app.history).Pixels()[2], 200);
        EXPECT_TRUE(IsWindowVisible(dialog));
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    EXPECT_FALSE(HarnessHadToClose());
    TearDown();
    DeleteFileA(file.c_str());
    RemoveDirectoryA(folder.c_str());
}

// Each way of ending the dialog ends it, raises the stop flag for a loader,
// and TearDown releases every block.
void ExpectEndsAndReleases(const std::function<void(HWND)>& end) {
    ASSERT_TRUE(RunMainDialog(end));
    EXPECT_FALSE(HarnessHadToClose());
    EXPECT_EQ(g_app.loadBuffers.LoaderStopFlag.load(), 1);
    EXPECT_EQ(g_app.loadBuffers.LoaderBusyFlag.load(), 0);
    TearDown();
    EXPECT_TRUE(NothingAllocated());
}

TEST(MainDialog, OkEndsTheDialog) {
    ExpectEndsAndReleases([](HWND d) { SendMessageA(GetDlgItem(d, IDOK), BM_CLICK, 0, 0); });
}

TEST(MainDialog, CancelEndsTheDialog) {
    ExpectEndsAndReleases([](HWND d) { SendMessageA(GetDlgItem(d, IDCANCEL), BM_CLICK, 0, 0); });
}

TEST(MainDialog, EscEndsTheDialog) {
    ExpectEndsAndReleases([](HWND d) {
        // Posted: the dialog's own loop turns the key into Cancel.
        HWND focus = GetFocus();
        PostMessageA(focus ? focus : d, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(focus ? focus : d, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    });
}

TEST(MainDialog, CloseBoxEndsTheDialog) {
    ExpectEndsAndReleases([](HWND d) { SendMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); });
}

} // namespace
