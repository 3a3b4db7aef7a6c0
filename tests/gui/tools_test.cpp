// The five tool dialogs opened from the main dialog's buttons and driven as a
// user would: buttons, track bars, mouse marks and drags, the real file
// dialog; then their effect on the history.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/app_win.h"
#include "export/bmp_writer.h"
#include "resources/resource.h"
#include "tests/gui/gui_harness.h"
#include "app/tool_dialog_win.h"

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
};
std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

Rgb PixelOf(const FrameImage& f, int x, int y) {
    const uint8_t* p = f.Row(y) + 3 * x;
    return {p[2], p[1], p[0]};
}

void SetPixel(FrameImage& f, int x, int y, Rgb c) {
    uint8_t* p = f.Row(y) + 3 * x;
    p[0] = static_cast<uint8_t>(c.b);
    p[1] = static_cast<uint8_t>(c.g);
    p[2] = static_cast<uint8_t>(c.r);
}

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255},
    kBlack{0, 0, 0};

// Quarters: red top-left, green top-right, blue bottom-left, white bottom-right.
FrameImage Quarters() {
    FrameImage f{};
    InitFrameHeader(128, 128, f.bytes);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            SetPixel(f, x, y, y < 64 ? (x < 64 ? kRed : kGreen) : (x < 64 ? kBlue : kWhite));
    return f;
}

FrameImage Uniform(Rgb c) {
    FrameImage f{};
    InitFrameHeader(128, 128, f.bytes);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            SetPixel(f, x, y, c);
    return f;
}

// A picture arrives as a new history state, as a load does.
void PushPicture(const FrameImage& picture) {
    DropRedo(g_app.history);
    PushState(g_app.history);
    CopyFrameImage(CurrentPicture(g_app.history), picture);
    AfterEdit();
}

bool SamePixels(const FrameImage& a, const FrameImage& b) {
    return std::memcmp(a.Pixels(), b.Pixels(), kFramePixelBytes) == 0;
}

// Opens the tool of `button` and hands its dialog to `action`, which must end it.
void WithTool(HWND main, int button, const std::function<void(HWND)>& action) {
    bool seen = false;
    OnNextDialog([&](HWND tool) {
        seen = true;
        action(tool);
    });
    SendMessageA(GetDlgItem(main, button), BM_CLICK, 0, 0);
    EXPECT_TRUE(seen) << "tool " << button << " did not open";
}

void Click(HWND dialog, int id) {
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void MoveTrackBar(HWND dialog, int id, int position) {
    HWND bar = GetDlgItem(dialog, id);
    SendMessageA(bar, TBM_SETPOS, TRUE, position);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position),
                 reinterpret_cast<LPARAM>(bar));
}

POINT ControlOrigin(HWND dialog, int id) {
    RECT r;
    GetWindowRect(GetDlgItem(dialog, id), &r);
    POINT p = {r.left, r.top};
    ScreenToClient(dialog, &p);
    return p;
}

SIZE ControlSize(HWND dialog, int id) {
    RECT r;
    GetWindowRect(GetDlgItem(dialog, id), &r);
    return {r.right - r.left, r.bottom - r.top};
}

void Mouse(HWND dialog, UINT message, int x, int y) {
    SendMessageA(dialog, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(x, y));
}

// Marks from picture (x0, y0) to (x1, y1) on the preview `id`. Positions in
// dialog client pixels are the preview's client position plus the picture
// coordinates, since the picture is painted at the preview's top-left.
void Mark(HWND dialog, int id, int x0, int y0, int x1, int y1) {
    POINT o = ControlOrigin(dialog, id);
    Mouse(dialog, WM_LBUTTONDOWN, o.x + x0, o.y + y0);
    Mouse(dialog, WM_MOUSEMOVE, o.x + x1, o.y + y1);
    Mouse(dialog, WM_LBUTTONUP, o.x + x1, o.y + y1);
}

std::string TempFile(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name;
}

// The file dialog: type the name and press its OK.
std::function<void(HWND)> ChooseFile(const std::string& path) {
    return [path](HWND fileDialog) {
        EXPECT_EQ(WindowText(fileDialog), "Find baground image (bmp, jpg, gif)");
        SetWindowTextA(GetDlgItem(fileDialog, 1148), path.c_str());
        SendMessageA(GetDlgItem(fileDialog, IDOK), BM_CLICK, 0, 0);
    };
}

