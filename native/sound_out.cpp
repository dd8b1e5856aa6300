#include "native/sound_out.h"

#include <SDL.h>
#include <dlfcn.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "native/sound_clock.h"

#ifdef HALCYON_OUTPUT_LATENCY
#include "audio/output_latency.h"
#endif

namespace {

constexpr char kAppName[] = "Halcyonsphere";

SNDFILE *g_file = nullptr;
SF_INFO g_info;
int g_channels = 0;  // played: the file's first two
bool g_audio_started = false;
SDL_AudioDeviceID g_device = 0;
SDL_AudioSpec g_output;
std::vector<float> g_block;  // the callback's, decoded as the device asks

// What the callback last did, read together: a count from one request with the time of another
// would move the clock back and forth.
std::mutex g_taken_lock;
long long g_delivered = 0;   // sample frames handed to the device
uint64_t g_delivered_at = 0;  // when, on SDL's performance counter
std::atomic<bool> g_ended{false};

double g_heard = 0;  // the clock's last reading: it never goes back
std::atomic<double> g_extra_latency{0};
std::atomic<double> g_reported_latency{0};

// The server's latency for our stream, asked now and then off the frame loop's thread: the
// server's buffer grows when the machine is loaded.
std::thread g_latency_thread;
std::mutex g_latency_lock;
std::condition_variable g_latency_stop;
bool g_latency_stopping = false;

void ask_latency() {
#ifdef HALCYON_OUTPUT_LATENCY
    std::unique_lock<std::mutex> lock(g_latency_lock);
    // The stream appears on the server once the device runs; a server that is not there is not
    // asked again soon.
    double wait = 0.3;
    while (!g_latency_stop.wait_for(lock, std::chrono::duration<double>(wait), [] { return g_latency_stopping; })) {
        lock.unlock();
        OutputLatency latency;
        std::string error;
        const bool found = output_latency_query(getpid(), kAppName, 3, &latency, &error);
        if (found) g_reported_latency = latency.seconds;
        lock.lock();
        wait = found ? 2.0 : 5.0;
    }
#endif
}

// On SDL's audio thread: decodes what the device asks for, then silence after the end.
void SDLCALL fill(void *, Uint8 *stream, int length) {
    float *out = reinterpret_cast<float *>(stream);
    const int frames = length / int(sizeof(float)) / g_channels;
    int done = 0;
    while (done < frames && !g_ended) {
        const int wanted = std::min(frames - done, 4096);
        g_block.resize(size_t(wanted) * size_t(g_info.channels));
        const sf_count_t got = sf_readf_float(g_file, g_block.data(), wanted);
        if (got <= 0) {
            g_ended = true;
            break;
        }
        for (sf_count_t i = 0; i < got; ++i)
            for (int c = 0; c < g_channels; ++c)
                out[(size_t(done) + size_t(i)) * size_t(g_channels) + size_t(c)] =
                    g_block[size_t(i) * size_t(g_info.channels) + size_t(c)];
        done += int(got);
    }
    std::memset(out + size_t(done) * size_t(g_channels), 0, size_t(frames - done) * size_t(g_channels) * sizeof(float));
    // Only sound moves the clock of what is heard: after the end, silence lets it run out.
    if (done == 0) return;
    std::lock_guard<std::mutex> lock(g_taken_lock);
    g_delivered += done;
    g_delivered_at = SDL_GetPerformanceCounter();
}

SoundClockReading clock_reading() {
    SoundClockReading reading;
    const double rate = g_output.freq;
    long long delivered;
    uint64_t at;
    {
        std::lock_guard<std::mutex> lock(g_taken_lock);
        delivered = g_delivered;
        at = g_delivered_at;
    }
    reading.handed = double(delivered) / rate;
    reading.buffer = double(g_output.samples) / rate;
    reading.since = double(SDL_GetPerformanceCounter() - at) / double(SDL_GetPerformanceFrequency());
    reading.latency = g_reported_latency + g_extra_latency;
    return reading;
}

}  // namespace

