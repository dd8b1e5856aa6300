// The command lines of render, play and demo: options by their whole names only (a prefix of one
// is refused, not guessed), "--name value" or "--name=value", no empty values, and every word
// after "--" a plain argument, so a file whose name begins with a dash can be named.
#pragma once

#include <string>
#include <vector>

struct OptionRule {
    const char *name;   // "--out"
    bool takes_value;
};

struct ParsedLine {
    std::vector<std::pair<std::string, std::string>> options;  // in order; "" for a flag
    std::vector<std::string> arguments;
    bool help = false;
};

// False with one line in *error.
bool command_line_parse(int argc, char **argv, const std::vector<OptionRule> &rules, ParsedLine *line,
                        std::string *error);
// The last value given for name, or null.
const std::string *command_line_value(const ParsedLine &line, const char *name);
bool command_line_flag(const ParsedLine &line, const char *name);