void ExpectOneNewState(int headBefore) {
    EXPECT_EQ(g_app.history.head, (headBefore + 1) % kHistorySlots);
    EXPECT_EQ(g_app.history.cursor, g_app.history.head);
}

TEST(RotateTool, PressesChangeTheWorkingCopyAndOkAddsOneState) {
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        FrameImage quarters = Quarters();
        PushPicture(quarters);
        int head = g_app.history.head;
        WithTool(main, IDC_ROTATE, [&](HWND tool) {
            EXPECT_EQ(WindowText(tool), "Rotate");
            EXPECT_EQ(ControlSize(tool, IDC_TOOL_PREVIEW).cx, 130);
            EXPECT_TRUE(SamePixels(*g_app.WorkImage, quarters));
            for (int i = 0; i < 4; ++i)
                Click(tool, IDC_TOOL_LEFT);
            EXPECT_TRUE(SamePixels(*g_app.WorkImage, quarters));
            Click(tool, IDC_TOOL_LEFT); // green comes to the top-left
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 0, 0), kGreen);
            Click(tool, IDC_TOOL_RIGHT);
            Click(tool, IDC_TOOL_MIRROR); // green top-left, red top-right
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 0, 0), kGreen);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 127, 0), kRed);
            Click(tool, IDC_TOOL_FLIP); // white top-left now
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 0, 0), kWhite);
            UpdateWindow(tool);
            Pump(150);
            EXPECT_EQ(
                ScreenPixelBecomes(GetDlgItem(tool, IDC_TOOL_PREVIEW), 10, 10, RGB(255, 255, 255)),
                RGB(255, 255, 255));
            SaveScreenshot(tool, "rotate_dialog");
            Click(tool, IDOK);
        });
        ExpectOneNewState(head);
        EXPECT_EQ(PixelOf(CurrentPicture(g_app.history), 0, 0), kWhite);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main, IDC_UNDO)));
        Click(main, IDC_UNDO);
        EXPECT_TRUE(SamePixels(CursorPicture(g_app.history), quarters));
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(RotateTool, CancelKeepsTheHistoryButDropsRedo) {
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        PushPicture(Quarters());
        PushPicture(Uniform(kBlue));
        Click(main, IDC_UNDO); // a redo state exists now
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main, IDC_REDO)));
        int cursor = g_app.history.cursor;
        WithTool(main, IDC_ROTATE, [](HWND tool) {
            Click(tool, IDC_TOOL_MIRROR);
            Click(tool, IDCANCEL);
        });
        EXPECT_EQ(g_app.history.head, cursor); // the redo state went when the tool opened
        EXPECT_EQ(g_app.history.cursor, cursor);
        EXPECT_TRUE(SamePixels(CurrentPicture(g_app.history), Quarters()));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main, IDC_UNDO)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, IDC_REDO)));
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(ImageProcessingTool, EffectsTrackBarsAndSmallOkButtons) {
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        PushPicture(Uniform({100, 50, 200}));
        int head = g_app.history.head;
        WithTool(main, IDC_PROCESS, [&](HWND tool) {
            EXPECT_EQ(WindowText(tool), "Image Processing");
            HWND preview = GetDlgItem(tool, IDC_TOOL_PREVIEW);
            for (int id : {IDC_PROC_BRIGHTNESS, IDC_PROC_CONTRAST, IDC_PROC_ZOOM})
                EXPECT_EQ(SendMessageA(GetDlgItem(tool, id), TBM_GETPOS, 0, 0), 0);
            EXPECT_EQ(SendMessageA(GetDlgItem(tool, IDC_PROC_BRIGHTNESS), TBM_GETRANGEMIN, 0, 0),
                      -200);
            EXPECT_EQ(SendMessageA(GetDlgItem(tool, IDC_PROC_ZOOM), TBM_GETRANGEMAX, 0, 0), 60);

            Click(tool, IDC_PROC_NEGATIVE);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 5, 5), (Rgb{155, 205, 55}));
            Click(tool, IDC_PROC_NEGATIVE);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 5, 5), (Rgb{100, 50, 200}));

            // Brightness +50 shows in the preview only...
            MoveTrackBar(tool, IDC_PROC_BRIGHTNESS, 50);
            Pump(100);
            EXPECT_EQ(ScreenPixelBecomes(preview, 64, 64, RGB(150, 100, 249)), RGB(150, 100, 249));
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 5, 5), (Rgb{100, 50, 200}));
            // ...until its small OK takes it.
            Click(tool, IDC_PROC_TAKE_BRIGHTNESS);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 5, 5), (Rgb{150, 100, 249}));

            // An untaken adjustment is dropped by an effect.
            MoveTrackBar(tool, IDC_PROC_CONTRAST, -100);
            Click(tool, IDC_PROC_GRAYSCALE);
            Rgb grey = PixelOf(*g_app.WorkImage, 5, 5);
            EXPECT_EQ(grey.r, grey.g);
            EXPECT_EQ(grey.g, grey.b);
            EXPECT_EQ(grey.r, (306 * 150 + 601 * 100 + 117 * 249) >> 10);

            // Zoom out to -10: black borders around a shrunk picture.
            MoveTrackBar(tool, IDC_PROC_ZOOM, -10);
            Pump(100);
            // (Pixel 0 is under the control's own frame line.)
            EXPECT_EQ(ScreenPixelBecomes(preview, 1, 1, RGB(0, 0, 0)), RGB(0, 0, 0));
            EXPECT_EQ(ScreenPixelBecomes(preview, 126, 126, RGB(0, 0, 0)), RGB(0, 0, 0));
            EXPECT_EQ(ScreenPixelBecomes(preview, 2, 2, RGB(grey.r, grey.g, grey.b)),
                      RGB(grey.r, grey.g, grey.b));
            // The single-precision resampler may lose a level inside.
            EXPECT_NEAR(GetRValue(ScreenPixel(preview, 64, 64)), grey.r, 1);
            SaveScreenshot(tool, "image_processing_dialog");
            Click(tool, IDOK); // without the small OK: the zoom is not committed
        });
        ExpectOneNewState(head);
        EXPECT_EQ(PixelOf(CurrentPicture(g_app.history), 0, 0), PixelOf(*g_app.WorkImage, 0, 0));
        EXPECT_NE(PixelOf(CurrentPicture(g_app.history), 0, 0), kBlack);
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(AlphaBlendingTool, TrackBarBackgroundFileAndKeptShare) {
    std::string background = TempFile("pixmora_gui_background.bmp");
    FrameImage white = Uniform(kWhite);
    ASSERT_EQ(WriteBmpFile(background.c_str(), white), 1);
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        PushPicture(Uniform({100, 100, 100}));
        int head = g_app.history.head;
        WithTool(main, IDC_BLEND, [&](HWND tool) {
            EXPECT_EQ(WindowText(tool), "Alpha Blending");
            HWND bar = GetDlgItem(tool, IDC_BLEND_TRACK);
            EXPECT_EQ(SendMessageA(bar, TBM_GETPOS, 0, 0), 0);
            EXPECT_EQ(SendMessageA(bar, TBM_GETRANGEMAX, 0, 0), 100);
            // The three previews sit where the layout puts them.
            POINT current = ControlOrigin(tool, IDC_BLEND_CURRENT);
            POINT back = ControlOrigin(tool, IDC_BLEND_BACKGROUND);
            POINT result = ControlOrigin(tool, IDC_TOOL_PREVIEW);
            EXPECT_EQ(back.x - current.x, 138);
            EXPECT_EQ(result.x - current.x, 64);
            EXPECT_EQ(result.y - current.y, 160);
            // Black start background: the picture darkens towards black.
            MoveTrackBar(tool, IDC_BLEND_TRACK, 50);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 3, 3), (Rgb{50, 50, 50}));
            MoveTrackBar(tool, IDC_BLEND_TRACK, 100);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 3, 3), (Rgb{0, 0, 0}));
            // A white background from the real file dialog, blended at the
            // committed share (0) until the track bar moves again.
            OnNextDialog(ChooseFile(background));
            Click(tool, IDC_BLEND_OPEN);
            EXPECT_TRUE(NextDialogHandled());
            EXPECT_STREQ(g_app.BackgroundPath, background.c_str());
            EXPECT_TRUE(SamePixels(*g_app.BackgroundImage, white));
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 3, 3), (Rgb{100, 100, 100}));
            MoveTrackBar(tool, IDC_BLEND_TRACK, 40);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 3, 3), (Rgb{161, 161, 161}));
            UpdateWindow(tool);
            Pump(150);
            SaveScreenshot(tool, "alpha_blending_dialog");
            Click(tool, IDOK);
        });
        ExpectOneNewState(head);
        EXPECT_EQ(g_app.BlendPercent, 40);
        EXPECT_EQ(PixelOf(CurrentPicture(g_app.history), 3, 3), (Rgb{161, 161, 161}));
        // The next opening starts at the kept share with the kept background.
        WithTool(main, IDC_BLEND, [&](HWND tool) {
            EXPECT_EQ(SendMessageA(GetDlgItem(tool, IDC_BLEND_TRACK), TBM_GETPOS, 0, 0), 40);
            MoveTrackBar(tool, IDC_BLEND_TRACK, 90);
            Click(tool, IDCANCEL);
        });
        EXPECT_EQ(g_app.BlendPercent, 40);
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
    DeleteFileA(background.c_str());
}

