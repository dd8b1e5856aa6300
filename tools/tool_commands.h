// The asset and model tools as commands. Each takes its arguments as a main does and returns the
// exit status; argv[0] is the name its messages begin with ("model_info" for the tool on its own,
// "halcyonsphere model-info" inside the program). --help prints its usage.
#pragma once

#include <cstring>
#include <string>

int model_info_command(int argc, char **argv);
int make_assets_command(int argc, char **argv);
int bmp_info_command(int argc, char **argv);

// Where check-assets looks when no folder is named: the program's own asset set and the user's
// options file. Each fills in a path or gives one line of reason.
struct InstalledAssets {
    bool (*asset_folder)(std::string *folder, std::string *error);
    bool (*options_file)(std::string *path, std::string *error);
};
// Without installed (the tool on its own) a folder must be named.
int check_assets_command(int argc, char **argv, const InstalledAssets *installed = nullptr);

inline bool asks_for_help(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    return false;
}
