// Where the player's winamp.ini lies, and that it is made only when a plug-in asks for its path.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "player/event_log.h"
#include "player/player_answers.h"

namespace {

std::set<std::string> g_unwritable;  // ini paths the fake platform cannot write
std::vector<std::string> g_opened;   // ini paths opened for writing, in order

bool fake_ini_writable(const std::string &path) { return !g_unwritable.count(path); }
bool fake_open_ini(const std::string &path, bool *created) {
    g_opened.push_back(path);
    *created = true;
    return !g_unwritable.count(path);
}
intptr_t no_embed(uintptr_t) { return 0; }
void no_registration(uintptr_t, JsonLine &) {}
const PlayerPlatform kFakePlatform = {"/", no_embed, no_registration, fake_open_ini, fake_ini_writable};

std::string read_all(const std::string &path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(PlayerFiles, TheIniLiesBesidePluginsElseInTheRunFolderAndIsMadeOnlyWhenAsked) {
    const struct {
        const char *plugin_folder;
        std::set<std::string> unwritable;
        const char *ini_file;
        bool beside_plugins, writable;
    } cases[] = {
        {"/p/Player/pLuGiNs", {}, "/p/Player/winamp.ini", true, true},
        {"/p/Player/Plugins", {"/p/Player/winamp.ini"}, "/run/winamp.ini", false, true},
        {"/p/Player/Plugins", {"/p/Player/winamp.ini", "/run/winamp.ini"}, "/run/winamp.ini", false, false},
        {"/p/Player/Plugins2", {}, "/run/winamp.ini", false, true},
        {"vis", {}, "/run/winamp.ini", false, true},
    };
    const std::string log = testing::TempDir() + "player_files_events.jsonl";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.plugin_folder);
        g_unwritable = c.unwritable;
        g_opened.clear();
        ASSERT_TRUE(event_log_open(log.c_str()));
        player_setup(0x5066, true, nullptr, kFakePlatform);
        player_files_prepare(c.plugin_folder, "/run");
        EXPECT_TRUE(g_opened.empty()) << "made before any plug-in asked";
        player_host_message(0, kAskIniFolder);
        EXPECT_TRUE(g_opened.empty()) << "its folder is no question for the file";
        intptr_t answer = 0;
        const char *text = nullptr;
        ASSERT_TRUE(player_answer(0, kAskIniFile, &answer, &text));
        EXPECT_STREQ(text, c.ini_file);
        EXPECT_EQ(answer, reinterpret_cast<intptr_t>(text));
        player_host_message(1, kAskIniFile);  // asked again: made once
        EXPECT_EQ(g_opened, std::vector<std::string>{c.ini_file});
        event_log_close();

        const std::string events = read_all(log);
        EXPECT_NE(events.find(std::string("\"ini_file\":\"") + c.ini_file + "\""), std::string::npos) << events;
        EXPECT_NE(events.find(std::string("\"beside_plugins\":") + (c.beside_plugins ? "true" : "false")),
                  std::string::npos) << events;
        EXPECT_NE(events.find(std::string("\"writable\":") + (c.writable ? "true" : "false")), std::string::npos)
            << events;
    }
}
