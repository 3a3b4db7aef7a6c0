// The GUI test program: runs the real dialogs from the real resources under
// GoogleTest.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/gui/gui_harness.h"

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    testing::InitGoogleTest(&argc, argv);
    // The program keeps its recovery album under %APPDATA%: the tests get a
    // folder of their own, so they never see or touch the user's profile.
    std::string appData = FreshTempFolder("pixmora-appdata-");
    SetEnvironmentVariableA("APPDATA", appData.c_str());
    int result = RUN_ALL_TESTS();
    RemoveFolderTree(appData);
    CoUninitialize();
    return result;
}
