#include "settings/settings.h"

#include <cctype>

#include "picture/limits.h"

namespace {

constexpr const char* kFrame = "Frame";
constexpr const char* kFolders = "Folders";

std::string Keyword(const std::string& text) {
    size_t a = 0, b = text.size();
    while (a < b && std::isspace(static_cast<unsigned char>(text[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(text[b - 1])))
        --b;
    std::string word = text.substr(a, b - a);
    for (char& c : word)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
}

void ReadSwitch(const std::string& text, bool& value) {
    const std::string w = Keyword(text);
    if (w == "1" || w == "yes" || w == "true" || w == "on") value = true;
    if (w == "0" || w == "no" || w == "false" || w == "off") value = false;
}

// A folder path: not empty, short enough for a path buffer with room for a
// name, and without control characters.
void ReadFolder(const std::string& text, std::string& value) {
    if (text.empty() || text.size() > static_cast<size_t>(kLongestPath)) return;
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20) return;
    value = text;
}

} // namespace

Settings ReadSettings(const SettingReader& read) {
    Settings s;
    const std::string fit = Keyword(read(kFrame, "Fit"));
    FitModeOfWord(fit, s.fit.mode);
    FitFocusOfWord(Keyword(read(kFrame, "Focus")), s.fit.focus);
    ReadSwitch(read(kFrame, "Smooth"), s.fit.smooth);
    ReadSwitch(read(kFrame, "Upright"), s.fit.upright);
    ReadFolder(read(kFolders, "Tree"), s.treeFolder);
    ReadFolder(read(kFolders, "SaveAll"), s.saveAllFolder);
    return s;
}

void WriteSettings(const Settings& s, const SettingWriter& write) {
    write(kFrame, "Fit", FitModeWord(s.fit.mode));
    write(kFrame, "Focus", FitFocusWord(s.fit.focus));
    write(kFrame, "Smooth", s.fit.smooth ? "1" : "0");
    write(kFrame, "Upright", s.fit.upright ? "1" : "0");
    write(kFolders, "Tree", s.treeFolder);
    write(kFolders, "SaveAll", s.saveAllFolder);
}

std::string SettingsFolderIn(const std::string& appData) {
    const std::string file = SettingsFileIn(appData);
    return file.empty() ? "" : file.substr(0, file.size() - std::string("\\settings.ini").size());
}

std::string SettingsFileIn(const std::string& appData) {
    if (appData.empty()) return "";
    const bool slash = appData.back() == '\\' || appData.back() == '/';
    const std::string file = appData + (slash ? "" : "\\") + "Pixmora\\settings.ini";
    return file.size() <= static_cast<size_t>(kLongestPath) ? file : "";
}