TEST(CropTool, MarkCutAndDragTheBlock) {
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        FrameImage quarters = Quarters();
        PushPicture(quarters);
        int head = g_app.history.head;
        WithTool(main, IDC_CROP, [&](HWND tool) {
            EXPECT_EQ(WindowText(tool), "Crop");
            // Nothing marked: Crop to Move does nothing.
            Click(tool, IDC_CROP_CUT);
            EXPECT_TRUE(SamePixels(*g_app.WorkImage, quarters));
            // Mark picture (10, 10)-(40, 30): a 30 x 20 block of red.
            Mark(tool, IDC_TOOL_PREVIEW, 10, 10, 40, 30);
            Click(tool, IDC_CROP_CUT);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 10, 10), kRed);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 39, 29), kRed);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 40, 10), kBlack);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 100, 100), kBlack);
            // Drag it far right and down: it stops at 128 - size.
            POINT o = ControlOrigin(tool, IDC_TOOL_PREVIEW);
            Mouse(tool, WM_LBUTTONDOWN, o.x + 20, o.y + 20);
            Mouse(tool, WM_MOUSEMOVE, o.x + 300, o.y + 300);
            Mouse(tool, WM_LBUTTONUP, o.x + 300, o.y + 300);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 98, 108), kRed);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 127, 127), kRed);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 97, 108), kBlack);
            // And back to the top-left corner, which a mark cannot reach.
            Mouse(tool, WM_LBUTTONDOWN, o.x + 110, o.y + 115);
            Mouse(tool, WM_MOUSEMOVE, o.x - 50 < 0 ? 0 : o.x - 50, 0);
            Mouse(tool, WM_LBUTTONUP, 0, 0);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 0, 0), kRed);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 29, 19), kRed);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 30, 19), kBlack);
            UpdateWindow(tool);
            Pump(150);
            SaveScreenshot(tool, "crop_dialog");
            Click(tool, IDOK);
        });
        ExpectOneNewState(head);
        EXPECT_EQ(PixelOf(CurrentPicture(g_app.history), 0, 0), kRed);
        EXPECT_EQ(PixelOf(CurrentPicture(g_app.history), 64, 64), kBlack);
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(DigitalFrameTool, FrameFileMarkAndSelect) {
    std::string framePath = TempFile("pixmora_gui_frame.bmp");
    ASSERT_EQ(WriteBmpFile(framePath.c_str(), Uniform(kGreen)), 1);
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        PushPicture(Uniform(kBlue));
        int head = g_app.history.head;
        WithTool(main, IDC_FRAME, [&](HWND tool) {
            EXPECT_EQ(WindowText(tool), "Digital Frame");
            EXPECT_EQ(ControlSize(tool, IDC_FRAME_ART).cx, 128);
            POINT photo = ControlOrigin(tool, IDC_FRAME_PHOTO);
            POINT art = ControlOrigin(tool, IDC_FRAME_ART);
            POINT result = ControlOrigin(tool, IDC_TOOL_PREVIEW);
            EXPECT_EQ(art.x - photo.x, 138);
            EXPECT_EQ(result.y - photo.y, 158);
            OnNextDialog(ChooseFile(framePath));
            Click(tool, IDC_FRAME_OPEN);
            EXPECT_TRUE(NextDialogHandled());
            EXPECT_EQ(PixelOf(*g_app.FrameArtImage, 0, 0), kGreen);
            // A window 7 x 5 is used as 4 x 4: rows 20..22 photo, row 23 frame.
            Mark(tool, IDC_FRAME_ART, 30, 20, 37, 25);
            Click(tool, IDC_FRAME_SELECT);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 30, 20), kBlue);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 33, 22), kBlue);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 33, 23), kGreen);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 34, 20), kGreen);
            // A bigger window for the screenshot.
            Mark(tool, IDC_FRAME_ART, 20, 20, 100, 90);
            Click(tool, IDC_FRAME_SELECT);
            UpdateWindow(tool);
            Pump(150);
            SaveScreenshot(tool, "digital_frame_dialog");
            Click(tool, IDOK);
        });
        ExpectOneNewState(head);
        EXPECT_EQ(PixelOf(CurrentPicture(g_app.history), 0, 0), kGreen);
        EXPECT_EQ(PixelOf(CurrentPicture(g_app.history), 50, 50), kBlue);
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
    DeleteFileA(framePath.c_str());
}

