// A private PulseAudio server for one test, in a runtime folder of its own, with two null sinks:
// "out" (the default output) and "hp". Starting it points this process's libpulse at it.
#pragma once

#include <sys/types.h>

#include <string>

struct SoundServer {
    std::string folder;  // runtime folder and home of the server, removed by sound_server_stop
    pid_t pid = -1;
};

// Whether pulseaudio and pactl are installed (Debian: pulseaudio, pulseaudio-utils).
bool sound_server_installed();

// Makes a new folder and points XDG_RUNTIME_DIR, PULSE_RUNTIME_PATH and HOME at it (PULSE_SERVER
// and DISPLAY unset), so libpulse looks there and only there.
bool sound_server_prepare(SoundServer *server, std::string *error);

// Starts the server in the prepared folder and waits until "out" is the default. Again after a
// kill, it starts a new one in the same place.
bool sound_server_start(SoundServer *server, std::string *error);

// pactl with the arguments against the server; true when it succeeds.
bool sound_server_pactl(const SoundServer &server, const std::string &arguments);

// SIGKILL, as a crash; the folder stays for a restart.
void sound_server_kill(SoundServer *server);

// Ends the server and removes the folder.
void sound_server_stop(SoundServer *server);
