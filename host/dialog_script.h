// What the host does to a dialog in place of a person: types into edit fields, clicks buttons,
// moves sliders, reports what every control shows, and photographs the dialog.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct DialogAction {
    enum Kind { kText, kClick, kSlider } kind;
    int id;            // the control
    std::string text;  // kText: the edit field's new text
    int position;      // kSlider: the new position (the slider clamps it to its range)
};

struct DialogScript {
    bool active = false;          // act on the first dialog that is not a message box
    std::vector<DialogAction> actions;
    const char *shot = nullptr;   // PNG of the dialog after the actions; null: none
};

// Parses "ID=TEXT" (kText), "ID" (kClick) or "ID=POS" (kSlider) into action; false when malformed.
bool dialog_action_parse(DialogAction::Kind kind, const char *text, DialogAction *action);

// One "dialog_controls" event: for every control in tab order its id, class, text and style, the
// check state of check boxes and radio buttons, the range and position of sliders.
void dialog_controls_log(HWND dialog, const char *when);
// Applies the actions in order; each one is logged as a "dialog_action" event.
void dialog_actions_apply(HWND dialog, const std::vector<DialogAction> &actions);
// Paints the dialog and writes its client area to path as a PNG; logs a "dialog_shot" event.
bool dialog_shot(HWND dialog, const char *path);