namespace {

void alsa_says_nothing(const char *, int, const char *, int, const char *, ...) {}

// Where ALSA finds no card, its library prints eight lines of its configuration's failures while
// SDL only probes it; SDL's own reason, which our line gives, says it in one. SDL loads the same
// library, so the handler set here is the one it reports through. A driver the user names keeps
// its messages.
void quiet_alsa_probing() {
    if (std::getenv("SDL_AUDIODRIVER")) return;
    void *alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);  // kept loaded, for SDL's use
    if (!alsa) return;
    typedef void (*Handler)(const char *, int, const char *, int, const char *, ...);
    typedef int (*SetHandler)(Handler);
    if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) set(alsa_says_nothing);
}

}  // namespace

bool sound_open(const char *path, double start_seconds, std::string *error) {
    g_info = SF_INFO{};
    g_file = sf_open(path, SFM_READ, &g_info);
    if (!g_file) {
        *error = std::string("cannot read the sound of ") + path + ": " + sf_strerror(nullptr);
        return false;
    }
    g_channels = std::min(g_info.channels, 2);
    const sf_count_t start = sf_count_t(start_seconds * g_info.samplerate);
    if (g_channels < 1 || (start > 0 && sf_seek(g_file, start, SEEK_SET) < 0)) {
        *error = std::string("cannot play ") + path + " from " + std::to_string(start_seconds) + " s";
        sound_close();
        return false;
    }
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, kAppName);
    quiet_alsa_probing();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        *error = std::string("no sound output here (") + SDL_GetError() + ")";
        sound_close();
        return false;
    }
    g_audio_started = true;
    SDL_AudioSpec wanted{};
    wanted.freq = g_info.samplerate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = Uint8(g_channels);
    wanted.samples = 1024;  // 23 ms at 44.1 kHz: the picture follows the sound closely
    wanted.callback = fill;
    // No changes allowed: SDL converts to what the device takes, and the callback keeps this layout.
    g_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &g_output, 0);
    if (g_device == 0) {
        *error = std::string("no sound output here (") + SDL_GetError() + ")";
        sound_close();
        return false;
    }
    g_delivered = 0;
    g_heard = 0;
    g_ended = false;
    g_reported_latency = 0;
    return true;
}

void sound_extra_latency(double seconds) { g_extra_latency = seconds > 0 ? seconds : 0; }

void sound_latency_seconds(double *reported, double *extra) {
    *reported = g_reported_latency;
    *extra = g_extra_latency;
}

void sound_start() {
    if (!g_device) return;
    g_delivered_at = SDL_GetPerformanceCounter();
    SDL_PauseAudioDevice(g_device, 0);
    g_latency_stopping = false;
    g_latency_thread = std::thread(ask_latency);
}

double sound_heard_seconds() {
    if (!g_device) return 0;
    g_heard = std::max(g_heard, sound_clock_heard(clock_reading()));
    return g_heard;
}

bool sound_finished() {
    if (!g_device || !g_ended) return false;
    const SoundClockReading reading = clock_reading();
    return sound_heard_seconds() >= reading.handed - reading.latency;
}

void sound_close() {
    if (g_latency_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(g_latency_lock);
            g_latency_stopping = true;
        }
        g_latency_stop.notify_all();
        g_latency_thread.join();
    }
    // Closing a device that stopped asking for sound waits for its thread, which may never come
    // back: the run ends without it, and the device and what it reads go with the process.
    const bool stalled = g_device && clock_reading().since > double(g_output.samples) / g_output.freq + kSoundStallSeconds;
    if (stalled) {
        g_ended = true;
        g_device = 0;
        g_audio_started = false;
        g_file = nullptr;
        return;
    }
    if (g_device) SDL_CloseAudioDevice(g_device);
    g_device = 0;
    if (g_audio_started) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g_audio_started = false;
    if (g_file) sf_close(g_file);
    g_file = nullptr;
}
