#include "settings/options_dialog.h"

#include <cstdio>

#include "settings/leading_integer.h"
#include "settings/user_options.h"
#include "shell/plugin_state.h"

namespace {

struct CheckBoxOption {
    int id;
    int32_t UserOptions::*field;
};

const CheckBoxOption kCheckBoxes[] = {
    {kFullscreenCheck, &UserOptions::fullscreen}, {kLightPanningCheck, &UserOptions::light_panning},
    {kDetailedHeightCheck, &UserOptions::detailed_height}, {kAltSphereCheck, &UserOptions::alt_sphere},
    {kMipmapsCheck, &UserOptions::mipmaps}, {kFloatCheck, &UserOptions::floating},
    {kRotateCheck, &UserOptions::rotating},
};

struct SliderOption {
    int id;
    int32_t UserOptions::*field;
    uint16_t low, high;
};

const SliderOption kSliders[] = {
    {kLightBrightnessSlider, &UserOptions::light_brightness, 0, 1024},
    {kRadialBrightnessSlider, &UserOptions::radial_brightness, 0, 1024},
    {kSphereSizeSlider, &UserOptions::sphere_size, 0, 1024},
    {kSphereCountSlider, &UserOptions::sphere_count, 1, uint16_t(kMaxSphereCount)},
    {kDelaySlider, &UserOptions::delay, 0, 2},
};

// What the edits hold is read through a text of this size, so at most 15 characters count.
constexpr int kEditTextSize = 16;

void show_number(WindowHandle dialog, int id, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%i", int(value));
    platform_set_dlg_item_text(dialog, id, text);
}

int32_t read_number(WindowHandle dialog, int id) {
    char text[kEditTextSize] = "";
    platform_get_dlg_item_text(dialog, id, text, kEditTextSize);
    return parse_leading_integer(text);
}

void fill_controls(WindowHandle dialog) {
    UserOptions &options = plugin_state.options;
    show_number(dialog, kWidthEdit, options.width);
    show_number(dialog, kHeightEdit, options.height);
    for (const CheckBoxOption &box : kCheckBoxes)
        platform_check_dlg_button(dialog, box.id, options.*box.field != 0 ? win32::BST_CHECKED : win32::BST_UNCHECKED);
    // The range first, so that the position is clamped to it and an out-of-range value shows at an end.
    for (const SliderOption &slider : kSliders) {
        platform_send_dlg_item_message(dialog, slider.id, win32::TBM_SETRANGE, 1,
                                       intptr_t(uint32_t(slider.high) << 16 | slider.low));
        platform_send_dlg_item_message(dialog, slider.id, win32::TBM_SETPOS, 1, options.*slider.field);
    }
}

// Each option is one 32-bit store, so a frame drawn meanwhile sees either the old or the new value.
void store_controls(WindowHandle dialog) {
    UserOptions &options = plugin_state.options;
    options.width = read_number(dialog, kWidthEdit);
    options.height = read_number(dialog, kHeightEdit);
    for (const CheckBoxOption &box : kCheckBoxes)
        options.*box.field = int32_t(platform_is_dlg_button_checked(dialog, box.id));
    for (const SliderOption &slider : kSliders)
        options.*slider.field = int32_t(platform_send_dlg_item_message(dialog, slider.id, win32::TBM_GETPOS, 0, 0));
}

}  // namespace

intptr_t options_dialog_proc(WindowHandle dialog, uint32_t message, uintptr_t wparam, intptr_t) {
    if (message == win32::WM_INITDIALOG) {
        // Every opening starts from the file: values changed but never saved are dropped.
        read_options();
        fill_controls(dialog);
        return 1;
    }
    if (message == win32::WM_COMMAND && (wparam & 0xFFFF) == uintptr_t(win32::IDOK)) {
        store_controls(dialog);
        write_options();
        platform_end_dialog(dialog, 1);
        return 1;
    }
    // The title bar's close box ends the dialog as Cancel does, without storing anything.
    if ((message == win32::WM_COMMAND && (wparam & 0xFFFF) == uintptr_t(win32::IDCANCEL)) ||
        message == win32::WM_CLOSE) {
        platform_end_dialog(dialog, 1);
        return 1;
    }
    return 0;
}

void run_options_dialog(InstanceHandle library_instance, WindowHandle owner) {
    platform_dialog_box(library_instance, kOptionsDialogResource, owner);
}
