#include "audio/output_latency.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/pulse_client.h"

namespace {

struct Search {
    pid_t pid;
    const char *app_name;
    int streams = 0;
    double seconds = 0;
    uint32_t sink = PA_INVALID_INDEX;
    bool by_name = false;  // found through its name only
};

void on_sink_input(pa_context *, const pa_sink_input_info *info, int end, void *userdata) {
    Search *search = static_cast<Search *>(userdata);
    if (end || !info) return;
    const char *process = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
    const char *name = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_NAME);
    // SDL's PipeWire backend names its stream but gives no process id.
    const bool ours = process ? std::strtol(process, nullptr, 10) == long(search->pid)
                              : search->app_name && name && std::strcmp(name, search->app_name) == 0;
    if (!ours) return;
    search->streams += 1;
    if (search->streams > 1 && !(search->by_name && process)) return;  // a stream with our id beats a namesake
    search->by_name = !process;
    search->seconds = double(info->buffer_usec + info->sink_usec) / 1e6;
    search->sink = info->sink;
}

void on_sink(pa_context *, const pa_sink_info *info, int end, void *userdata) {
    if (!end && info && info->name) *static_cast<std::string *>(userdata) = info->name;
}

}  // namespace

bool output_latency_query(pid_t pid, const char *app_name, int queries, OutputLatency *latency, std::string *error) {
    *latency = OutputLatency();
    PulseClient client;
    if (!pulse_client_connect(&client, "Halcyonsphere", 5, error)) return false;
    double sum = 0;
    int answered = 0;
    uint32_t sink = PA_INVALID_INDEX;
    for (int i = 0; i < std::max(queries, 1) && pulse_client_ready(client); ++i) {
        if (i > 0) {
            const double until = pulse_clock_now() + 0.020;
            while (pulse_clock_now() < until) pulse_client_iterate(&client, until - pulse_clock_now());
        }
        Search search{pid, app_name};
        if (!pulse_client_wait(&client, pa_context_get_sink_input_info_list(client.context, on_sink_input, &search), 5) ||
            search.streams == 0)
            continue;
        sum += search.seconds;
        answered += 1;
        latency->streams = search.streams;
        sink = search.sink;
    }
    if (answered == 0) {
        *error = "no playback stream of process " + std::to_string(pid) + " on the sound server";
        pulse_client_close(&client);
        return false;
    }
    latency->seconds = sum / answered;
    pulse_client_wait(&client, pa_context_get_sink_info_by_index(client.context, sink, on_sink, &latency->sink), 5);
    pulse_client_close(&client);
    return true;
}

double output_delay_seconds(const OutputLatency &latency, double user_latency_ms) {
    return latency.seconds + user_latency_ms / 1000.0;
}

bool parse_sound_latency_ms(const char *text, double *ms, std::string *error) {
    char *end = nullptr;
    errno = 0;
    const double value = text && *text ? std::strtod(text, &end) : NAN;
    if (!end || *end != '\0' || errno != 0 || !(value >= 0 && value <= 10000)) {
        *error = std::string("--sound-latency takes milliseconds from 0 to 10000, not \"") + (text ? text : "") + "\"";
        return false;
    }
    *ms = value;
    return true;
}
