// Reads a dialog template back from a loaded DLL's resources and logs it as one
// "dialog_template" event: the dialog's style, size, title and font, then every control in
// template order with its id, class, text, style and position, all in dialog units.
#pragma once

#include <windows.h>

// False (with found or parsed false in the event) when the resource is missing or malformed.
bool dialog_template_log(HMODULE library, int resource_id);
