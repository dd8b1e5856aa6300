// A connection to the sound server through libpulse, on a mainloop the calling thread drives.
// libpulse speaks to PulseAudio and to PipeWire's PulseAudio server alike, so one client serves
// both desktops.
//
// Nothing here autospawns a server: a missing server is reported, never started behind the
// user's back.
#pragma once

#include <pulse/pulseaudio.h>

#include <string>

struct PulseClient {
    pa_mainloop *loop = nullptr;
    pa_context *context = nullptr;
};

// Connects with the server libpulse finds (PULSE_SERVER, client.conf, then the per-user and the
// system-wide socket). False with one line naming what was tried when there is none, or when it
// does not answer within timeout_s.
bool pulse_client_connect(PulseClient *client, const char *app_name, double timeout_s, std::string *error);
void pulse_client_close(PulseClient *client);

// Runs the loop for at most max_seconds (less when something happens, or on pa_mainloop_wakeup).
void pulse_client_iterate(PulseClient *client, double max_seconds);

// Runs the loop until the operation is done, the context fails or timeout_s passes; takes the
// operation's reference. False unless it completed.
bool pulse_client_wait(PulseClient *client, pa_operation *operation, double timeout_s);

bool pulse_client_ready(const PulseClient &client);

// "PulseAudio (or PipeWire's PulseAudio server) at ..., then ...": where libpulse looks, for
// the line that says there is no server.
std::string pulse_server_tried();

// Seconds on the clock libpulse times with (CLOCK_MONOTONIC).
double pulse_clock_now();
