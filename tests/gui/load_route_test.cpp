// A click in the folder list loads the picture as a new history state.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "app/browser_win.h"
#include "export/bmp_writer.h"
#include "fit/fit_options.h"
#include "resources/resource.h"
#include "tests/gui/gui_harness.h"
#include "tests/unit/subject_photos.h"

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

// ---- Choose the part ----

// The built photo as a 24-bit BMP (its width a multiple of 4).
void WritePhotoBmp(const std::string& path, const SubjectPhoto& photo) {
    const int32_t w = photo.width, h = photo.height;
    std::vector<uint8_t> b(54 + static_cast<size_t>(w) * 3 * h, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k)
            b[at + k] = static_cast<uint8_t>(v >> (8 * k));
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, static_cast<uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));
    b[26] = 1, b[28] = 24;
    for (int32_t y = 0; y < h; ++y) // the file's first row is the bottom one
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t c = photo.pixels[static_cast<size_t>(h - 1 - y) * w + x];
            uint8_t* p = b.data() + 54 + (static_cast<size_t>(y) * w + x) * 3;
            p[0] = static_cast<uint8_t>(c), p[1] = static_cast<uint8_t>(c >> 8),
            p[2] = static_cast<uint8_t>(c >> 16);
        }
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
    std::fclose(f);
}