// The main dialog stays out of reach while a tool is open, also after the
// tool's file dialog (which belongs to the main dialog) has closed.
TEST(DigitalFrameTool, NoSecondToolOpensAndAQuickSecondPressStillMarks) {
    std::string framePath = TempFile("pixmora_gui_frame2.bmp");
    ASSERT_EQ(WriteBmpFile(framePath.c_str(), Uniform(kGreen)), 1);
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        PushPicture(Uniform(kBlue));
        WithTool(main, IDC_FRAME, [&](HWND tool) {
            EXPECT_FALSE(IsWindowEnabled(main));
            OnNextDialog(ChooseFile(framePath));
            Click(tool, IDC_FRAME_OPEN);
            EXPECT_TRUE(NextDialogHandled());
            EXPECT_FALSE(IsWindowEnabled(main));
            EXPECT_TRUE(IsWindowEnabled(tool));
            // Rotate reaches the main dialog anyway (sent, not clicked): no second tool.
            bool second = false;
            OnNextDialog(
                [&](HWND other) {
                    second = true;
                    Click(other, IDCANCEL);
                },
                500);
            SendMessageA(main, WM_COMMAND, IDC_ROTATE, 0);
            Pump(700);
            EXPECT_FALSE(second);
            ASSERT_NE(g_toolScratch.first, nullptr);
            // A first press, then a quick second one the dialog class reports
            // as a double click: the second mark counts.
            POINT o = ControlOrigin(tool, IDC_FRAME_ART);
            Mark(tool, IDC_FRAME_ART, 10, 10, 20, 20);
            Mouse(tool, WM_LBUTTONDBLCLK, o.x + 30, o.y + 20);
            Mouse(tool, WM_MOUSEMOVE, o.x + 37, o.y + 25);
            Mouse(tool, WM_LBUTTONUP, o.x + 37, o.y + 25);
            Click(tool, IDC_FRAME_SELECT);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 30, 20), kBlue);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 33, 23), kGreen);
            Click(tool, IDOK);
        });
        EXPECT_TRUE(IsWindowEnabled(main));
        EXPECT_EQ(PixelOf(CurrentPicture(g_app.history), 30, 20), kBlue);
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
    DeleteFileA(framePath.c_str());
}

