#include "audio/sound_sources.h"

#include <algorithm>

#include "audio/pulse_client.h"

namespace {

struct Gathered {
    SoundSourceList *list;
    std::string default_source;
    std::vector<SoundSource> inputs;
};

void on_server_info(pa_context *, const pa_server_info *info, void *userdata) {
    Gathered *gathered = static_cast<Gathered *>(userdata);
    if (!info) return;
    gathered->list->default_output = info->default_sink_name ? info->default_sink_name : "";
    gathered->default_source = info->default_source_name ? info->default_source_name : "";
    gathered->list->server = std::string(info->server_name ? info->server_name : "?") + " " +
                             (info->server_version ? info->server_version : "?");
}

void on_source_info(pa_context *, const pa_source_info *info, int end, void *userdata) {
    Gathered *gathered = static_cast<Gathered *>(userdata);
    if (end || !info) return;
    SoundSource source;
    source.name = info->name ? info->name : "";
    source.description = info->description ? info->description : "";
    source.output_monitor = info->monitor_of_sink != PA_INVALID_INDEX;
    source.default_capture = source.output_monitor && info->monitor_of_sink_name &&
                             gathered->list->default_output == info->monitor_of_sink_name;
    source.default_input = source.name == gathered->default_source;
    (source.output_monitor ? gathered->list->sources : gathered->inputs).push_back(source);
}

}  // namespace

bool sound_sources_list(SoundSourceList *list, std::string *error) {
    *list = SoundSourceList();
    PulseClient client;
    if (!pulse_client_connect(&client, "Halcyonsphere", 5, error)) return false;
    Gathered gathered{list, {}, {}};
    // The server's defaults first: marking the sources needs them.
    bool ok = pulse_client_wait(&client, pa_context_get_server_info(client.context, on_server_info, &gathered), 5) &&
              pulse_client_wait(&client, pa_context_get_source_info_list(client.context, on_source_info, &gathered), 5);
    if (!ok) *error = std::string("the sound server did not list its sources: ") +
                      pa_strerror(pa_context_errno(client.context));
    list->sources.insert(list->sources.end(), gathered.inputs.begin(), gathered.inputs.end());
    pulse_client_close(&client);
    return ok;
}

std::string sound_sources_text(const SoundSourceList &list) {
    if (list.sources.empty()) return "no sources on the sound server (" + list.server + ")\n";
    size_t name_width = 0;
    for (const SoundSource &source : list.sources) name_width = std::max(name_width, source.name.size());
    std::string text;
    for (const SoundSource &source : list.sources) {
        std::string mark = source.default_capture ? "(default)"
                           : source.default_input && !source.output_monitor ? "(default input)"
                                                                            : "";
        std::string line = std::string(source.output_monitor ? "output " : "input  ") + source.name;
        line.append(name_width - source.name.size() + 2, ' ');
        line += mark;
        line.append(std::string("(default input)").size() - mark.size() + 2, ' ');
        text += line + source.description + "\n";
    }
    return text;
}
