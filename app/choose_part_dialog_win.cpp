// "Choose the part" (template IDD_CHOOSE_PART): the whole photo, scaled to
// about 400 x 400, with the part the frame will show as a square; beside it
// the frame's picture of that part at 1:1, which follows every change. The
// square is dragged to move it and by a corner to size it; the arrow keys
// move it by 1 % (Shift: 10 %), + and - and the wheel size it; "Suggest"
// puts it back where the content suggests. OK loads the photo with that
// part as one new history state. The rules of the square are the core's
// (fit/part_choice.h); the fits are the click's (FitPart).
#include "app/app_win.h"
#include "app/browser_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "codecs/decode_failure.h"
#include "fit/fit_options.h"
#include "fit/part_choice.h"
#include "fit/subject_region.h"
#include "resources/resource.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr int kViewSide = 400;    // the longer side of the photo as shown
constexpr int kMargin = 10;       // around and between the dialog's parts
constexpr int kHandle = 4;        // half the side of a corner's handle
constexpr int kButtonHeight = 23; // in pixels, as the template's 14 units
const char kViewClass[] = "PixmoraPartView";

struct PartSession {
    FitOptions fit;
    int orientation = 1;
    PartChoice choice;
    PictureRect suggestion;
    int32_t viewW = 0, viewH = 0; // the photo as shown
    int32_t viewStride = 0;
    std::vector<uint8_t> shown, dimmed; // bottom-up 24-bit rows: the photo, and darker
    BITMAPINFOHEADER info{};
    FrameImage result{};
    enum class Drag { kNone, kMove, kCorner } drag = Drag::kNone;
    PartCorner corner = PartCorner::kBottomRight;
    int64_t grabX = 0, grabY = 0; // a move: the pointer from the square's corner, photo pixels
    int wheel = 0;                // wheel turn not yet a whole step
    HWND dialog = nullptr;
    bool chosen = false;
};

PartSession* g_part = nullptr;

// Photo pixels of a view position, and view positions of photo pixels.
int64_t PhotoX(int vx) {
    return static_cast<int64_t>(vx) * g_part->choice.width / g_part->viewW;
}
int64_t PhotoY(int vy) {
    return static_cast<int64_t>(vy) * g_part->choice.height / g_part->viewH;
}
RECT ViewRectOfSquare() {
    const PartChoice& c = g_part->choice;
    auto vx = [&](int64_t x) { return static_cast<LONG>(x * g_part->viewW / c.width); };
    auto vy = [&](int64_t y) { return static_cast<LONG>(y * g_part->viewH / c.height); };
    const PictureRect& s = c.square;
    return RECT{vx(s.x), vy(s.y), vx(int64_t(s.x) + s.w), vy(int64_t(s.y) + s.h)};
}

// The frame's picture of the square, painted at once; the view repainted.
void Refresh() {
    PartSession& p = *g_part;
    FitPart(g_app.loadBuffers, p.fit, p.orientation, p.choice.square, p.result);
    HWND view = GetDlgItem(p.dialog, IDC_PART_VIEW);
    InvalidateRect(view, nullptr, FALSE);
    UpdateWindow(view);
    PaintFrameImage(GetDlgItem(p.dialog, IDC_PART_RESULT), p.result);
}

