#include "tests/fakes/plugin_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/fakes/test_bitmap.h"

namespace {

std::string current_directory() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? buffer : ".";
}

}  // namespace

void PluginTest::SetUp() {
    fake_reset();
    previous_directory = current_directory();
    char pattern[] = "/tmp/halcyon-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    ASSERT_EQ(chdir(folder.c_str()), 0);
    ASSERT_EQ(mkdir("vis_halcyonsphere_assets", 0755), 0);
    fake.module_file_name = "vis_halcyonsphere.dll";
    module.parent_window = reinterpret_cast<void *>(0x500);
    module.library_instance = reinterpret_cast<void *>(0x600);
    module.channel_count = 2;
    write_asset("light_std.fp", kTestProgram);
    // The smallest image set a start accepts.
    for (const char *image : {"height.bmp", "height_d.bmp", "decal.bmp", "normal.bmp"})
        write_asset(image, solid_test_bitmap(2, 2, 128, 128, 255));
}

void PluginTest::TearDown() {
    if (chdir(previous_directory.c_str()) != 0) std::perror("chdir");
    const std::string command = "rm -rf '" + folder + "'";
    if (std::system(command.c_str()) != 0) std::perror("rm");
}

void PluginTest::write_asset(const std::string &name, const std::vector<uint8_t> &bytes) {
    std::ofstream out("vis_halcyonsphere_assets/" + name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

void PluginTest::write_asset(const std::string &name, const std::string &text) {
    write_asset(name, std::vector<uint8_t>(text.begin(), text.end()));
}

bool PluginTest::asset_exists(const std::string &name) {
    struct stat info;
    return stat(("vis_halcyonsphere_assets/" + name).c_str(), &info) == 0;
}

std::vector<uint8_t> PluginTest::read_asset(const std::string &name) {
    std::ifstream in("vis_halcyonsphere_assets/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PluginTest::remove_asset_folder() {
    ASSERT_EQ(std::system("rm -rf vis_halcyonsphere_assets"), 0);
}
