#include "native/listen_recording.h"

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "audio/live_capture.h"
#include "native/encoder_process.h"
#include "native/live_rows.h"
#include "native/matroska_stream.h"
#include "native/plugin_folder.h"
#include "native/render_checks.h"
#include "native/render_output.h"
#include "native/stop_signals.h"
#include "player/run_stop.h"
#include "shell/platform_linux.h"

namespace {

constexpr int kChannels = 2;
constexpr int64_t kSoundChunk = 4096;  // frames of sound a block at most
// Sound not captured this long after its moment never will be (the server is gone): silence.
constexpr double kSoundWaitSeconds = 0.5;
const char kEncoderStopped[] = "ffmpeg stopped taking frames";

struct Recording {
    RenderOutput output;
    std::string name;              // as the user gave it
    EncoderProcess encoder;
    MatroskaStream stream;
    LiveCapture *capture = nullptr;
    bool started = false;
    int width = 0, height = 0;     // the video's, from the first frame
    double first_shown = 0;        // time zero: when the first frame reached the screen
    double last_shown = 0;
    int64_t last_ms = -1;          // the last frame's stamp
    int64_t frames = 0;
    int64_t sound_written = 0;     // frames of sound from time zero on
    std::string failure;
    std::vector<uint8_t> head, scaled;
    std::vector<float> sound;
    std::vector<const uint8_t *> rows;
};
Recording g_recording;

void at_exit_now() {
    encoder_kill_now();
    output_discard_now();
}

bool write_head(Recording &r) {
    if (encoder_write(&r.encoder, r.head.data(), r.head.size())) return true;
    r.failure = kEncoderStopped;
    return false;
}

// The sound heard from where the track is up to frame `until` of it: what has been captured,
// and silence up to `silent_until` for what has not come in time.
bool write_sound(Recording &r, int64_t until, int64_t silent_until) {
    r.sound.resize(size_t(kSoundChunk * kChannels));
    while (r.sound_written < until) {
        const int64_t count = std::min(kSoundChunk, until - r.sound_written);
        const double from = r.first_shown + double(r.sound_written) / kLiveCaptureRate;
        int64_t take = live_capture_heard(r.capture, from, count, r.sound.data());
        if (take < count) take = std::max(take, std::min(count, silent_until - r.sound_written));  // zeros past it
        if (take <= 0) return true;
        const size_t bytes = size_t(take) * kChannels * sizeof(float);
        r.head.clear();
        matroska_block_head(&r.stream, kMatroskaAudioTrack,
                            std::llround(double(r.sound_written) * 1000 / kLiveCaptureRate), bytes, &r.head);
        if (!write_head(r) || !encoder_write(&r.encoder, r.sound.data(), bytes)) {
            r.failure = kEncoderStopped;
            return false;
        }
        r.sound_written += take;
        if (take < count) return true;
    }
    return true;
}

std::vector<std::string> encoder_arguments(const Recording &r) {
    // ultrafast: encoding keeps up beside the drawing on a small machine, for larger files.
    // passthrough keeps each frame's own time.
    return {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-f", "matroska", "-i", "pipe:0",
            "-map", "0:v:0", "-map", "0:a:0", "-c:v", "libx264", "-preset", "ultrafast", "-crf", "20",
            "-pix_fmt", "yuv420p", "-fps_mode", "passthrough", "-c:a", "aac", "-b:a", "192k",
            "-movflags", "+faststart", "-f", r.output.muxer, "file:" + output_encoder_target(r.output)};
}

bool start(Recording &r, int width, int height) {
    // Even sides, as the video's pixel format needs.
    r.width = std::max(2, width & ~1);
    r.height = std::max(2, height & ~1);
    if (!encoder_start(encoder_arguments(r), r.output.file, &r.encoder, &r.failure)) return false;
    r.started = true;
    r.head.clear();
    matroska_begin(r.width, r.height, kLiveCaptureRate, kChannels, &r.head);
    return write_head(r);
}

// The kept frame at the video's size, rows bottom up: as it is, or scaled (nearest pixel).
const uint8_t *frame_at_size(Recording &r, const std::vector<uint8_t> &frame, int width, int height) {
    if (width == r.width && height == r.height) return frame.data();
    r.scaled.resize(size_t(r.width) * 4 * size_t(r.height));
    const uint32_t *from = reinterpret_cast<const uint32_t *>(frame.data());
    uint32_t *to = reinterpret_cast<uint32_t *>(r.scaled.data());
    for (int y = 0; y < r.height; ++y) {
        const uint32_t *row = from + size_t(int64_t(y) * height / r.height) * size_t(width);
        for (int x = 0; x < r.width; ++x) *to++ = row[int64_t(x) * width / r.width];
    }
    return r.scaled.data();
}

}  // namespace

