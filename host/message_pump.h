// The host's thread's message queue: the plug-in's windows live on it, and the plug-in's request
// to be stopped arrives on it as a quit message.
#pragma once

double seconds_now();  // a monotonic clock, in seconds

// Runs the queue; true when the plug-in's quit message came out of it (logged as "quit_message"
// with after_frames).
bool pump_messages(int after_frames);
// Runs the queue until the time deadline (of seconds_now) has come; true, at once, on the quit message.
bool pump_messages_until(double deadline, int after_frames);
