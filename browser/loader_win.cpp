// The stop handshake with the thumbnail loader thread.
//
// The dialog thread raises LoaderStopFlag and looks at LoaderBusyFlag every
// 200 ms. The loader may be inside a SendMessage to the folder list (a window
// of this thread) at that moment, so the wait keeps serving sent messages
// instead of sleeping blindly: a plain Sleep loop would deadlock. The loader
// for its part makes no blocking call into the list once it has seen the
// stop flag, so a stop costs at most one decoder poll, one 200 ms look and
// the 100 ms pause.
#include "app/app_win.h"
#include "browser/browser_win.h"

void WaitServingSentMessages(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_SENDMESSAGE);
        MSG msg;
        // With only PM_QS_SENDMESSAGE nothing posted is taken: the user's
        // clicks and timers wait until the stop is over.
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void RaiseStopAndWait() {
    LoadBuffers& lb = g_app.loadBuffers;
    lb.LoaderStopFlag = 1;
    while (lb.LoaderBusyFlag != 0)
        WaitServingSentMessages(200);
}

void StopLoader(bool lowerAfterwards) {
    RaiseStopAndWait();
    // A loader that ran has lowered the stop flag itself as its last but one
    // step; closing keeps it raised so nothing starts decoding again.
    g_app.loadBuffers.LoaderStopFlag = lowerAfterwards ? 0 : 1;
    Sleep(100);
}
