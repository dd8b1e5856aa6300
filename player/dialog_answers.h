// The answers a player's boxes and dialogs can be given on the command line (--answer), by the
// ids Win32 gives their buttons, and the names the events call them by.
#pragma once

struct DialogButton {
    int id;  // IDOK ... IDNO
    const char *name;
};
// In the order the events list the buttons a box has.
extern const DialogButton kDialogButtons[7];

// Besides the buttons: the box's own default, and the title bar's close box (WM_SYSCOMMAND with
// SC_CLOSE).
constexpr int kAnswerDefault = 0;
constexpr int kAnswerCloseBox = -2;

// Parses "ok", "cancel", "yes", "no", "abort", "retry", "ignore", "close" or "default"; -1 when unknown.
int dialog_answer_parse(const char *name);
// A button's name; "close" for any other id, the close box's among them.
const char *dialog_answer_name(int id);
