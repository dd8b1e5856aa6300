#include "audio/pulse_client.h"

#include <cstdlib>

namespace {

bool state_final(pa_context_state_t state) {
    return state == PA_CONTEXT_READY || state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
}

const char *env(const char *name) {
    const char *value = std::getenv(name);
    return value && *value ? value : nullptr;
}

}  // namespace

double pulse_clock_now() { return double(pa_rtclock_now()) / 1e6; }

std::string pulse_server_tried() {
    std::string text = "PulseAudio (or PipeWire's PulseAudio server) at ";
    if (const char *server = env("PULSE_SERVER")) return text + server + " (PULSE_SERVER)";
    // libpulse's own order without PULSE_SERVER: the per-user socket, then the system-wide one.
    if (const char *runtime = env("PULSE_RUNTIME_PATH")) {
        text += std::string(runtime) + "/native";
    } else if (const char *runtime_dir = env("XDG_RUNTIME_DIR")) {
        text += std::string(runtime_dir) + "/pulse/native";
    } else {
        text += "the per-user socket under ~/.config/pulse (XDG_RUNTIME_DIR unset)";
    }
    return text + ", then /var/run/pulse/native (PULSE_SERVER unset)";
}

bool pulse_client_connect(PulseClient *client, const char *app_name, double timeout_s, std::string *error) {
    pulse_client_close(client);
    client->loop = pa_mainloop_new();
    client->context = pa_context_new(pa_mainloop_get_api(client->loop), app_name);
    const char *why = nullptr;
    if (pa_context_connect(client->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        why = pa_strerror(pa_context_errno(client->context));
    } else {
        const double deadline = pulse_clock_now() + timeout_s;
        while (!state_final(pa_context_get_state(client->context)) && pulse_clock_now() < deadline)
            pulse_client_iterate(client, deadline - pulse_clock_now());
        const pa_context_state_t state = pa_context_get_state(client->context);
        if (state == PA_CONTEXT_READY) return true;
        why = state_final(state) ? pa_strerror(pa_context_errno(client->context)) : "no answer in time";
    }
    *error = "no sound server: tried " + pulse_server_tried() + ": " + why;
    pulse_client_close(client);
    return false;
}

void pulse_client_close(PulseClient *client) {
    if (client->context) {
        pa_context_disconnect(client->context);
        pa_context_unref(client->context);
    }
    if (client->loop) pa_mainloop_free(client->loop);
    *client = PulseClient();
}

void pulse_client_iterate(PulseClient *client, double max_seconds) {
    const int usec = max_seconds <= 0 ? 0 : max_seconds > 1 ? 1000000 : int(max_seconds * 1e6);
    if (pa_mainloop_prepare(client->loop, usec) < 0) return;
    if (pa_mainloop_poll(client->loop) < 0) return;
    pa_mainloop_dispatch(client->loop);
}

bool pulse_client_ready(const PulseClient &client) {
    return client.context && pa_context_get_state(client.context) == PA_CONTEXT_READY;
}

bool pulse_client_wait(PulseClient *client, pa_operation *operation, double timeout_s) {
    if (!operation) return false;
    const double deadline = pulse_clock_now() + timeout_s;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && pulse_client_ready(*client) &&
           pulse_clock_now() < deadline)
        pulse_client_iterate(client, deadline - pulse_clock_now());
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (!done) pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return done;
}