TEST(CropTool, AQuickSecondPressPicksUpTheBlock) {
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        PushPicture(Quarters());
        WithTool(main, IDC_CROP, [&](HWND tool) {
            Mark(tool, IDC_TOOL_PREVIEW, 10, 10, 40, 30);
            Click(tool, IDC_CROP_CUT);
            POINT o = ControlOrigin(tool, IDC_TOOL_PREVIEW);
            Mouse(tool, WM_LBUTTONDBLCLK, o.x + 20, o.y + 20);
            Mouse(tool, WM_MOUSEMOVE, o.x + 60, o.y + 60);
            Mouse(tool, WM_LBUTTONUP, o.x + 60, o.y + 60);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 50, 50), kRed);
            EXPECT_EQ(PixelOf(*g_app.WorkImage, 10, 10), kBlack);
            Click(tool, IDCANCEL);
        });
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(FileDialogs, TheRecordHasTheWindows2000Size) {
    OPENFILENAMEA ofn;
    PrepareOpenFileName(ofn, nullptr);
#ifdef _WIN64
    EXPECT_EQ(ofn.lStructSize, offsetof(OPENFILENAMEA, pvReserved));
#else
    EXPECT_EQ(ofn.lStructSize, 76u);
#endif
}

TEST(CropTool, HandPointersAre32PixelHandsWithTheirHotSpot) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    HICON open = LoadIconA(self, MAKEINTRESOURCEA(IDI_HAND_OPEN));
    HCURSOR grab = LoadCursorA(self, MAKEINTRESOURCEA(IDC_HAND_GRAB));
    ASSERT_NE(open, nullptr);
    ASSERT_NE(grab, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(grab, &info));
    EXPECT_EQ(info.xHotspot, 16u);
    EXPECT_EQ(info.yHotspot, 14u);
    BITMAP bm = {};
    GetObjectA(info.hbmMask, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 32);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    // Both drawn 4 times enlarged on white, for a person to look at.
    EXPECT_TRUE(SaveDrawing("hand_pointers", 300, 150, [&](HDC dc) {
        RECT all = {0, 0, 300, 150};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        DrawIconEx(dc, 10, 10, open, 128, 128, 0, nullptr, DI_NORMAL);
        DrawIconEx(dc, 160, 10, grab, 128, 128, 0, nullptr, DI_NORMAL);
    }));
}

} // namespace