bool recording_check(const std::string &path, const std::vector<std::string> &inputs, std::string *error,
                     bool *usage) {
    *usage = false;
    if (!path.empty() && path.back() == '/') {
        *error = "--record takes a video file (.mp4, .mov or .mkv), not a folder: " + path;
        *usage = true;
        return false;
    }
    RenderOutput plan;
    if (!output_plan(path, false, inputs, &plan, error, usage)) return false;
    if (plan.kind != OutputKind::video) {
        *error = path + " is a folder; name a video file (.mp4, .mov or .mkv) to record into";
        return false;
    }
    if (!encoder_available(error)) return false;
    // The plug-in's run changes the current folder: the names are made whole now.
    plan.path = absolute_path(plan.path.c_str());
    plan.folder = absolute_path(plan.folder.c_str());
    g_recording.output = plan;
    g_recording.name = path;
    return true;
}

bool recording_open(LiveCapture *capture, std::string *error) {
    Recording &r = g_recording;
    stop_signals_at_exit(at_exit_now);
    if (!output_open(&r.output, error)) return false;
    r.capture = capture;
    return true;
}

bool recording_begin() { return true; }

bool recording_frame(std::string *error) {
    Recording &r = g_recording;
    const std::vector<uint8_t> *kept = nullptr;
    int width = 0, height = 0;
    bool bgra = false;
    if (!platform_linux_kept_frame(&kept, &width, &height, &bgra) || !bgra || width < 2 || height < 2) {
        r.failure = "no frame to record: the window showed none";
        *error = r.failure;
        return false;
    }
    const double shown = live_rows_shown_at();
    if (!r.started) {
        r.first_shown = shown;
        if (!start(r, width, height)) {
            *error = r.failure;
            return false;
        }
    }
    r.last_shown = shown;
    const int64_t until = std::llround((shown - r.first_shown) * kLiveCaptureRate);
    if (!write_sound(r, until, until - int64_t(kSoundWaitSeconds * kLiveCaptureRate))) {
        *error = r.failure;
        return false;
    }
    // Strictly later than the last: a container takes no two frames at one time.
    const int64_t ms = std::max<int64_t>(r.last_ms + 1, std::llround((shown - r.first_shown) * 1000));
    const size_t row_bytes = size_t(r.width) * 4;
    r.head.clear();
    matroska_block_head(&r.stream, kMatroskaVideoTrack, ms, row_bytes * size_t(r.height), &r.head);
    const uint8_t *bottom_up = frame_at_size(r, *kept, width, height);
    r.rows.resize(size_t(r.height));
    for (int y = 0; y < r.height; ++y) r.rows[size_t(y)] = bottom_up + size_t(r.height - 1 - y) * row_bytes;
    if (!write_head(r) || !encoder_write_rows(&r.encoder, r.rows.data(), r.height, row_bytes)) {
        r.failure = kEncoderStopped;
        *error = r.failure;
        return false;
    }
    r.last_ms = ms;
    ++r.frames;
    return true;
}

bool recording_finish(std::string *error) {
    Recording &r = g_recording;
    if (!r.started) {
        *error = r.failure.empty() ? "no frame was shown to record" : r.failure;
        recording_discard();
        return false;
    }
    // The sound up to the last frame, silence for whatever of it was never captured.
    const int64_t until = std::llround((r.last_shown - r.first_shown) * kLiveCaptureRate);
    write_sound(r, until, until);
    const bool failed = !r.failure.empty();
    const bool finished = encoder_finish(&r.encoder, [] { return run_stop_signal() != 0; });
    if (run_stop_signal() != 0) {  // stopped while ffmpeg finished: a stop leaves nothing
        *error = "interrupted";
        recording_discard();
        return false;
    }
    if (!finished && (!failed || r.failure == kEncoderStopped)) {
        // ffmpeg that stopped taking frames failed itself: its own reason is the one to tell.
        const std::string full = output_full_disk(r.output), said = encoder_last_message(r.encoder);
        const std::string reason = !full.empty() ? full : said;
        *error = "ffmpeg could not write the video" + (reason.empty() ? "" : ": " + reason);
        recording_discard();
        return false;
    }
    if (failed) {
        *error = r.failure;
        recording_discard();
        return false;
    }
    sigset_t held, previous;  // the file goes in place whole, or not at all
    sigemptyset(&held);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, number);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    const bool placed = output_commit(&r.output, error);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!placed) recording_discard();
    return placed;
}

void recording_discard() {
    Recording &r = g_recording;
    if (r.started) encoder_stop(&r.encoder, 0.2);
    output_discard(&r.output);
}

std::string recording_summary() {
    const Recording &r = g_recording;
    struct stat info = {};
    stat(r.output.path.c_str(), &info);
    char text[256];
    std::snprintf(text, sizeof text, ": %lld frames at %dx%d, %s with sound, %.1f MB.", static_cast<long long>(r.frames),
                  r.width, r.height, duration_text(r.last_shown - r.first_shown).c_str(), double(info.st_size) / 1e6);
    return "Recorded " + r.name + text;
}
