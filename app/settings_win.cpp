// The settings file through the Win32 profile functions.
#include "app/settings_win.h"

#include <shlobj.h>

#include <map>

namespace {

Settings g_settings;
std::string g_file, g_folder;
// What the file holds, key by key ("section/key"): only a key whose text
// changed is written, each write being a rewrite of the whole file.
std::map<std::string, std::string> g_written;

bool IsFolder(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void Save() {
    if (g_file.empty()) return;
    CreateDirectoryA(g_folder.c_str(), nullptr);
    WriteSettings(g_settings, [](const char* section, const char* key, const std::string& text) {
        std::string& held = g_written[std::string(section) + "/" + key];
        if (held == text) return; // a key the file lacks reads as ""
        if (WritePrivateProfileStringA(section, key, text.c_str(), g_file.c_str())) held = text;
    });
}

} // namespace

std::string ApplicationDataRoot() {
    char path[MAX_PATH] = "";
    const DWORD n = GetEnvironmentVariableA("APPDATA", path, sizeof path);
    if (n > 0 && n < sizeof path) return path;
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        return "";
    return path;
}

void LoadSettings() {
    const std::string appData = ApplicationDataRoot();
    g_file = SettingsFileIn(appData);
    g_folder = SettingsFolderIn(appData);
    g_written.clear();
    if (g_file.empty()) {
        g_settings = Settings{};
        return;
    }
    g_settings = ReadSettings([](const char* section, const char* key) {
        char text[MAX_PATH + 1] = "";
        GetPrivateProfileStringA(section, key, "", text, sizeof text, g_file.c_str());
        g_written[std::string(section) + "/" + key] = text;
        return std::string(text);
    });
    if (GetFileAttributesA(g_file.c_str()) == INVALID_FILE_ATTRIBUTES) Save();
}

const Settings& CurrentSettings() {
    return g_settings;
}

void ChangeFitOptions(const FitOptions& fit) {
    g_settings.fit = fit;
    Save();
}

void RememberTreeFolder(const char* folder) {
    if (!folder) return;
    std::string kept = folder;
    if (kept.size() > 3 && kept.back() == '\\') kept.pop_back(); // "C:\" keeps its own
    if (g_settings.treeFolder == kept) return;
    g_settings.treeFolder = kept;
    Save();
}

void RememberSaveAllFolder(const char* folder) {
    if (!folder || g_settings.saveAllFolder == folder) return;
    g_settings.saveAllFolder = folder;
    Save();
}

int CALLBACK SaveAllBrowseCallback(HWND window, UINT message, LPARAM, LPARAM) {
    const std::string& folder = g_settings.saveAllFolder;
    if (message == BFFM_INITIALIZED && IsFolder(folder))
        SendMessageA(window, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
    return 0;
}
