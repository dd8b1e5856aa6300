// One tool on its own, under its old name, for the build and the developer's commands.
#include "tools/tool_commands.h"

int main(int argc, char **argv) {
    argv[0] = const_cast<char *>(HALCYON_TOOL_NAME);
    return HALCYON_TOOL_COMMAND(argc, argv);
}
