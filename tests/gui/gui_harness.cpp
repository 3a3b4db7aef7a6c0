#include "tests/gui/gui_harness.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/app_win.h"
#include "resources/resource.h"

namespace {

std::function<void(HWND)> g_script;
std::function<void(HWND)> g_nextAction;
DWORD g_nextDeadline = 0;
bool g_nextHandled = false;
UINT_PTR g_scriptTimer = 0;
UINT_PTR g_nextTimer = 0;

bool g_harnessClosed = false;
UINT_PTR g_fallbackTimer = 0;

void AnswerToEnd(HWND box);

// Closes a dialog that the script left open, after giving posted input a
// moment to take effect; a question about unsaved album pictures is answered
// Yes, since the script's own checks are over.
void CALLBACK FallbackTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    g_fallbackTimer = 0;
    HWND dialog = g_app.mainDialog;
    if (IsWindow(dialog) && IsWindowVisible(dialog)) {
        g_harnessClosed = true;
        OnNextDialog(AnswerToEnd, 3000);
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    }
}

// ---- A dialog nobody answers ends the test, not the suite ----

// Longer than any dialog a test keeps open on purpose.
constexpr DWORD kUnansweredMs = 8000;
struct SeenDialog {
    HWND window;
    DWORD since;
};
std::vector<SeenDialog> g_seen;
UINT_PTR g_watchTimer = 0;

// Closes `box` with the button that ends it soonest: Cancel, else OK, else
// Yes (a Yes/No box has no other way out). A menu is dismissed.
void AnswerToEnd(HWND box) {
    if (ClassOf(box) == "#32768") {
        EndMenu();
        return;
    }
    for (int id : {IDCANCEL, IDOK, IDYES}) {
        HWND button = GetDlgItem(box, id);
        if (button && IsWindowVisible(button)) {
            PostMessageA(box, WM_COMMAND, id, 0);
            return;
        }
    }
    PostMessageA(box, WM_CLOSE, 0, 0);
}

BOOL CALLBACK NoteDialog(HWND window, LPARAM data) {
    auto* open = reinterpret_cast<std::vector<HWND>*>(data);
    const std::string kind = ClassOf(window);
    if (window != g_app.mainDialog && IsWindowVisible(window) &&
        (kind == "#32770" || kind == "#32768"))
        open->push_back(window);
    return TRUE;
}

// Every 250 ms: a dialog or message box open longer than kUnansweredMs is a
// failure of the running test, and is answered so the suite goes on.
void CALLBACK WatchTimer(HWND, UINT, UINT_PTR, DWORD) {
    std::vector<HWND> open;
    EnumThreadWindows(GetCurrentThreadId(), NoteDialog, reinterpret_cast<LPARAM>(&open));
    std::vector<SeenDialog> still;
    const DWORD now = GetTickCount();
    for (HWND window : open) {
        SeenDialog seen = {window, now};
        for (const SeenDialog& s : g_seen)
            if (s.window == window) seen = s;
        if (now - seen.since > kUnansweredMs) {
            ADD_FAILURE() << "a dialog nobody answered: \"" << WindowText(window) << "\" "
                          << MessageText(window);
            AnswerToEnd(window);
            seen.since = now; // answered: give it time to go
        }
        still.push_back(seen);
    }
    g_seen = still;
}

int g_scriptWaits = 0;

void CALLBACK ScriptTimer(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dialog = g_app.mainDialog;
    // The dialog manager shows the dialog once its queue first runs dry; a
    // script acts as a user does, on a dialog that is on screen (5 s at most).
    if (!(dialog && IsWindowVisible(dialog)) && ++g_scriptWaits < 50) return;
    KillTimer(nullptr, id);
    UpdateWindow(dialog);
    auto script = g_script;
    g_script = nullptr;
    if (script) script(dialog);
    g_fallbackTimer = SetTimer(nullptr, 0, 1500, FallbackTimer);
}

struct Finder {
    HWND found = nullptr;
};

std::vector<HWND> g_knownDialogs; // open when OnNextDialog was armed

const char* g_nextClass = "#32770"; // what OnNextDialog waits for: a dialog or a menu

bool IsDialogWindow(HWND window) {
    return IsWindowVisible(window) && ClassOf(window) == g_nextClass;
}

