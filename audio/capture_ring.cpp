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

void capture_ring_window(const CaptureRing &ring, double centre_time, int count, int max_shift, float *left,
                         float *right) {
    std::fill(left, left + count, 0.0f);
    std::fill(right, right + count, 0.0f);
    if (ring.anchor_count == 0) return;
    // The newest timing whose frames hold the moment; before the oldest, the oldest's.
    double centre = 0;
    for (int a = ring.anchor_count - 1; a >= 0; --a) {
        centre = std::round((centre_time - ring.anchors[a].origin) * ring.rate);
        if (centre >= double(ring.anchors[a].from)) break;
    }
    if (!(std::fabs(centre) < 9e15)) return;  // a time far from this stream's (or not a number)
    int64_t first = int64_t(centre) - count / 2;
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
