// Driving the real dialogs in-process: a script runs from a timer inside the
// modal loop of the main dialog, and nested dialogs are handled by timers
// armed before the call that opens them.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// StartUp, the main dialog with `script` run once it is up, then TearDown is
// left to the caller (so tests can check what TearDown releases). The script
// should end the dialog; if it does not, the harness closes it. A dialog or
// message box left unanswered for 8 s fails the test and is closed.
// Returns false when StartUp failed.
bool RunMainDialog(const std::function<void(HWND)>& script);
// True when the last script left the dialog open and the harness closed it.
bool HarnessHadToClose();

// The next dialog or message box of this thread that appears (not one that
// is open already) is given to `action`, which must close it. Arm it before the call
// that opens the dialog. Gives up after `timeoutMs`. A nullptr action
// disarms the one armed before.
void OnNextDialog(const std::function<void(HWND)>& action, int timeoutMs = 5000);
// How long the shell's Browse for Folder may take to appear: under Wine its
// first showing fills the shell's namespace, which has taken over 5 s.
constexpr int kShellDialogMs = 20000;
// The same for the next popup menu (its window, class "#32768"); the action
// runs inside the menu's own loop, so keys it posts are taken by the menu.
void OnNextMenu(const std::function<void(HWND)>& action, int timeoutMs = 5000);
// True when OnNextDialog's action ran since it was armed.
bool NextDialogHandled();

// Ends the main dialog with WM_CLOSE, answering Yes if it asks whether
// unsaved album pictures may be lost.
void CloseAnyway(HWND main);

// Pumps messages for `ms` milliseconds (lets paints and posted messages run).
void Pump(int ms);

// Types `key` (a virtual-key code) into `target`, which takes the focus, with
// Ctrl and Shift held as asked, and pumps 100 ms as the main dialog's own loop
// does (message filter, dialog manager, window).
void PressKey(HWND target, UINT key, bool ctrl = false, bool shift = false);

// Saves a screenshot of the window (as it is on screen) as a BMP file in the
// screenshot folder (PIXMORA_SHOT_DIR, else the temporary folder).
bool SaveScreenshot(HWND window, const std::string& name);

// Saves what `draw` paints on a white-less, width x height 24-bit canvas.
bool SaveDrawing(const std::string& name, int width, int height,
                 const std::function<void(HDC)>& draw);

// A new, empty folder in the temporary folder, e.g. for %APPDATA%.
std::string FreshTempFolder(const std::string& prefix);
// Deletes a folder with everything in it.
void RemoveFolderTree(const std::string& folder);

std::string WindowText(HWND window);
// The message of a message box: the text of its static controls.
std::string MessageText(HWND box);
std::string ClassOf(HWND window);
// The colour of a pixel as painted on screen, client coordinates of `window`.
COLORREF ScreenPixel(HWND window, int x, int y);
// The same, but waits (pumping messages, up to 3 s) for the pixel to show
// `expected`: on a busy machine the X server draws late. Returns the last
// colour seen.
COLORREF ScreenPixelBecomes(HWND window, int x, int y, COLORREF expected);
