// The sources the sound server offers for capture: each output's monitor (what that output plays)
// and each input (a microphone, a line in), with the one live capture takes by default marked.
#pragma once

#include <string>
#include <vector>

struct SoundSource {
    std::string name;         // what --source takes
    std::string description;  // the server's words for it
    bool output_monitor = false;  // false: an input
    bool default_capture = false;  // the monitor of the default output: what is captured without --source
    bool default_input = false;    // the server's default source (often a monitor too)
};

struct SoundSourceList {
    std::vector<SoundSource> sources;  // monitors first, then inputs, each in the server's order
    std::string default_output;        // the default sink's name; empty when there is none
    std::string server;                // the server's name and version
};

// False with the one line of pulse_client_connect when there is no server.
bool sound_sources_list(SoundSourceList *list, std::string *error);

// One line per source, for --list-sources: "output"/"input", the name, the marks, the description.
std::string sound_sources_text(const SoundSourceList &list);
