// The user's lasting choices and how they are kept in settings.ini: how
// pictures fit the frame, and two folders to come back to. Reading never
// fails: a key that is missing or holds something not understood keeps its
// default (stretch, sharp, upright, a fill from the centre; no folders).
#pragma once

#include <functional>
#include <string>

#include "fit/fit_options.h"

struct Settings {
    FitOptions fit;
    std::string treeFolder;    // the folder last opened in the tree
    std::string saveAllFolder; // the folder the last Save All went to
};

// Gives the text stored under [section] key, "" when there is none.
using SettingReader = std::function<std::string(const char* section, const char* key)>;
// Stores `text` under [section] key.
using SettingWriter =
    std::function<void(const char* section, const char* key, const std::string& text)>;

// Keywords are taken in any case, with blanks around them: Fit is stretch,
// fill or inside; Focus (where a fill takes its square) centre or subject; Smooth and Upright are
// 1/0, yes/no, true/false or on/off. A folder is kept when it is a path that fits kPathBytes.
Settings ReadSettings(const SettingReader& read);
// Every key, in the words ReadSettings takes back.
void WriteSettings(const Settings& settings, const SettingWriter& write);

// The folder and the file under the profile folder `appData` (APPDATA):
// appData\Pixmora and appData\Pixmora\settings.ini. "" when appData is
// empty or the file's path would not fit kPathBytes.
std::string SettingsFolderIn(const std::string& appData);
std::string SettingsFileIn(const std::string& appData);
