// The user's settings as the program holds them: read from
// %APPDATA%\Pixmora\settings.ini when the main dialog opens (the file is
// made, with the defaults, when it is missing) and written back at every
// change. Without a profile folder, or when the file cannot be written, the
// choices simply last until the program ends.
#pragma once

#include <windows.h>

#include <string>

#include "settings/settings.h"

// Where the user's application data lives: the APPDATA variable (which tests
// point elsewhere), else the shell's CSIDL_APPDATA; "" when neither is known.
// The settings file and the recovery album both live under it, in "Pixmora".
std::string ApplicationDataRoot();

void LoadSettings();
const Settings& CurrentSettings();

void ChangeFitOptions(const FitOptions& fit);
void RememberTreeFolder(const char* folder);
void RememberSaveAllFolder(const char* folder);

// The Save All folder browser's callback: it opens at the folder of the last
// Save All when that folder still exists.
int CALLBACK SaveAllBrowseCallback(HWND window, UINT message, LPARAM, LPARAM);
