// The stop handshake with the thumbnail loader thread.
//
// The dialog thread raises LoaderStopFlag and polls LoaderBusyFlag every
// 200 ms. The loader may be inside a SendMessage to the folder list (a window
// of this thread) at that moment, so the wait keeps serving sent messages
// instead of sleeping blindly; a plain Sleep loop would deadlock.
#include "app/app_win.h"

namespace {

// Waits `ms` milliseconds while dispatching messages sent from other threads.
void WaitServingSentMessages(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_SENDMESSAGE);
        MSG msg;
        // Peeking with PM_QS_SENDMESSAGE delivers pending sent messages only.
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

void StopLoader(bool lowerAfterwards) {
    LoadBuffers& lb = g_app.loadBuffers;
    lb.LoaderStopFlag = 1;
    while (lb.LoaderBusyFlag != 0) WaitServingSentMessages(200);
    if (lowerAfterwards) lb.LoaderStopFlag = 0;
    WaitServingSentMessages(100);
}
