#include "shell/gl_extensions.h"

#include <gtest/gtest.h>

#include <string>

#include "shell/plugin_state.h"
#include "tests/fakes/plugin_fixture.h"

namespace {

class GlExtensions : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        plugin_state.module = &module;
    }
    std::string only_message() {
        EXPECT_EQ(fake.boxes.size(), 1u);
        if (fake.boxes.empty()) return "";
        EXPECT_EQ(fake.boxes[0].caption, "Error");
        EXPECT_EQ(fake.boxes[0].owner, module.parent_window);
        return fake.boxes[0].text;
    }
};

TEST_F(GlExtensions, EitherRectangleExtensionAndFourUnitsPass) {
    for (const char *list : {"GL_EXT_texture_rectangle", "GL_NV_texture_rectangle GL_ARB_multitexture"}) {
        fake.gl_extensions = list;
        fake.gl_texture_units = 4;
        EXPECT_EQ(check_gl_extensions(), 1) << list;
        EXPECT_TRUE(fake.boxes.empty());
        EXPECT_EQ(plugin_state.texture_unit_count, 4);
        EXPECT_NE(plugin_state.gl.glTexImage3DEXT, nullptr);
        ASSERT_FALSE(fake.program_texts.empty());
        EXPECT_EQ(fake.program_texts.back(), std::string(kTestProgram, sizeof kTestProgram - 2));
    }
}

TEST_F(GlExtensions, RefusalsComeInOrderWithTheirMessages) {
    struct Case {
        const char *what;
        void (*arrange)();
        const char *message;
    } cases[] = {
        {"no list", [] { fake.gl_extensions_null = true; }, "Unable to obtain GL extension list."},
        {"empty list", [] { fake.gl_extensions = ""; }, "Unable to obtain GL extension list."},
        {"no rectangles", [] { fake.gl_extensions = "GL_ARB_texture_rectangle GL_ARB_multitexture"; },
         "Texture rectangle extensions are required for this program to run, your video card drivers do not "
         "support them."},
        {"three units", [] { fake.gl_texture_units = 3; }, "Not enough available texture units."},
        {"units left unset", [] { fake.gl_leaves_texture_units_alone = true; }, "Not enough available texture units."},
        {"no bind", [] { fake.missing_entry_points = {"glBindProgramARB", "glGenProgramsARB"}; },
         "Fragment program extension 'glBindProgramARB' unavailable."},
        {"no delete", [] { fake.missing_entry_points = {"glDeleteProgramsARB"}; },
         "Fragment program extension 'glDeleteProgramsARB' unavailable."},
        {"no 3-D textures", [] { fake.missing_entry_points = {"glTexImage3DEXT"}; },
         "Texture extension 'glTexImage3DEXT' unavailable."},
        {"no client units", [] { fake.missing_entry_points = {"glClientActiveTextureARB", "glTexImage3DEXT"}; },
         "Texture extension 'glClientActiveTextureARB' unavailable."},
    };
    for (const Case &c : cases) {
        fake_reset();
        fake.module_file_name = "vis_halcyonsphere.dll";
        plugin_state.module = &module;
        c.arrange();
        EXPECT_EQ(check_gl_extensions(), 0) << c.what;
        EXPECT_EQ(only_message(), c.message) << c.what;
    }
}

TEST_F(GlExtensions, TooFewUnitsFailBeforeAnyEntryPointIsFetched) {
    fake.gl_texture_units = 3;
    EXPECT_EQ(check_gl_extensions(), 0);
    EXPECT_FALSE(fake_called("wglGetProcAddress"));
}

TEST_F(GlExtensions, MissingProgramEntryPointNeverReachesTheProgramFile) {
    fake.missing_entry_points = {"glDeleteProgramsARB"};
    remove_asset_folder();  // a read would show "Unable to locate" instead
    EXPECT_EQ(check_gl_extensions(), 0);
    EXPECT_EQ(only_message(), "Fragment program extension 'glDeleteProgramsARB' unavailable.");
    EXPECT_FALSE(fake_called("glGenProgramsARB"));
}

TEST_F(GlExtensions, Missing3dTextureFailsAfterTheProgramCompiled) {
    fake.missing_entry_points = {"glTexImage3DEXT"};
    EXPECT_EQ(check_gl_extensions(), 0);
    EXPECT_GE(fake_call_index("glProgramStringARB"), 0);
    EXPECT_LT(fake_call_index("glProgramStringARB"), fake_call_index("wglGetProcAddress(glTexImage3DEXT)"));
}

TEST_F(GlExtensions, RejectedProgramShowsTheDriversText) {
    fake.program_error_position = 12;
    fake.program_error_text = "line 2, char 3: error: unknown instruction";
    EXPECT_EQ(check_gl_extensions(), 0);
    EXPECT_EQ(only_message(), "Fragment program error: line 2, char 3: error: unknown instruction");
    // Left bound, not deleted: the context's teardown releases it.
    EXPECT_TRUE(fake_called("glBindProgramARB(0x8804," + std::to_string(plugin_state.light_program) + ")"));
    EXPECT_FALSE(fake_called("glDeleteProgramsARB"));
}

TEST_F(GlExtensions, MissingProgramFileNamesItsPath) {
    remove_asset_folder();
    EXPECT_EQ(check_gl_extensions(), 0);
    EXPECT_EQ(only_message(), "Unable to locate fragment program at 'vis_halcyonsphere_assets/light_std.fp'.");
}

TEST_F(GlExtensions, ProgramTextLosesItsLastByteAndStopsAtAZero) {
    struct Case {
        std::string file, text;
    } cases[] = {
        {"!!ARBfp1.0\nEND\n", "!!ARBfp1.0\nEND"},
        {"!!ARBfp1.0\nEND", "!!ARBfp1.0\nEN"},
        {std::string("!!ARB\0fp1.0\n", 12), "!!ARB"},
        {"x", ""},
        {"", ""},
    };
    for (const Case &c : cases) {
        write_asset("light_std.fp", c.file);
        fake.program_texts.clear();
        ASSERT_EQ(check_gl_extensions(), 1);
        ASSERT_EQ(fake.program_texts.size(), 1u);
        EXPECT_EQ(fake.program_texts[0], c.text) << "file of " << c.file.size() << " bytes";
    }
}

TEST_F(GlExtensions, LongMessagesAreCutToTheBuffer) {
    const std::string long_name(5000, 'n');
    show_error("Unable to locate fragment program at '%s'.", long_name.c_str());
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text.size(), size_t(kMessageTextSize - 1));
    EXPECT_EQ(fake.boxes[0].text.substr(0, 38), "Unable to locate fragment program at '");
}

}  // namespace
