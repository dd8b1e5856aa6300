// The recent samples of a capture (its first two channels, float) and when each is heard.
//
// Frames are numbered from the ring's start on. Each latency report times the frames that came
// with it: from its anchor's first frame on, frame i is heard at origin + i / rate. Frames keep
// the timing of their own report, so that a sink whose latency changes (a player joins with
// another buffer) moves the newer frames only. A new stream (another source, a reconnect)
// starts a new clock: the older frames are dropped with it.
// Bounded: the ring keeps its last `capacity` frames and kCaptureAnchors timings.
//
// Times are seconds on pulse_clock_now()'s clock. Not thread-safe: its owner guards it.
#pragma once

#include <cstdint>
#include <vector>

constexpr int kCaptureAnchors = 64;

struct CaptureAnchor {
    int64_t from = 0;   // the first frame it times
    double origin = 0;  // frame i >= from is heard at origin + i / rate
};

struct CaptureRing {
    int rate = 0;
    int64_t capacity = 0;       // frames kept
    std::vector<float> frames;  // capacity x 2 interleaved; frame i at i % capacity
    int64_t written = 0;        // frames appended since init: the number of the next one
    int64_t stream_first = 0;   // the first frame of the current stream
    int64_t untimed_from = 0;   // the first frame no report has timed yet
    CaptureAnchor anchors[kCaptureAnchors];  // oldest first, of the current stream only
    int anchor_count = 0;
};

// False for a rate or length that gives no frames or more than 2^26 of them.
bool capture_ring_init(CaptureRing *ring, int rate, double seconds);

// A new stream: what came before is not heard on its clock, and its own is not known yet.
void capture_ring_begin_stream(CaptureRing *ring);

// Appends frames, interleaved left and right; null appends silence (a hole in the stream).
void capture_ring_append(CaptureRing *ring, const float *interleaved, int64_t frames);

// The frame to be appended next is heard at heard_at (from the server's latency report); the
// timing holds for the frames appended since the last report, and for those that follow.
void capture_ring_set_heard(CaptureRing *ring, double heard_at);

// count frames of each channel around the one heard at centre_time, zero where nothing of the
// current stream is kept. A window that reaches past the newest frame moves back by up to
// max_shift frames, so that "now" takes the newest whole window rather than half silence.
void capture_ring_window(const CaptureRing &ring, double centre_time, int count, int max_shift, float *left,
                         float *right);

// count frames from the one heard at from_time on, interleaved left and right, zero where nothing
// of the current stream is kept; returns how many of them have been appended (the rest are heard
// after the newest), 0 while nothing is timed.
int64_t capture_ring_heard(const CaptureRing &ring, double from_time, int64_t count, float *interleaved);
