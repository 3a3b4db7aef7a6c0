// settings.ini: what is read back, and the defaults for anything else.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "settings/settings.h"

namespace {

using Ini = std::map<std::string, std::string>; // "Section/Key" -> text

Settings Read(const Ini& ini) {
    return ReadSettings([&](const char* section, const char* key) {
        auto it = ini.find(std::string(section) + "/" + key);
        return it == ini.end() ? std::string() : it->second;
    });
}

Ini Written(const Settings& s) {
    Ini ini;
    WriteSettings(s, [&](const char* section, const char* key, const std::string& text) {
        ini[std::string(section) + "/" + key] = text;
    });
    return ini;
}

bool IsDefault(const Settings& s) {
    return s.fit.mode == FitMode::kStretch && !s.fit.smooth && s.fit.upright &&
           s.fit.focus == FitFocus::kCentre && !s.fit.region.asked && s.treeFolder.empty() &&
           s.saveAllFolder.empty();
}

TEST(Settings, WhatIsWrittenIsReadBack) {
    Settings s;
    s.fit.mode = FitMode::kInside;
    s.fit.smooth = true;
    s.fit.upright = false;
    s.treeFolder = "C:\\Photos\\2026";
    s.saveAllFolder = "D:\\";
    const Ini ini = Written(s);
    EXPECT_EQ(ini.at("Frame/Fit"), "inside");
    const Settings back = Read(ini);
    EXPECT_EQ(back.fit.mode, FitMode::kInside);
    EXPECT_TRUE(back.fit.smooth);
    EXPECT_FALSE(back.fit.upright);
    EXPECT_EQ(back.treeFolder, s.treeFolder);
    EXPECT_EQ(back.saveAllFolder, s.saveAllFolder);
    s.fit.mode = FitMode::kFill;
    s.fit.focus = FitFocus::kSubject;
    EXPECT_EQ(Written(s).at("Frame/Focus"), "subject");
    EXPECT_EQ(Read(Written(s)).fit.mode, FitMode::kFill);
    EXPECT_EQ(Read(Written(s)).fit.focus, FitFocus::kSubject);
    EXPECT_TRUE(IsDefault(Read(Written(Settings{}))));
}

TEST(Settings, HandEditedValuesAreTakenWhenClearAndOtherwiseKeepTheDefaults) {
    EXPECT_TRUE(IsDefault(Read({})));
    const Settings edited = Read({{"Frame/Fit", "  FILL "},
                                  {"Frame/Smooth", "Yes"},
                                  {"Frame/Upright", "off"},
                                  {"Frame/Focus", " Subject"}});
    EXPECT_EQ(edited.fit.mode, FitMode::kFill);
    EXPECT_EQ(edited.fit.focus, FitFocus::kSubject);
    EXPECT_TRUE(edited.fit.smooth);
    EXPECT_FALSE(edited.fit.upright);
    const Settings damaged = Read({{"Frame/Fit", "squash"},
                                   {"Frame/Smooth", "2"},
                                   {"Frame/Upright", "\x01\xff"},
                                   {"Frame/Focus", "face"},
                                   {"Folders/Tree", std::string(300, 'd')},
                                   {"Folders/SaveAll", "C:\\a\tb"}});
    EXPECT_TRUE(IsDefault(damaged));
}

TEST(Settings, TheFileLivesInAPixmoraFolderOfTheProfileWhenItsPathFits) {
    EXPECT_EQ(SettingsFileIn("C:\\Users\\ann\\AppData\\Roaming"),
              "C:\\Users\\ann\\AppData\\Roaming\\Pixmora\\settings.ini");
    EXPECT_EQ(SettingsFolderIn("C:\\Profile\\"), "C:\\Profile\\Pixmora");
    EXPECT_EQ(SettingsFileIn(""), "");
    EXPECT_EQ(SettingsFolderIn(std::string(250, 'p')), "");
}

} // namespace
