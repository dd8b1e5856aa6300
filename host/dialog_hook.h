// Closes every message box and dialog the plug-in shows, so no run waits on a person. A WH_CBT
// hook sees each dialog of the host's thread activate; a watcher thread finds those of the
// plug-in's own threads (visible windows of the dialog class) every 50 ms. Each is read (caption,
// text), logged as a "message_box" or "dialog" event, and answered with a posted click.
#pragma once

#include <windows.h>

#include <vector>

#include "host/dialog_script.h"
#include "player/dialog_answers.h"

// answers (dialog_answers.h) are used one per dialog in order; when they run out, or the dialog
// lacks the button, the safe default applies: No, else Cancel, else OK, else the first button present.
// on_dialog, when set, is called once, with the first dialog, before it is answered.
bool dialog_hook_install(HWND parent, const std::vector<int> &answers, void (*on_dialog)(HWND));
void dialog_hook_remove();
// The first dialog that is not a message box gets this script once its own loop runs: its controls
// are logged ("opened"), the actions applied, the controls logged again ("answered"), the shot
// taken, and only then is it answered.
void dialog_hook_set_script(const DialogScript &script);
int dialog_hook_count();  // dialogs answered so far