BOOL CALLBACK CollectDialogs(HWND window, LPARAM) {
    if (IsDialogWindow(window)) g_knownDialogs.push_back(window);
    return TRUE;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM data) {
    auto* f = reinterpret_cast<Finder*>(data);
    if (window != g_app.mainDialog && IsDialogWindow(window)) {
        for (HWND known : g_knownDialogs)
            if (known == window) return TRUE;
        f->found = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK NextDialogTimer(HWND, UINT, UINT_PTR id, DWORD) {
    Finder f;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&f));
    if (f.found) {
        KillTimer(nullptr, id);
        if (g_nextTimer == id) g_nextTimer = 0;
        auto action = g_nextAction;
        g_nextAction = nullptr;
        g_nextHandled = true;
        if (action) action(f.found);
        return;
    }
    if (GetTickCount() > g_nextDeadline) {
        KillTimer(nullptr, id);
        if (g_nextTimer == id) g_nextTimer = 0;
    }
}

} // namespace

bool RunMainDialog(const std::function<void(HWND)>& script) {
    if (!StartUp(GetModuleHandleA(nullptr))) return false;
    g_script = script;
    g_harnessClosed = false;
    g_scriptWaits = 0;
    g_scriptTimer = SetTimer(nullptr, 0, 100, ScriptTimer);
    g_seen.clear();
    g_watchTimer = SetTimer(nullptr, 0, 250, WatchTimer);
    DialogBoxParamA(g_app.instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    if (g_script) KillTimer(nullptr, g_scriptTimer);
    g_script = nullptr;
    KillTimer(nullptr, g_watchTimer);
    g_watchTimer = 0;
    // A timer left over from this dialog must not fire into the next one.
    if (g_fallbackTimer) KillTimer(nullptr, g_fallbackTimer);
    g_fallbackTimer = 0;
    if (g_nextTimer) KillTimer(nullptr, g_nextTimer);
    g_nextTimer = 0;
    g_nextAction = nullptr;
    return true;
}

bool HarnessHadToClose() {
    return g_harnessClosed;
}

static void ArmNext(const std::function<void(HWND)>& action, int timeoutMs);

void OnNextDialog(const std::function<void(HWND)>& action, int timeoutMs) {
    g_nextClass = "#32770";
    ArmNext(action, timeoutMs);
}

void OnNextMenu(const std::function<void(HWND)>& action, int timeoutMs) {
    g_nextClass = "#32768";
    ArmNext(action, timeoutMs);
}

static void ArmNext(const std::function<void(HWND)>& action, int timeoutMs) {
    if (g_nextTimer) KillTimer(nullptr, g_nextTimer);
    g_nextTimer = 0;
    g_nextAction = action;
    g_nextHandled = false;
    g_knownDialogs.clear();
    EnumThreadWindows(GetCurrentThreadId(), CollectDialogs, 0);
    g_nextDeadline = GetTickCount() + static_cast<DWORD>(timeoutMs);
    if (action) g_nextTimer = SetTimer(nullptr, 0, 50, NextDialogTimer);
}

bool NextDialogHandled() {
    return g_nextHandled;
}

void CloseAnyway(HWND main) {
    OnNextDialog([](HWND box) { SendMessageA(box, WM_COMMAND, IDYES, 0); }, 2000);
    SendMessageA(main, WM_CLOSE, 0, 0);
    // No question came (nothing unsaved): the armed answer must not take a later box.
    if (!NextDialogHandled()) OnNextDialog(nullptr);
}

void Pump(int ms) {
    DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    MSG msg;
    while (GetTickCount() < end) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

void PressKey(HWND target, UINT key, bool ctrl, bool shift) {
    BYTE before[256] = {};
    GetKeyboardState(before);
    BYTE held[256];
    std::memcpy(held, before, sizeof held);
    held[VK_CONTROL] = held[VK_LCONTROL] = ctrl ? 0x80 : 0;
    held[VK_SHIFT] = held[VK_LSHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(held);
    SetFocus(target);
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(key, 0)) << 16;
    PostMessageA(target, WM_KEYDOWN, key, scan | 1);
    PostMessageA(target, WM_KEYUP, key, scan | 1 | static_cast<LPARAM>(0xC0000000u));
    // As the main dialog's own loop takes its messages: the message filter,
    // then the dialog manager, then the window.
    const DWORD end = GetTickCount() + 100;
    MSG msg;
    while (GetTickCount() < end) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (CallMsgFilterA(&msg, MSGF_DIALOGBOX)) continue;
            if (IsWindow(g_app.mainDialog) && IsDialogMessageA(g_app.mainDialog, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
    SetKeyboardState(before);
}

std::string FreshTempFolder(const std::string& prefix) {
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    const unsigned first = GetCurrentProcessId();
    for (unsigned n = first; n < first + 1000; ++n) {
        std::string folder = temp + prefix + std::to_string(n);
        if (CreateDirectoryA(folder.c_str(), nullptr)) return folder;
    }
    return std::string(temp) + prefix + "none"; // never created: writes into it fail
}

void RemoveFolderTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolderTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

std::string WindowText(HWND window) {
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string MessageText(HWND box) {
    std::string text;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (ClassOf(c) == "Static") text += WindowText(c);
    return text;
}

std::string ClassOf(HWND window) {
    char name[128] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

COLORREF ScreenPixel(HWND window, int x, int y) {
    POINT p = {x, y};
    ClientToScreen(window, &p);
    HDC screen = GetDC(nullptr);
    COLORREF c = GetPixel(screen, p.x, p.y);
    ReleaseDC(nullptr, screen);
    return c;
}

COLORREF ScreenPixelBecomes(HWND window, int x, int y, COLORREF expected) {
    DWORD end = GetTickCount() + 3000;
    COLORREF c = ScreenPixel(window, x, y);
    while (c != expected && GetTickCount() < end) {
        Pump(20);
        c = ScreenPixel(window, x, y);
    }
    return c;
}

namespace {

// Writes the 24-bit bottom-up pixels of a DIB section as a BMP file in the
// screenshot folder.
bool WriteShot(const std::string& name, BITMAPINFOHEADER bih, const void* bits) {
    int stride = (bih.biWidth * 3 + 3) & ~3;
    bih.biSizeImage = static_cast<DWORD>(stride * bih.biHeight);
    BITMAPFILEHEADER bfh = {};
    bfh.bfType = 0x4D42;
    bfh.bfOffBits = sizeof bfh + sizeof bih;
    bfh.bfSize = bfh.bfOffBits + bih.biSizeImage;
    // Without a folder of its own the shots go to the temporary folder: the
    // current folder follows the tree's selection and is no place for them.
    char temp[MAX_PATH] = ".";
    const char* dir = std::getenv("PIXMORA_SHOT_DIR");
    if (!dir && GetTempPathA(sizeof temp, temp)) dir = temp;
    std::string path = std::string(dir ? dir : ".") + "\\" + name + ".bmp";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(&bfh, sizeof bfh, 1, f) == 1 &&
              std::fwrite(&bih, sizeof bih, 1, f) == 1 &&
              std::fwrite(bits, bih.biSizeImage, 1, f) == 1;
    return std::fclose(f) == 0 && ok;
}

// A memory DC on a fresh 24-bit DIB section, handed to `draw`, then saved.
bool ShotOf(const std::string& name, int w, int h, const std::function<void(HDC)>& draw) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFOHEADER bih = {};
    bih.biSize = sizeof bih;
    bih.biWidth = w;
    bih.biHeight = h;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&bih), DIB_RGB_COLORS,
                                   &bits, nullptr, 0);
    bool ok = false;
    if (dib && bits) {
        HGDIOBJ old = SelectObject(memory, dib);
        draw(memory);
        GdiFlush();
        SelectObject(memory, old);
        ok = WriteShot(name, bih, bits);
    }
    if (dib) DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

} // namespace

bool SaveScreenshot(HWND window, const std::string& name) {
    RECT r;
    if (!GetWindowRect(window, &r)) return false;
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    return ShotOf(name, w, h, [&](HDC memory) {
        HDC screen = GetDC(nullptr);
        BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        ReleaseDC(nullptr, screen);
    });
}

bool SaveDrawing(const std::string& name, int width, int height,
                 const std::function<void(HDC)>& draw) {
    return ShotOf(name, width, height, draw);
}
