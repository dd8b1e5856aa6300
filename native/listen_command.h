// `halcyonsphere listen`: the visualization of whatever the computer plays, live in a window, each
// frame showing the sound heard as it reaches the screen (native/live_rows.h over the live
// capture, audio/live_capture.h). Takes its arguments as a main does; argv[0] begins its messages.
#pragma once

int listen_command(int argc, char **argv);
