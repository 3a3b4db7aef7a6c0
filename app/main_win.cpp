// Entry point of pixmora.exe.
#include <windows.h>
#include <objbase.h>

#include "app/app_win.h"
#include "resources/resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // A remembered folder on a card that was taken out, or a drive without
    // a disk in the folder tree, fails quietly instead of asking for a disk.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // The shell's folder browser and file dialogs expect an initialised apartment.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = 0;
    if (StartUp(instance)) {
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    } else {
        MessageBoxA(nullptr, "There is not enough memory to start Pixmora.", "Pixmora",
                    MB_OK | MB_ICONERROR);
        code = 1;
    }
    TearDown();
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}
