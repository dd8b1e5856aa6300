// Text as a JSON string literal: quotes, backslashes, control characters and bytes above 127
// escaped, so any text gives valid JSON.
#pragma once

#include <string>

std::string json_text(const std::string &text);