// A key typed into a control of the open nested dialog, taken as that
// dialog's own loop takes it (the dialog manager, then the window).
void PressIn(HWND dialog, HWND target, UINT key, bool shift = false) {
    BYTE before[256] = {};
    GetKeyboardState(before);
    BYTE held[256];
    std::memcpy(held, before, sizeof held);
    held[VK_SHIFT] = held[VK_LSHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(held);
    SetFocus(target);
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
    const DWORD end = GetTickCount() + 100;
    MSG msg;
    while (GetTickCount() < end) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (IsWindow(dialog) && IsDialogMessageA(dialog, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
    SetKeyboardState(before);
}

// The file loaded by the core with `fit`, into its own picture (the report
// too); the dialog must be closed, the load uses the program's buffers.
std::unique_ptr<FrameImage> CoreLoad(const std::string& path, const FitOptions& fit,
                                     FitReport* report = nullptr) {
    std::unique_ptr<FrameImage> p(new FrameImage{});
    DecoderSet decoders = AppDecoders();
    EXPECT_EQ(LoadForFrame(decoders, path.c_str(), fit, *p, report), DecodeOutcome::kComplete);
    return p;
}

bool SamePicture(const FrameImage& a, const FrameImage& b) {
    return std::memcmp(a.bytes, b.bytes, kFrameHeaderBytes + kFramePixelBytes) == 0;
}

bool SameRect(const PictureRect& a, const PictureRect& b) {
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

TEST(ChoosePart, F2OpensItKeysMouseAndWheelMoveTheSquareOkPushesOneStateUndoReturns) {
    std::string folder = TempFolder();
    const std::string path = folder + "bottle.bmp";
    WritePhotoBmp(path, MakeSubjectPhoto(SubjectScene::kProductOffCentre, 300)); // 300 x 200
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        const char* names[] = {"bottle.bmp"};
        ListFiles(dialog, folder, names, 1);
        Select(dialog, 0);
        const int head = g_app.history.head;
        std::unique_ptr<FrameImage> before(new FrameImage{});
        CopyFrameImage(*before, CurrentPicture(g_app.history));
        PictureRect suggestion{}, chosen{};
        COLORREF shown[3] = {};
        OnNextDialog([&](HWND part) {
            EXPECT_EQ(WindowText(part), "Choose the part");
            HWND view = GetDlgItem(part, IDC_PART_VIEW);
            const PartChoice* c = OpenPartChoice();
            ASSERT_NE(c, nullptr);
            suggestion = *OpenPartSuggestion();
            EXPECT_TRUE(SameRect(c->square, suggestion)) << "it opens at the suggestion";
            RECT r;
            GetClientRect(view, &r);
            EXPECT_EQ(r.right, 400); // 300 x 200 shown at 400 x 267
            EXPECT_EQ(r.bottom, 266);
            const PictureRect s = c->square; // 200 x 200 at the right: (100, 0)
            PressIn(part, view, VK_LEFT);    // 1 % of 300
            EXPECT_EQ(c->square.x, s.x - 3);
            PressIn(part, view, VK_LEFT, true); // 10 %
            EXPECT_EQ(c->square.x, s.x - 33);
            PressIn(part, view, VK_SUBTRACT); // a twentieth of 200 smaller, about its centre
            EXPECT_EQ(c->square.w, s.w - 10);
            EXPECT_EQ(c->square.x, s.x - 33 + 5);
            PressIn(part, view, VK_DOWN, true);
            EXPECT_EQ(c->square.y, 10) << "stops at the bottom edge";
            // Dragged 40 view pixels (30 photo pixels) to the left.
            const PictureRect m = c->square;
            const int vx = (m.x + m.w / 2) * 4 / 3, vy = (m.y + m.h / 2) * 4 / 3;
            SendMessageA(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(vx, vy));
            SendMessageA(view, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(vx - 40, vy));
            SendMessageA(view, WM_LBUTTONUP, 0, MAKELPARAM(vx - 40, vy));
            EXPECT_EQ(c->square.x, m.x - 30);
            // The wheel turned back a notch: smaller again; its corner dragged in.
            SendMessageA(view, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), 0);
            EXPECT_EQ(c->square.w, m.w - 10);
            const PictureRect w = c->square;
            const int cx = (w.x + w.w) * 4 / 3, cy = (w.y + w.h) * 4 / 3;
            SendMessageA(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cx, cy));
            SendMessageA(view, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(cx - 20, cy - 20));
            SendMessageA(view, WM_LBUTTONUP, 0, MAKELPARAM(cx - 20, cy - 20));
            EXPECT_TRUE(c->square.x == w.x && c->square.y == w.y) << "the top-left corner stays";
            EXPECT_NEAR(c->square.w, w.w - 15, 1); // 20 view pixels are 15 photo pixels
            chosen = c->square;
            HWND result = GetDlgItem(part, IDC_PART_RESULT);
            UpdateWindow(part);
            Pump(100);
            for (int k = 0; k < 3; ++k)
                shown[k] = ScreenPixel(result, 20 + 40 * k, 20 + 40 * k);
            SaveScreenshot(part, "choose_part");
            PressIn(part, view, VK_RETURN); // OK
        });
        PressKey(GetDlgItem(dialog, IDC_FOLDER_LIST), VK_F2);
        ASSERT_TRUE(NextDialogHandled());
        EXPECT_EQ(OpenPartChoice(), nullptr);
        EXPECT_EQ(g_app.history.head, (head + 1) % kHistorySlots) << "one new state";
        FitOptions fit = CurrentSettings().fit;
        fit.region = RegionInPixels(chosen);
        std::unique_ptr<FrameImage> expected = CoreLoad(path, fit);
        EXPECT_TRUE(SamePicture(CurrentPicture(g_app.history), *expected));
        for (int k = 0; k < 3; ++k) {
            const uint8_t* p = expected->Row(20 + 40 * k) + 3 * (20 + 40 * k);
            EXPECT_EQ(shown[k], RGB(p[2], p[1], p[0])) << "the result at 1:1, " << k;
        }
        // The dialog's suggestion is the fill around the subject's square.
        FitOptions subject;
        subject.mode = FitMode::kFill;
        subject.focus = FitFocus::kSubject;
        FitReport report;
        CoreLoad(path, subject, &report);
        EXPECT_TRUE(SameRect(report.shown, suggestion));

        // Undo shows the picture from before the part was chosen.
        SendMessageA(dialog, WM_COMMAND, IDC_UNDO, 0);
        EXPECT_EQ(g_app.history.cursor, head);
        EXPECT_TRUE(SamePicture(CursorPicture(g_app.history), *before));
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
    DeleteFileA(path.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST(ChoosePart, FromTheMenuEscChangesNothingAndTheSubjectFillFollowsTheSuggestion) {
    std::string folder = TempFolder();
    const std::string path = folder + "bottle.bmp";
    WritePhotoBmp(path, MakeSubjectPhoto(SubjectScene::kProductOffCentre, 300));
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        const char* names[] = {"bottle.bmp"};
        ListFiles(dialog, folder, names, 1);
        Select(dialog, 0);
        const int head = g_app.history.head;
        std::unique_ptr<FrameImage> before(new FrameImage{});
        CopyFrameImage(*before, CurrentPicture(g_app.history));
        HWND list = GetDlgItem(dialog, IDC_FOLDER_LIST);
        bool opened = false;
        // "Choose the part..." is the one above "Load", the last item.
        OnNextMenu([&](HWND menu) {
            for (WPARAM key : {VK_UP, VK_UP, VK_RETURN}) {
                PostMessageA(menu, WM_KEYDOWN, key, 0);
                PostMessageA(menu, WM_KEYUP, key, 0xC0000000);
            }
            OnNextDialog([&](HWND part) {
                opened = WindowText(part) == "Choose the part";
                HWND view = GetDlgItem(part, IDC_PART_VIEW);
                PressIn(part, view, VK_LEFT, true);
                PressIn(part, view, VK_SUBTRACT);
                EXPECT_FALSE(SameRect(OpenPartChoice()->square, *OpenPartSuggestion()));
                // "Suggest" puts the square back.
                SendMessageA(part, WM_COMMAND, MAKEWPARAM(IDC_PART_SUGGEST, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(part, IDC_PART_SUGGEST)));
                EXPECT_TRUE(SameRect(OpenPartChoice()->square, *OpenPartSuggestion()));
                PressIn(part, view, VK_LEFT, true);
                PressIn(part, view, VK_ESCAPE);
            });
        });
        SendMessageA(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(-1, -1));
        Pump(300);
        EXPECT_TRUE(opened);
        EXPECT_EQ(OpenPartChoice(), nullptr);
        EXPECT_EQ(g_app.history.head, head);
        EXPECT_TRUE(SamePicture(CurrentPicture(g_app.history), *before));

        // With "Fill the frame around the subject" every click takes the
        // suggestion's square: the core's load with that focus, not the centre.
        FitOptions fit;
        fit.mode = FitMode::kFill;
        fit.focus = FitFocus::kSubject;
        ChangeFitOptions(fit);
        LoadFolderItem(0);
        EXPECT_EQ(g_app.history.head, (head + 1) % kHistorySlots);
        EXPECT_TRUE(SamePicture(CurrentPicture(g_app.history), *CoreLoad(path, fit)));
        fit.focus = FitFocus::kCentre;
        EXPECT_FALSE(SamePicture(CurrentPicture(g_app.history), *CoreLoad(path, fit)));
        ChangeFitOptions(FitOptions{});
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
    DeleteFileA(path.c_str());
    RemoveDirectoryA(folder.c_str());
}

} // namespace
