#include "native/command_line.h"

#include <cstring>

bool command_line_parse(int argc, char **argv, const std::vector<OptionRule> &rules, ParsedLine *line,
                        std::string *error) {
    *line = ParsedLine();
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (options_end || word.size() < 2 || word[0] != '-') {
            line->arguments.push_back(word);
            continue;
        }
        if (word == "--") {
            options_end = true;
            continue;
        }
        if (word == "--help" || word == "-h") {
            line->help = true;
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const OptionRule *rule = nullptr;
        for (const OptionRule &candidate : rules)
            if (name == candidate.name) rule = &candidate;
        if (!rule) {
            *error = "unknown option " + name + " (--help lists them; a file whose name begins with - goes after --)";
            return false;
        }
        std::string value;
        if (!rule->takes_value) {
            if (equals != std::string::npos) {
                *error = name + " takes no value";
                return false;
            }
        } else if (equals != std::string::npos) {
            value = word.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            *error = name + " needs a value";
            return false;
        }
        if (rule->takes_value && value.empty()) {
            *error = name + " needs a value, not an empty one";
            return false;
        }
        line->options.emplace_back(name, value);
    }
    return true;
}

const std::string *command_line_value(const ParsedLine &line, const char *name) {
    const std::string *found = nullptr;
    for (const auto &option : line.options)
        if (option.first == name) found = &option.second;
    return found;
}

bool command_line_flag(const ParsedLine &line, const char *name) { return command_line_value(line, name) != nullptr; }
