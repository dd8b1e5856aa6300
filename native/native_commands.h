// The player's commands of the installed program, each taking its arguments as a main does.
#pragma once

int render_command(int argc, char **argv);
int play_command(int argc, char **argv);
int demo_command(int argc, char **argv);
