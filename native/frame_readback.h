// Reading frames back from GL without disturbing the plug-in's own pixel state: what a read
// changes (the pack alignment, the bound pack buffer) is put back before it returns, since the
// plug-in's next frame may read pixels itself.
//
// The ring: frame N is read into one pixel-pack buffer while the GL goes on drawing frame N+1;
// frame N's bytes are mapped and handed on only when the next frame is read (or the ring is
// drained), so the CPU never waits for a read that has just been queued.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads a rectangle as 4-byte pixels, rows bottom up (GL's order), into memory; format is GL_RGBA
// or GL_BGRA. The pack state is as it was afterwards.
void read_pixels_keeping_state(int x, int y, int width, int height, unsigned format, void *pixels);

// One mapped frame: rows bottom up, 4 bytes a pixel, tightly packed.
typedef bool (*FrameSink)(const uint8_t *bottom_up, int width, int height, void *context);

constexpr int kReadbackRingSize = 2;

struct ReadbackRing {
    unsigned buffers[kReadbackRingSize] = {};
    int width = 0, height = 0;
    long long queued = 0;    // frames whose read was started
    long long handed = 0;    // frames handed to the sink
    bool ready = false;
};

// Makes the buffers for frames of width x height (a current context); false when GL has none.
bool readback_ring_open(ReadbackRing *ring, int width, int height);
// Starts reading the current frame (BGRA) from the viewport's corner (x, y) and hands the oldest
// frame still held to sink once the ring is full. False when the sink said so.
bool readback_ring_push(ReadbackRing *ring, int x, int y, FrameSink sink, void *context);
// Hands every frame still held to sink, oldest first.
bool readback_ring_drain(ReadbackRing *ring, FrameSink sink, void *context);
void readback_ring_close(ReadbackRing *ring);