namespace {

// A real photo from the decoder corpus beside the project, or "".
std::string CorpusPhoto() {
    std::string path =
        std::string(PIXMORA_SOURCE_DIR) + "/../shared/corpus/jpeg/image-rs/progressive-cat.jpg";
    for (char& c : path)
        if (c == '/') c = '\\';
    if (path[0] == '\\') path = "Z:" + path;
    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES ? "" : path;
}

TEST(ToolScreenshots, EveryToolWithARealPhoto) {
    std::string photo = CorpusPhoto();
    if (photo.empty()) GTEST_SKIP() << "the decoder corpus is not beside the project";
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        DropRedo(g_app.history);
        PushState(g_app.history);
        ASSERT_EQ(LoadPicture(photo.c_str(), GetDlgItem(main, IDC_PREVIEW),
                              CurrentPicture(g_app.history)),
                  1);
        AfterEdit();
        // A photo is not one colour: the decode filled the picture.
        const FrameImage& loaded = CurrentPicture(g_app.history);
        EXPECT_NE(PixelOf(loaded, 10, 10), PixelOf(loaded, 100, 100));
        auto shoot = [&](int button, const char* name, const std::function<void(HWND)>& act) {
            WithTool(main, button, [&](HWND tool) {
                act(tool);
                UpdateWindow(tool);
                Pump(150);
                SaveScreenshot(tool, name);
                Click(tool, IDCANCEL);
            });
        };
        shoot(IDC_ROTATE, "rotate_dialog_photo", [](HWND tool) { Click(tool, IDC_TOOL_LEFT); });
        shoot(IDC_PROCESS, "image_processing_dialog_photo",
              [](HWND tool) { MoveTrackBar(tool, IDC_PROC_ZOOM, 15); });
        shoot(IDC_CROP, "crop_dialog_photo", [](HWND tool) {
            Mark(tool, IDC_TOOL_PREVIEW, 30, 20, 90, 80);
            Click(tool, IDC_CROP_CUT);
        });
        shoot(IDC_BLEND, "alpha_blending_dialog_photo",
              [](HWND tool) { MoveTrackBar(tool, IDC_BLEND_TRACK, 30); });
        shoot(IDC_FRAME, "digital_frame_dialog_photo", [](HWND tool) {
            Mark(tool, IDC_FRAME_ART, 16, 16, 112, 112);
            Click(tool, IDC_FRAME_SELECT);
        });
        InvalidateRect(main, nullptr, TRUE);
        UpdateWindow(main);
        Pump(300);
        SaveScreenshot(main, "main_dialog_photo");
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

} // namespace
