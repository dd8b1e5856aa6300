// live_stream [--source NAME] [--rate HZ] [--seconds S]
// A live spectrum stream on stdout of what the computer plays (the default output's monitor,
// followed when the default changes, or the named source): one record a tick, each the rows of the
// sound heard at that moment, for a player reading stdin (--spectrum stream:-). Runs until
// interrupted, the player closes the pipe, or S seconds passed. What the capture says (the server
// gone and back, another default output) goes to stderr.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "audio/live_capture.h"
#include "audio/spectrum_stream.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_stop(int) { g_stop = 1; }

int usage() {
    std::fputs("usage: live_stream [--source NAME] [--rate HZ] [--seconds S]\n", stderr);
    return 2;
}

int fail(const std::string &line) {
    std::fprintf(stderr, "live_stream: %s\n", line.c_str());
    return 1;
}

// False when the player is gone (or stdout fails otherwise: then with a line).
bool send(const uint8_t *bytes, size_t size, bool *broken) {
    if (std::fwrite(bytes, 1, size, stdout) == size && std::fflush(stdout) == 0) return true;
    *broken = errno != EPIPE;
    if (*broken) std::fprintf(stderr, "live_stream: cannot write the stream: %s\n", std::strerror(errno));
    return false;
}

void say_notices(LiveCapture *capture) {
    std::string line;
    while (live_capture_notice(capture, &line)) std::fprintf(stderr, "live_stream: %s\n", line.c_str());
}

}  // namespace

int main(int argc, char **argv) {
    const char *source = nullptr;
    long rate = 60;
    double seconds = 0;  // 0: until stopped
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        char *end = nullptr;
        if (std::strcmp(arg, "--source") == 0 && value && *value) {
            source = argv[++i];
        } else if (std::strcmp(arg, "--rate") == 0 && value) {
            rate = std::strtol(argv[++i], &end, 10);
            if (*end || rate < 1 || rate > 1000) return usage();
        } else if (std::strcmp(arg, "--seconds") == 0 && value) {
            seconds = std::strtod(argv[++i], &end);
            if (*end || !(seconds > 0 && seconds <= 1e7)) return usage();
        } else {
            return usage();
        }
    }
    if (isatty(STDOUT_FILENO)) return fail("stdout is a terminal: pipe the stream into a player (--spectrum stream:-)");
    // The player closing the pipe ends the run as a failed write, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) std::signal(number, on_stop);

    LiveCaptureOptions options;
    options.source = source;
    std::string error;
    LiveCapture *capture = live_capture_open(options, &error);
    if (!capture) return fail(error);
    const LiveCaptureStatus status = live_capture_status(capture);
    std::fprintf(stderr, "live_stream: capturing %s from %s\n",
                 status.source.empty() ? "nothing yet" : status.source.c_str(), status.server.c_str());

    SpectrumStream fields;
    fields.channel_count = 2;
    fields.rate_numerator = uint32_t(rate);
    fields.live = true;
    uint8_t header[kStreamHeaderSize];
    spectrum_stream_header(fields, header);
    bool broken = false;
    bool open = send(header, sizeof header, &broken);
    uint8_t record[kStreamRecordSize];
    const double period = 1.0 / double(rate), start = live_capture_clock();
    for (double tick = start; open && !g_stop && (seconds == 0 || tick - start < seconds); tick += period) {
        const double wait = tick - live_capture_clock();
        if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(int64_t(wait * 1e6)));
        // Behind (a player that stopped reading a while): on from now, not through the past.
        tick = std::max(tick, live_capture_clock() - period);
        live_capture_rows(capture, tick, record);
        open = send(record, sizeof record, &broken);
        say_notices(capture);
    }
    live_capture_close(capture);
    return broken ? 1 : 0;
}
