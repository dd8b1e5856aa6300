#include "player/dialog_answers.h"

#include <cstring>

const DialogButton kDialogButtons[7] = {
    {1, "ok"}, {2, "cancel"}, {3, "abort"}, {4, "retry"}, {5, "ignore"}, {6, "yes"}, {7, "no"},
};

int dialog_answer_parse(const char *name) {
    if (std::strcmp(name, "default") == 0) return kAnswerDefault;
    if (std::strcmp(name, "close") == 0) return kAnswerCloseBox;
    for (const DialogButton &button : kDialogButtons)
        if (std::strcmp(name, button.name) == 0) return button.id;
    return -1;
}

const char *dialog_answer_name(int id) {
    for (const DialogButton &button : kDialogButtons)
        if (button.id == id) return button.name;
    return "close";
}