void PaintView(HWND view) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(view, &ps);
    const PartSession& p = *g_part;
    RECT client;
    GetClientRect(view, &client);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        FillRect(memory, &client, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
        auto blit = [&](const std::vector<uint8_t>& pixels) {
            SetDIBitsToDevice(memory, 0, 0, p.viewW, p.viewH, 0, 0, 0, p.viewH, pixels.data(),
                              reinterpret_cast<const BITMAPINFO*>(&p.info), DIB_RGB_COLORS);
        };
        // The photo dimmed, and clear inside the square.
        blit(p.dimmed);
        const RECT square = ViewRectOfSquare();
        const int saved = SaveDC(memory);
        IntersectClipRect(memory, square.left, square.top, square.right, square.bottom);
        blit(p.shown);
        RestoreDC(memory, saved);
        // Its edge in white and black, seen on any photo, and the corners' handles.
        RECT outer = {square.left - 1, square.top - 1, square.right + 1, square.bottom + 1};
        FrameRect(memory, &outer, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        FrameRect(memory, &square, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        for (LONG x : {square.left, square.right})
            for (LONG y : {square.top, square.bottom}) {
                RECT h = {x - kHandle, y - kHandle, x + kHandle, y + kHandle};
                FillRect(memory, &h, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
                FrameRect(memory, &h, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            }
        BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    EndPaint(view, &ps);
}

// The corner of the square under view position (x, y), if any.
bool CornerAt(int x, int y, PartCorner& corner) {
    const RECT s = ViewRectOfSquare();
    const struct {
        LONG x, y;
        PartCorner corner;
    } corners[] = {{s.left, s.top, PartCorner::kTopLeft},
                   {s.right, s.top, PartCorner::kTopRight},
                   {s.left, s.bottom, PartCorner::kBottomLeft},
                   {s.right, s.bottom, PartCorner::kBottomRight}};
    for (const auto& c : corners)
        if (std::abs(x - c.x) <= kHandle + 1 && std::abs(y - c.y) <= kHandle + 1) {
            corner = c.corner;
            return true;
        }
    return false;
}

void Press(HWND view, int x, int y) {
    PartSession& p = *g_part;
    SetFocus(view);
    SetCapture(view);
    if (CornerAt(x, y, p.corner)) {
        p.drag = PartSession::Drag::kCorner;
        return;
    }
    const RECT s = ViewRectOfSquare();
    const POINT at = {x, y};
    if (!PtInRect(&s, at)) { // elsewhere: the square is centred there first
        PlacePart(p.choice, PhotoX(x) - p.choice.square.w / 2, PhotoY(y) - p.choice.square.h / 2);
        Refresh();
    }
    p.drag = PartSession::Drag::kMove;
    p.grabX = PhotoX(x) - p.choice.square.x;
    p.grabY = PhotoY(y) - p.choice.square.y;
}

void Move(int x, int y) {
    PartSession& p = *g_part;
    const PictureRect before = p.choice.square;
    if (p.drag == PartSession::Drag::kMove)
        PlacePart(p.choice, PhotoX(x) - p.grabX, PhotoY(y) - p.grabY);
    else if (p.drag == PartSession::Drag::kCorner)
        DragPartCorner(p.choice, p.corner, PhotoX(x), PhotoY(y));
    else
        return;
    const PictureRect& s = p.choice.square;
    if (s.x != before.x || s.y != before.y || s.w != before.w) Refresh();
}

bool Key(WPARAM key) {
    PartChoice& c = g_part->choice;
    const int step = GetKeyState(VK_SHIFT) < 0 ? 10 : 1;
    switch (key) {
    case VK_LEFT: NudgePart(c, -step, 0); break;
    case VK_RIGHT: NudgePart(c, step, 0); break;
    case VK_UP: NudgePart(c, 0, -step); break;
    case VK_DOWN: NudgePart(c, 0, step); break;
    case VK_ADD:
    case VK_OEM_PLUS: ResizePart(c, 1); break;
    case VK_SUBTRACT:
    case VK_OEM_MINUS: ResizePart(c, -1); break;
    default: return false;
    }
    Refresh();
    return true;
}

void SetPointer(int x, int y) {
    PartCorner corner;
    const RECT s = ViewRectOfSquare();
    const POINT at = {x, y};
    const char* shape = MAKEINTRESOURCEA(32512); // IDC_ARROW
    if (CornerAt(x, y, corner))
        shape = corner == PartCorner::kTopLeft || corner == PartCorner::kBottomRight
                    ? MAKEINTRESOURCEA(32642)  // IDC_SIZENWSE
                    : MAKEINTRESOURCEA(32643); // IDC_SIZENESW
    else if (PtInRect(&s, at))
        shape = MAKEINTRESOURCEA(32646); // IDC_SIZEALL
    SetCursor(LoadCursorA(nullptr, shape));
}

LRESULT CALLBACK ViewProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!g_part) return DefWindowProcA(view, message, wParam, lParam);
    PartSession& p = *g_part;
    switch (message) {
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_PAINT: PaintView(view); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: Press(view, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); return 0;
    case WM_MOUSEMOVE: Move(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); return 0;
    case WM_LBUTTONUP:
        p.drag = PartSession::Drag::kNone;
        if (GetCapture() == view) ReleaseCapture();
        return 0;
    case WM_CAPTURECHANGED: p.drag = PartSession::Drag::kNone; return 0;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            POINT at;
            GetCursorPos(&at);
            ScreenToClient(view, &at);
            SetPointer(at.x, at.y);
            return TRUE;
        }
        break;
    case WM_MOUSEWHEEL: {
        p.wheel += GET_WHEEL_DELTA_WPARAM(wParam);
        const int steps = p.wheel / WHEEL_DELTA;
        p.wheel -= steps * WHEEL_DELTA;
        if (steps) {
            ResizePart(p.choice, steps);
            Refresh();
        }
        return 0;
    }
    case WM_KEYDOWN:
        if (Key(wParam)) return 0;
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: InvalidateRect(view, nullptr, FALSE); return 0;
    default: break;
    }
    return DefWindowProcA(view, message, wParam, lParam);
}

bool RegisterViewClass() {
    WNDCLASSA c = {};
    if (GetClassInfoA(g_app.instance, kViewClass, &c)) return true;
    c.style = CS_DBLCLKS;
    c.lpfnWndProc = ViewProc;
    c.hInstance = g_app.instance;
    c.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    c.lpszClassName = kViewClass;
    return RegisterClassA(&c) != 0;
}

void Place(HWND dialog, int id, int x, int y, int w, int h) {
    MoveWindow(GetDlgItem(dialog, id), x, y, w, h, FALSE);
}

// The parts in pixels: the view of the photo at the left, the result, the
// suggestion, the hint and OK / Cancel in a column at its right.
void LayOut(HWND dialog) {
    const PartSession& p = *g_part;
    const int column = kMargin + kViewSide + 2 + kMargin, width = kFrameSide + 2;
    Place(dialog, IDC_PART_VIEW, kMargin, kMargin, p.viewW, p.viewH);
    Place(dialog, IDC_PART_LABEL, column, kMargin, width, 16);
    Place(dialog, IDC_PART_RESULT, column, kMargin + 18, kFrameSide, kFrameSide);
    Place(dialog, IDC_PART_SUGGEST, column, kMargin + 18 + kFrameSide + kMargin, width,
          kButtonHeight);
    Place(dialog, IDC_PART_HINT, column, kMargin + 18 + kFrameSide + 2 * kMargin + kButtonHeight,
          width, 100);
    const int bottom = kMargin + kViewSide + 2;
    Place(dialog, IDOK, column, bottom - 2 * kButtonHeight - 6, width, kButtonHeight);
    Place(dialog, IDCANCEL, column, bottom - kButtonHeight, width, kButtonHeight);
    RECT frame = {0, 0, column + width + kMargin, bottom + kMargin};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_EXSTYLE)));
    RECT now;
    GetWindowRect(dialog, &now);
    // Centred on the owner's centre, as the template's DS_CENTER placed it.
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    const int cx = (now.left + now.right) / 2, cy = (now.top + now.bottom) / 2;
    MoveWindow(dialog, cx - w / 2, cy - h / 2, w, h, TRUE);
}

