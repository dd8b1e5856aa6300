// halcyonsphere COMMAND [ARGUMENTS]: the installed program, one executable for every command.
// A command is a function taking its arguments as a main does; its argv[0] is
// "halcyonsphere COMMAND", which begins each of its messages.
#include <cstdio>
#include <cstring>
#include <string>

#include "native/install_paths.h"
#include "native/native_commands.h"
#include "player/player_platform.h"
#include "tools/tool_commands.h"
#ifdef HALCYON_LISTEN
#include "native/listen_command.h"
#endif

#ifndef HALCYON_VERSION
#define HALCYON_VERSION "unknown"
#endif

// Before each line the player's shared steps write on stderr.
const char kProgramName[] = "halcyonsphere";

namespace {

int check_installed_assets_command(int argc, char **argv) {
    static const InstalledAssets installed = {shipped_asset_folder, user_options_file};
    return check_assets_command(argc, argv, &installed);
}

struct Command {
    const char *name;
    int (*run)(int argc, char **argv);
    const char *summary;
};

constexpr Command kCommands[] = {
    {"render", render_command, "a video of the visualization of an audio file, with its sound"},
    {"play", play_command, "the visualization of an audio file live in a window, with its sound"},
#ifdef HALCYON_LISTEN
    {"listen", listen_command, "the visualization of whatever the computer plays, live in a window"},
#endif
    {"demo", demo_command, "a music video made with the plug-in from music it synthesizes"},
    {"model-info", model_info_command, "tell what a model file holds"},
    {"make-assets", make_assets_command, "write the shipped asset set into a folder"},
    {"check-assets", check_installed_assets_command, "say what the plug-in's Init makes of an asset folder"},
    {"bmp-info", bmp_info_command, "tell whether the plug-in reads a bitmap, and what it decodes"},
};

void print_overview(FILE *out) {
    std::fprintf(out,
                 "usage: halcyonsphere COMMAND [ARGUMENTS]\n"
                 "Halcyonsphere, a music visualization: lit planets that pulse and blur with the music.\n"
                 "commands:\n");
    for (const Command &command : kCommands) std::fprintf(out, "  %-13s %s\n", command.name, command.summary);
    std::fprintf(out, "'halcyonsphere COMMAND --help' tells more of each; 'halcyonsphere --version' the version.\n");
}

}  // namespace

int main(int argc, char **argv) {
    const char *first = argc > 1 ? argv[1] : nullptr;
    if (!first) {  // a failure is one line; --help gives the list
        std::fprintf(stderr, "halcyonsphere: name a command ('halcyonsphere --help' lists them)\n");
        return 2;
    }
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0 || std::strcmp(first, "help") == 0) {
        print_overview(stdout);
        return 0;
    }
    if (std::strcmp(first, "--version") == 0) {
        std::printf("halcyonsphere %s\n", HALCYON_VERSION);
        return 0;
    }
    for (const Command &command : kCommands) {
        if (std::strcmp(first, command.name) != 0) continue;
        std::string name = std::string("halcyonsphere ") + command.name;
        argv[1] = &name[0];
        return command.run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "halcyonsphere: no command '%s' ('halcyonsphere --help' lists them)\n", first);
    return 2;
}
