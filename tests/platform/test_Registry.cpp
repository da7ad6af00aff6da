#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "Classes.h"
#include "IniFile.h"
#include "Registry.h"
#include "SysUtils.h"
#include "TestSupport.h"

namespace {

// Points the store and XDG_CONFIG_HOME into a private folder for one test.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto [v, sub] : {std::pair{"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"},
                              {"XDG_CONFIG_DIRS", "etc"}, {"XDG_DATA_DIRS", "usr"}}) {
            const char *old = std::getenv(v);
            FOldEnv.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
            ::setenv(v, (Dir.Path() + sub).c_str(), 1);
        }
        ::unsetenv("TW_REGISTRY_FILE");
        SetRegistryFileName("");
    }
    void TearDown() override {
        for (const auto &[name, value] : FOldEnv) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
        SetRegistryFileName("");
    }
    TempDir Dir;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> FOldEnv;
};

}  // namespace

TEST_F(RegistryTest, ValuesLiveInTheStoreUnderTheConfigFolder) {
    std::string store = Dir.Path() + "config/tarnwick/registry.ini";
    EXPECT_EQ(RegistryFileName(), store);
    RegWriteStringValue(TRegRoot::HKEY_CURRENT_USER, "\\Software\\Tarnwick\\", "Value", "one");
    EXPECT_TRUE(FileExists(store));
    EXPECT_EQ(RegReadString(TRegRoot::HKEY_CURRENT_USER, "software\\TARNWICK", "value"), "one");
    EXPECT_EQ(RegReadString(TRegRoot::HKEY_LOCAL_MACHINE, "Software\\Tarnwick", "Value", "none"), "none");
    EXPECT_TRUE(RegKeyExists(TRegRoot::HKEY_CURRENT_USER, "Software\\Tarnwick"));
    EXPECT_TRUE(RegDeleteStringValue(TRegRoot::HKEY_CURRENT_USER, "Software\\Tarnwick", "Value"));
    EXPECT_FALSE(RegDeleteStringValue(TRegRoot::HKEY_CURRENT_USER, "Software\\Tarnwick", "Value"));

    // The default value and moving a key, as the browser's sound switch does.
    std::string nav = "AppEvents\\Schemes\\Apps\\Explorer\\Navigating\\";
    RegWriteStringValue(TRegRoot::HKEY_CURRENT_USER, nav + ".Current", "", "click.wav");
    EXPECT_TRUE(RegMoveKey(TRegRoot::HKEY_CURRENT_USER, nav + ".Current", nav + "Old_Current"));
    EXPECT_FALSE(RegKeyExists(TRegRoot::HKEY_CURRENT_USER, nav + ".Current"));
    EXPECT_EQ(RegReadString(TRegRoot::HKEY_CURRENT_USER, nav + "Old_Current", ""), "click.wav");
    EXPECT_FALSE(RegMoveKey(TRegRoot::HKEY_CURRENT_USER, nav + ".Current", nav + "x"));

    // Tests and tools can put the store elsewhere.
    SetRegistryFileName(Dir.File("other.ini"));
    EXPECT_EQ(RegistryFileName(), Dir.File("other.ini"));
    ::setenv("TW_REGISTRY_FILE", Dir.File("env.ini").c_str(), 1);
    EXPECT_EQ(RegistryFileName(), Dir.File("env.ini"));
    ::unsetenv("TW_REGISTRY_FILE");
}

