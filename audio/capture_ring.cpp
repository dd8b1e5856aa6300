#include "audio/capture_ring.h"

#include <algorithm>
#include <cmath>

bool capture_ring_init(CaptureRing *ring, int rate, double seconds) {
    const double frames = std::floor(double(rate) * seconds);
    if (rate <= 0 || !(frames >= 1) || frames > double(1 << 26)) return false;
    *ring = CaptureRing();
    ring->rate = rate;
    ring->capacity = int64_t(frames);
    ring->frames.assign(size_t(ring->capacity) * 2, 0.0f);
    return true;
}

void capture_ring_begin_stream(CaptureRing *ring) {
    ring->stream_first = ring->written;
    ring->untimed_from = ring->written;
    ring->anchor_count = 0;
}

void capture_ring_append(CaptureRing *ring, const float *interleaved, int64_t frames) {
    // Only the last capacity frames can stay.
    const int64_t skipped = std::max<int64_t>(0, frames - ring->capacity);
    ring->written += skipped;
    for (int64_t i = skipped; i < frames; ++i, ++ring->written) {
        float *at = &ring->frames[size_t(ring->written % ring->capacity) * 2];
        at[0] = interleaved ? interleaved[2 * i] : 0.0f;
        at[1] = interleaved ? interleaved[2 * i + 1] : 0.0f;
    }
}

void capture_ring_set_heard(CaptureRing *ring, double heard_at) {
    const double origin = heard_at - double(ring->written) / ring->rate;
    const int64_t from = ring->untimed_from;
    ring->untimed_from = ring->written;
    // Reports agree to within microseconds on a steady stream: a new anchor only for a change
    // that a frame's picture could show.
    if (ring->anchor_count > 0 && std::fabs(origin - ring->anchors[ring->anchor_count - 1].origin) < 0.0005) return;
    if (ring->anchor_count == kCaptureAnchors) {
        std::copy(ring->anchors + 1, ring->anchors + kCaptureAnchors, ring->anchors);
        ring->anchor_count -= 1;
    }
    ring->anchors[ring->anchor_count++] = CaptureAnchor{from, origin};
}

namespace {

// The frame heard at time, by the newest timing whose frames hold it (before the oldest, the
// oldest's); false when nothing is timed or the time is far from this stream's.
bool frame_heard_at(const CaptureRing &ring, double time, int64_t *frame) {
    if (ring.anchor_count == 0) return false;
    double at = 0;
    for (int a = ring.anchor_count - 1; a >= 0; --a) {
        at = std::round((time - ring.anchors[a].origin) * ring.rate);
        if (at >= double(ring.anchors[a].from)) break;
    }
    if (!(std::fabs(at) < 9e15)) return false;  // not a number, or another clock's
    *frame = int64_t(at);
    return true;
}

}  // namespace

void capture_ring_window(const CaptureRing &ring, double centre_time, int count, int max_shift, float *left,
                         float *right) {
    std::fill(left, left + count, 0.0f);
    std::fill(right, right + count, 0.0f);
    int64_t centre = 0;
    if (!frame_heard_at(ring, centre_time, &centre)) return;
    int64_t first = centre - count / 2;
    if (first + count > ring.written) first = std::max(ring.written - count, first - max_shift);
    const int64_t kept_from = std::max(ring.stream_first, ring.written - ring.capacity);
    for (int i = 0; i < count; ++i) {
        const int64_t frame = first + i;
        if (frame < kept_from || frame >= ring.written) continue;
        const float *at = &ring.frames[size_t(frame % ring.capacity) * 2];
        left[i] = at[0];
        right[i] = at[1];
    }
}

int64_t capture_ring_heard(const CaptureRing &ring, double from_time, int64_t count, float *interleaved) {
    std::fill(interleaved, interleaved + 2 * count, 0.0f);
    int64_t first = 0;
    if (count <= 0 || !frame_heard_at(ring, from_time, &first)) return 0;
    const int64_t kept_from = std::max(ring.stream_first, ring.written - ring.capacity);
    const int64_t appended = std::clamp<int64_t>(ring.written - first, 0, count);
    for (int64_t i = std::max<int64_t>(0, kept_from - first); i < appended; ++i) {
        const float *at = &ring.frames[size_t((first + i) % ring.capacity) * 2];
        interleaved[2 * i] = at[0];
        interleaved[2 * i + 1] = at[1];
    }
    return appended;
}