INT_PTR CALLBACK ChoosePartDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        g_part->dialog = dialog;
        LayOut(dialog);
        Refresh();
        SetFocus(GetDlgItem(dialog, IDC_PART_VIEW));
        return FALSE; // the focus is set
    case WM_DRAWITEM: // the result, an owner-drawn static
        if (wParam != IDC_PART_RESULT) return FALSE;
        PaintFrameImage(GetDlgItem(dialog, IDC_PART_RESULT), g_part->result);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PART_SUGGEST:
            g_part->choice =
                StartPartChoice(g_part->choice.width, g_part->choice.height, g_part->suggestion);
            Refresh();
            SetFocus(GetDlgItem(dialog, IDC_PART_VIEW));
            return TRUE;
        case IDOK:
            g_part->chosen = true;
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        default: return FALSE;
        }
    default: return FALSE;
    }
}

// The photo as shown: the upright picture stretched into the view's size,
// and a darker copy for what lies outside the square.
bool MakeView(PartSession& p) {
    const int32_t w = p.choice.width, h = p.choice.height;
    p.viewW =
        w >= h ? kViewSide : static_cast<int32_t>(std::max<int64_t>(1, int64_t(kViewSide) * w / h));
    p.viewH =
        h >= w ? kViewSide : static_cast<int32_t>(std::max<int64_t>(1, int64_t(kViewSide) * h / w));
    p.viewStride = (p.viewW * 3 + 3) / 4 * 4;
    p.shown.assign(static_cast<size_t>(p.viewStride) * p.viewH, 0);
    if (!StretchUprightInto(g_app.loadBuffers, p.orientation, p.viewW, p.viewH, p.shown.data(),
                            p.viewStride))
        return false;
    p.dimmed = p.shown;
    for (uint8_t& v : p.dimmed)
        v = static_cast<uint8_t>(v / 3 + 40);
    p.info.biSize = sizeof p.info;
    p.info.biWidth = p.viewW;
    p.info.biHeight = p.viewH; // bottom-up
    p.info.biPlanes = 1;
    p.info.biBitCount = 24;
    p.info.biCompression = BI_RGB;
    return true;
}

} // namespace

