// The player's commands of the installed program, each taking its arguments as a main does.
#pragma once

int render_command(int argc, char **argv);
// The same with the audio named audio_label in its messages (the demo's music, made in memory).
int render_command_labelled(int argc, char **argv, const char *audio_label);
int play_command(int argc, char **argv);
int demo_command(int argc, char **argv);
