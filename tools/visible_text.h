// Text from a file, made safe to print on a terminal: control characters and bytes above 126
// become \xNN, so a hostile file cannot move the cursor, recolour or retitle the terminal.
#pragma once

#include <string>

std::string visible_text(const std::string &text);
