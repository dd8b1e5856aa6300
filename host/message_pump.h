// The host's thread's message queue: the plug-in's windows live on it, and the plug-in's request
// to be stopped arrives on it as a quit message.
#pragma once

#include "player/player_platform.h"  // seconds_now, sleep_seconds and pump_messages: the queue run once

// Runs the queue until the time deadline (of seconds_now) has come; true, at once, on the quit message.
bool pump_messages_until(double deadline, int after_frames);
