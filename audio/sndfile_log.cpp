#include "audio/sndfile_log.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The label before the line's first ':' without its spaces, and the text after it.
bool split_line(const std::string &line, std::string *label, const char **value) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    size_t first = line.find_first_not_of(' ');
    size_t last = line.find_last_not_of(' ', colon == 0 ? 0 : colon - 1);
    *label = first < colon && last != std::string::npos ? line.substr(first, last - first + 1) : "";
    *value = line.c_str() + colon + 1;
    return true;
}

bool read_count(const char *text, int64_t *value) {
    char *end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || v <= 0) return false;
    *value = v;
    return true;
}

// "A (should be B)" or "A should be B", with A the claim and B what is there.
bool claim_and_held(const char *text, int64_t *claim, int64_t *held) {
    const char *should = std::strstr(text, "should be");
    if (should == nullptr || !read_count(text, claim) || !read_count(should + 9, held)) return false;
    return *claim > *held;
}

// The header's frames: those held and those the missing bytes held, at the bytes per frame of
// what is there. For PCM that is a whole number, and the missing bytes finish a partial frame first.
double frames_with_missing(int64_t held_frames, int64_t claim, int64_t held_bytes) {
    const double per_frame = double(held_bytes) / held_frames;
    const double whole = std::round(per_frame);
    if (whole >= 1 && std::fabs(per_frame - whole) < 0.01) return held_frames + std::ceil((claim - held_bytes) / whole);
    return held_frames + (claim - held_bytes) / per_frame;
}

bool is_any(const std::string &label, std::initializer_list<const char *> names) {
    for (const char *name : names)
        if (label == name) return true;
    return false;
}

}  // namespace

int64_t sndfile_log_claimed_frames(const char *log, int64_t held_frames, int64_t file_size) {
    if (log == nullptr || held_frames <= 0) return 0;
    double from_data = 0;     // scaled from the data's bytes: exact for PCM
    int64_t frame_count = 0;  // told as frames
    double from_container = 0;
    const char *line_start = log;
    while (*line_start) {
        const char *line_end = std::strchr(line_start, '\n');
        const std::string line(line_start, line_end ? line_end - line_start : std::strlen(line_start));
        line_start = line_end ? line_end + 1 : line_start + line.size();
        std::string label;
        const char *value = nullptr;
        int64_t claim = 0, held = 0;
        const char *chunk = std::strstr(line.c_str(), "does not match value from");
        if (chunk && (chunk = std::strstr(chunk, "chunk of "))) {
            if (read_count(chunk + 9, &claim) && claim > frame_count) frame_count = claim;
        } else if (line.compare(0, 11, "Data length") == 0) {
            if (claim_and_held(line.c_str() + 11, &claim, &held)) from_data = frames_with_missing(held_frames, claim, held);
        } else if (split_line(line, &label, &value)) {
            if (is_any(label, {"Frames", "frames"})) {
                if (read_count(value, &claim) && claim > frame_count) frame_count = claim;
            } else if (is_any(label, {"data", "SSND", "Data Size", "Data size"})) {
                if (claim_and_held(value, &claim, &held)) from_data = frames_with_missing(held_frames, claim, held);
            } else if (is_any(label, {"RIFF", "riff", "Riff size", "FORM"})) {
                if (claim_and_held(value, &claim, &held) && file_size > 0)
                    from_container = frames_with_missing(held_frames, file_size + (claim - held), file_size);
            }
        }
    }
    // The data's size first: a frame count may count blocks, or be stale (WAV's fact chunk).
    int64_t claimed = std::llround(from_data);
    if (claimed <= held_frames) claimed = frame_count;
    if (claimed <= held_frames) claimed = std::llround(from_container);
    return claimed > held_frames ? claimed : 0;
}

bool sndfile_log_says_truncated(const char *log) {
    return log != nullptr && (std::strstr(log, "without an End-Of-Stream") || std::strstr(log, "truncated file"));
}