const PartChoice* OpenPartChoice() {
    return g_part ? &g_part->choice : nullptr;
}

const PictureRect* OpenPartSuggestion() {
    return g_part ? &g_part->suggestion : nullptr;
}

void ChoosePartOfFolderItem(int item) {
    App& a = g_app;
    if (g_part || item < 0 || item >= a.NameCount || item >= kNameSlots) return;
    char path[kPathBytes];
    const char* name = a.NameTable + static_cast<size_t>(item) * kPathBytes;
    if (!JoinFolderAndName(a.FolderPath, name, path)) return;
    std::unique_ptr<PartSession> session(new (std::nothrow) PartSession);
    if (!session || !RegisterViewClass()) {
        DecodeFail("out of memory");
        TellCouldNotRead(a.mainDialog, path);
        return;
    }
    PartSession& p = *session;
    p.fit = CurrentSettings().fit;
    p.fit.region = RegionRequest{};
    StopLoader(true);
    DecoderSet decoders = AppDecoders();
    ClearDecodeFailure();
    HCURSOR before = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514))); // IDC_WAIT
    const DecodeOutcome outcome = DecodeWholePicture(decoders, path, p.fit.upright, p.orientation);
    LoadBuffers& lb = a.loadBuffers;
    const bool transposed = p.orientation >= 5 && p.orientation <= 8;
    const int32_t w = transposed ? lb.raster.header.biHeight : lb.raster.header.biWidth;
    const int32_t h = transposed ? lb.raster.header.biWidth : lb.raster.header.biHeight;
    bool ready = HasOwnRaster(outcome) && w > 0 && h > 0 && RasterReadable(lb);
    if (ready) {
        p.suggestion = SuggestSubjectRegion(lb, p.orientation, 1, 1);
        p.choice = StartPartChoice(w, h, p.suggestion);
        try {
            ready = MakeView(p);
        } catch (const std::bad_alloc&) {
            DecodeFail("out of memory");
            ready = false;
        }
    }
    SetCursor(before);
    if (!ready) {
        TellCouldNotRead(a.mainDialog, path);
        return;
    }
    g_part = &p;
    DialogBoxParamA(a.instance, MAKEINTRESOURCEA(IDD_CHOOSE_PART), a.mainDialog,
                    ChoosePartDialogProc, 0);
    g_part = nullptr;
    if (p.chosen) {
        // The result shown is the fit of the part: it becomes the new state.
        FitPart(lb, p.fit, p.orientation, p.choice.square, p.result);
        ShowAsNewState(p.result);
    }
}
