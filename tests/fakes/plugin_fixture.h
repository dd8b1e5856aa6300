// A fresh plug-in and fake platform per test, running in its own temporary folder with an asset
// folder in it. The library's file name has no backslash, so assets resolve from that folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "shell/vis_module.h"
#include "tests/fakes/fake_platform.h"

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes bytes to vis_halcyonsphere_assets/NAME.
    void write_asset(const std::string &name, const std::vector<uint8_t> &bytes);
    void write_asset(const std::string &name, const std::string &text);
    bool asset_exists(const std::string &name);
    std::vector<uint8_t> read_asset(const std::string &name);
    void remove_asset_folder();

    VisModule module{};
    std::string folder;

private:
    std::string previous_directory;
};

constexpr const char kTestProgram[] = "!!ARBfp1.0\nMOV result.color, fragment.color;\nEND\n";