TEST_F(RegistryTest, RunValueIsAnAutostartEntry) {
    std::string exe = Dir.File("Program Files/tarnwick");
    WriteTestFile(exe, "#!/bin/sh\n");
    const std::string run = "Software\\MicroSoft\\Windows\\CurrentVersion\\Run";
    RegWriteStringValue(TRegRoot::HKEY_CURRENT_USER, run, "Tarnwick", exe);
    std::string desktop = Dir.Path() + "config/autostart/Tarnwick.desktop";
    ASSERT_EQ(RunValueDesktopFile("Tarnwick"), desktop);
    ASSERT_TRUE(FileExists(desktop));
    TIniFile entry(desktop);
    EXPECT_EQ(entry.ReadString("Desktop Entry", "Type", ""), "Application");
    // A path with a blank is one quoted argument.
    EXPECT_TRUE(Contains(ReadFileToString(desktop), "\nExec=\"" + exe + "\"\n"));
    EXPECT_TRUE(RegValueExists(TRegRoot::HKEY_CURRENT_USER, run, "Tarnwick"));
    EXPECT_FALSE(FileExists(RegistryFileName()));
    EXPECT_TRUE(RegDeleteStringValue(TRegRoot::HKEY_CURRENT_USER, run, "Tarnwick"));
    EXPECT_FALSE(FileExists(desktop));
    // A command line (a profile's switch after the program) keeps its words:
    // the program in a folder with a blank, an argument with one.
    RegWriteStringValue(TRegRoot::HKEY_CURRENT_USER, run, "Tarnwick an na",
                        "'" + exe + "' -user '-an na' 100%");
    std::string line = ReadFileToString(RunValueDesktopFile("Tarnwick an na"));
    EXPECT_TRUE(Contains(line, "\nExec=\"" + exe + "\" -user \"-an na\" 100%%\n")) << line;
    // A program path with line breaks in it stays one Exec value: it can not
    // add keys (Hidden=, a second Exec=) to the entry.
    std::string odd = Dir.File("a\nHidden=true\rExec=/bin/evil\nb");
    WriteTestFile(odd, "#!/bin/sh\n");
    RegWriteStringValue(TRegRoot::HKEY_CURRENT_USER, run, "Odd", odd);
    std::string oddText = ReadFileToString(RunValueDesktopFile("Odd"));
    IniFileCacheClear();
    TIniFile oddEntry(RunValueDesktopFile("Odd"));
    EXPECT_FALSE(oddEntry.ValueExists("Desktop Entry", "Hidden")) << oddText;
    TStringList oddLines;
    oddLines.SetText(oddText);
    int execLines = 0;
    for (const auto &l : oddLines) execLines += StartsText("Exec=", l);
    EXPECT_EQ(execLines, 1) << oddText;
    EXPECT_FALSE(Contains(oddText, "\r"));
    EXPECT_TRUE(RegDeleteStringValue(TRegRoot::HKEY_CURRENT_USER, run, "Odd"));
    // A value name can not step out of the autostart folder.
    EXPECT_EQ(RunValueDesktopFile("../x"), Dir.Path() + "config/autostart/.._x.desktop");
}

TEST_F(RegistryTest, DefaultMailClientIsTheMailtoHandler) {
    const std::string mail = "Software\\Clients\\Mail";
    std::string name, command;
    EXPECT_FALSE(DefaultMailClient(name, command));
    EXPECT_EQ(RegReadString(TRegRoot::HKEY_LOCAL_MACHINE, "\\" + mail, ""), "");
    EXPECT_FALSE(RegKeyExists(TRegRoot::HKEY_LOCAL_MACHINE, mail));

    WriteTestFile(Dir.Path() + "usr/applications/postbox.desktop",
                  "[Desktop Entry]\nName=Postbox\nExec=/opt/postbox/postbox --compose %u 100%%\n");
    WriteTestFile(Dir.Path() + "etc/mimeapps.list",
                  "[Default Applications]\nx-scheme-handler/mailto=missing.desktop;postbox.desktop;\n");
    EXPECT_TRUE(DefaultMailClient(name, command));
    EXPECT_EQ(name, "Postbox");
    EXPECT_EQ(command, "/opt/postbox/postbox --compose  100%");
    EXPECT_TRUE(RegKeyExists(TRegRoot::HKEY_LOCAL_MACHINE, mail));
    EXPECT_EQ(RegReadString(TRegRoot::HKEY_LOCAL_MACHINE, "\\" + mail, ""), "Postbox");
    EXPECT_EQ(RegReadString(TRegRoot::HKEY_LOCAL_MACHINE, "\\" + mail + "\\Postbox\\shell\\open\\command", ""),
              "/opt/postbox/postbox --compose  100%");
    EXPECT_EQ(RegReadString(TRegRoot::HKEY_LOCAL_MACHINE, mail + "\\Other\\shell\\open\\command", "", "d"), "d");
    // The user's own choice comes first.
    WriteTestFile(Dir.Path() + "data/applications/mutt.desktop", "[Desktop Entry]\nName=Mutt\nExec=mutt %U\n");
    WriteTestFile(Dir.Path() + "config/mimeapps.list", "[Default Applications]\nx-scheme-handler/mailto=mutt.desktop\n");
    EXPECT_TRUE(DefaultMailClient(name, command));
    EXPECT_EQ(name, "Mutt");
    EXPECT_EQ(command, "mutt");
}
