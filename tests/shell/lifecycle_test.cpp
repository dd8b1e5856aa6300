#include "shell/lifecycle.h"

#include <gtest/gtest.h>

#include "model/model_table.h"
#include "shell/module_export.h"
#include "shell/plugin_state.h"
#include "tests/fakes/plugin_fixture.h"

namespace {

using Lifecycle = PluginTest;

TEST(ModuleExport, HeaderHandsOutModuleZeroOnly) {
    VisHeader *header = winampVisGetHeader();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->version, 0x101);
    EXPECT_STREQ(header->description, "Halcyonsphere");
    VisModule *module = header->get_module(0);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(header->get_module(0), module);
    EXPECT_EQ(header->get_module(1), nullptr);
    EXPECT_EQ(header->get_module(-1), nullptr);
    EXPECT_STREQ(module->description, "Halcyonsphere");
    EXPECT_EQ(module->latency_ms, 25);
    EXPECT_EQ(module->delay_ms, 25);
    EXPECT_EQ(module->spectrum_channels, 2);
    EXPECT_EQ(module->waveform_channels, 0);
    EXPECT_EQ(module->init, plugin_init);
    EXPECT_EQ(module->user_data, nullptr);
}

TEST_F(Lifecycle, InitRunsItsStepsInOrder) {
    ASSERT_EQ(plugin_init(&module), 0);
    const char *order[] = {"SendMessageA(0,505)", "RegisterClassA", "CreateWindowExA", "GetDC", "ChoosePixelFormat",
                           "SetPixelFormat", "wglCreateContext", "wglMakeCurrent", "SetWindowLongA",
                           "SendMessageA(4096,611)", "ShowWindow(5)", "SetForegroundWindow", "SetFocus",
                           "glViewport", "glGetString", "glProgramStringARB", "glEnable", "SwapBuffers"};
    int previous = -1;
    for (const char *step : order) {
        const int index = fake_call_index(step);
        EXPECT_GT(index, previous) << step << " out of order";
        previous = index;
    }
    EXPECT_EQ(fake.window_user_data, &module);
    EXPECT_EQ(fake.host_messages.size(), 2u);
    EXPECT_EQ(fake.host_messages[1].window, module.parent_window);
    EXPECT_EQ(fake.swaps, 1);
    EXPECT_TRUE(fake.boxes.empty());
    EXPECT_FALSE(fake.window_minimized);
}

TEST_F(Lifecycle, ZeroProbeAnswerRefusesBeforeAnyWindow) {
    fake.probe_answer = 0;
    EXPECT_EQ(plugin_init(&module), 1);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "This plugin requires Winamp 5.0+");
    EXPECT_EQ(fake.boxes[0].caption, "Halcyonsphere");
    EXPECT_EQ(fake.boxes[0].owner, module.parent_window);
    EXPECT_EQ(fake.boxes[0].type, win32::MB_OK);
    EXPECT_FALSE(fake_called("RegisterClassA"));
    EXPECT_FALSE(fake_called("CreateWindowExA"));
    EXPECT_EQ(fake.quit_messages, 0);
}

TEST_F(Lifecycle, QuitWithdrawsTheWindowThenTearsDown) {
    ASSERT_EQ(plugin_init(&module), 0);
    fake.calls.clear();
    plugin_quit(&module);
    ASSERT_FALSE(fake.calls.empty());
    EXPECT_EQ(fake.calls[0], "SendMessageA(0,611)");
    EXPECT_LT(fake_call_index("wglDeleteContext"), fake_call_index("ReleaseDC"));
    EXPECT_LT(fake_call_index("ReleaseDC"), fake_call_index("DestroyWindow"));
    EXPECT_LT(fake_call_index("DestroyWindow"), fake_call_index("UnregisterClassA"));
    EXPECT_EQ(plugin_state.window, nullptr);
    EXPECT_EQ(plugin_state.gl_context, nullptr);
}

TEST_F(Lifecycle, QuitReleasesTheSceneModelsButKeepsTheirHandles) {
    ASSERT_EQ(plugin_init(&module), 0);
    write_asset("empty.qtl", std::vector<uint8_t>{0x37, 0x13});
    ModelHandle *handle = load_model("vis_halcyonsphere_assets/empty.qtl");
    ASSERT_NE(handle, nullptr);
    plugin_state.model_list[plugin_state.model_count++] = handle;
    ASSERT_EQ(model_slots[handle->slot].used, 1);
    plugin_quit(&module);
    EXPECT_EQ(model_slots[handle->slot].used, 0);
    EXPECT_EQ(handle->loaded, 0);
    EXPECT_EQ(plugin_state.model_list[0], handle);
    // The handle loads its model again from the path it kept.
    EXPECT_NE(resolve_model_handle(handle), nullptr);
    release_all_models();
}

TEST_F(Lifecycle, RenderDrawsAndSwapsUntilQuitThenNothingUntilTheNextStart) {
    ASSERT_EQ(plugin_init(&module), 0);
    EXPECT_EQ(plugin_render(&module), 0);
    EXPECT_EQ(fake.swaps, 2);
    plugin_quit(&module);
    fake.calls.clear();
    EXPECT_EQ(plugin_render(&module), 0);
    EXPECT_TRUE(fake.calls.empty());
    // A start that fails leaves Render silent; one that succeeds draws again.
    fake.probe_answer = 0;
    EXPECT_EQ(plugin_init(&module), 1);
    EXPECT_EQ(plugin_render(&module), 0);
    EXPECT_EQ(fake.swaps, 2);
    fake.probe_answer = 0x5066;
    EXPECT_EQ(plugin_init(&module), 0);
    EXPECT_EQ(plugin_render(&module), 0);
    EXPECT_EQ(fake.swaps, 4);
}

TEST_F(Lifecycle, ConfigStoresTheModuleAndIgnoresReentry) {
    plugin_config(&module);
    EXPECT_EQ(plugin_state.module, &module);
    EXPECT_EQ(plugin_state.config_open, 0);

    VisModule other{};
    plugin_state.config_open = 1;  // as while the dialog's own loop runs
    plugin_config(&other);
    EXPECT_EQ(plugin_state.module, &module);
    EXPECT_EQ(plugin_state.config_open, 1);
}

TEST_F(Lifecycle, SizesBelowOnePixelAreRaisedBeforeTheWindow) {
    write_asset("useropt.cfg", std::vector<uint8_t>{0, 0, 0, 0, 0xF6, 0xFF, 0xFF, 0xFF});  // 0 x -10
    ASSERT_EQ(plugin_init(&module), 0);
    EXPECT_EQ(plugin_state.options.width, 0);
    EXPECT_EQ(plugin_state.options.height, -10);
    EXPECT_EQ(plugin_state.viewport_width, 1);
    EXPECT_EQ(plugin_state.viewport_height, 1);
    EXPECT_TRUE(fake_called("glViewport(0,0,1,1)"));
}

}  // namespace
