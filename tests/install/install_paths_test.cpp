// Where the installed program looks for its files and keeps the user's: the XDG rules, and the
// options file made once, whole, and never replaced.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "native/install_paths.h"
#include "settings/user_options.h"

namespace {

struct TempFolder {
    std::string path;
    TempFolder() {
        char pattern[] = "/tmp/install_paths_test-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempFolder() { std::system(("rm -rf '" + path + "'").c_str()); }
};

std::string read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }

mode_t mode_of(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::vector<std::string> names_in(const std::string &folder) {
    std::vector<std::string> names;
    FILE *list = popen(("ls -A '" + folder + "'").c_str(), "r");
    char line[512];
    while (list && std::fgets(line, sizeof line, list)) names.push_back(std::string(line, std::strcspn(line, "\n")));
    if (list) pclose(list);
    return names;
}

TEST(UserConfigFolder, FollowsXdgThenHomeThenTheAccount) {
    struct Case {
        const char *xdg, *home, *account, *expected;
    };
    const Case cases[] = {
        {"/x/config", "/home/u", "/acct", "/x/config/halcyonsphere"},
        {"/x/config", nullptr, nullptr, "/x/config/halcyonsphere"},  // no home needed
        {nullptr, "/home/u", "/acct", "/home/u/.config/halcyonsphere"},
        {"", "/home/u", "/acct", "/home/u/.config/halcyonsphere"},
        {"config", "/home/u", "/acct", "/home/u/.config/halcyonsphere"},  // relative: XDG says ignore it
        {nullptr, nullptr, "/acct", "/acct/.config/halcyonsphere"},
        {nullptr, "", "/acct", "/acct/.config/halcyonsphere"},
        {nullptr, "home/u", "/acct", "/acct/.config/halcyonsphere"},
        {nullptr, nullptr, nullptr, ""},
        {"config", "home", "", ""},
    };
    for (const Case &c : cases) {
        std::string error;
        const std::string folder = user_config_folder(c.xdg, c.home, c.account, &error);
        EXPECT_EQ(folder, c.expected) << "XDG_CONFIG_HOME " << (c.xdg ? c.xdg : "unset") << ", HOME "
                                      << (c.home ? c.home : "unset");
        EXPECT_EQ(error.empty(), folder != "") << error;
    }
}

TEST(OptionsFile, IsMadeWholeWithTheDefaultsInPrivateFolders) {
    TempFolder temp;
    const std::string config = temp.path + "/home/.config/halcyonsphere";
    std::string path, error;
    ASSERT_TRUE(ensure_options_file(config, &path, &error)) << error;
    EXPECT_EQ(path, config + "/useropt.cfg");
    const UserOptions defaults = default_user_options();
    EXPECT_EQ(read_bytes(path), std::string(reinterpret_cast<const char *>(&defaults), sizeof defaults));
    EXPECT_EQ(mode_of(temp.path + "/home"), 0700u);
    EXPECT_EQ(mode_of(temp.path + "/home/.config"), 0700u);
    EXPECT_EQ(mode_of(config), 0700u);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(mode_of(path), 0666u & ~mask);
    EXPECT_EQ(names_in(config), std::vector<std::string>{"useropt.cfg"});  // no temporary left
}

TEST(OptionsFile, KeepsWhatIsThereAndRefusesInOneLine) {
    TempFolder temp;
    // An existing file of any content, and an existing folder's mode, stay as they are.
    const std::string kept = temp.path + "/kept";
    ASSERT_EQ(mkdir(kept.c_str(), 0755), 0);
    write_bytes(kept + "/useropt.cfg", "short");
    // A file where a folder should be; a folder where the file should be.
    write_bytes(temp.path + "/file", "x");
    ASSERT_EQ(mkdir((temp.path + "/folder").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((temp.path + "/folder/useropt.cfg").c_str(), 0700), 0);
    struct Case {
        std::string folder;
        bool made;
        const char *error_names;
    };
    std::vector<Case> cases = {
        {kept, true, ""},
        {temp.path + "/file/halcyonsphere", false, "/file/halcyonsphere"},
        {temp.path + "/folder", false, "not a regular file"},
    };
    const std::string locked = temp.path + "/locked";
    if (geteuid() != 0) {  // root writes anywhere
        ASSERT_EQ(mkdir(locked.c_str(), 0500), 0);
        cases.push_back({locked + "/halcyonsphere", false, "Permission denied"});
    }
    for (const Case &c : cases) {
        std::string path, error;
        EXPECT_EQ(ensure_options_file(c.folder, &path, &error), c.made) << c.folder;
        EXPECT_NE(error.find(c.error_names), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    EXPECT_EQ(read_bytes(kept + "/useropt.cfg"), "short");
    EXPECT_EQ(mode_of(kept), 0755u);
    EXPECT_EQ(names_in(kept), std::vector<std::string>{"useropt.cfg"});
    EXPECT_EQ(read_bytes(temp.path + "/file"), "x");
}

TEST(AssetFolder, TakesTheUsersFolderOnlyWhenItIsOne) {
    TempFolder temp;
    write_bytes(temp.path + "/file", "x");
    ASSERT_EQ(mkdir((temp.path + "/sub").c_str(), 0700), 0);
    struct Case {
        std::string given;
        bool taken;
        const char *error_names;
    };
    const Case cases[] = {
        {temp.path, true, ""},
        {temp.path + "/sub/..", true, ""},
        {temp.path + "/missing", false, "No such file"},
        {temp.path + "/file", false, "is not a folder"},
    };
    for (const Case &c : cases) {
        std::string folder, error;
        EXPECT_EQ(choose_asset_folder(c.given.c_str(), &folder, &error), c.taken) << c.given;
        if (c.taken) {
            EXPECT_EQ(folder, temp.path) << "absolute, without ..: the player changes folder";
        }
        EXPECT_NE(error.find(c.error_names), std::string::npos) << error;
    }
}

}  // namespace
