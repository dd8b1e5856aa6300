#include "native/frame_readback.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

namespace {

// What a read changes, as it was before.
struct PackState {
    GLint alignment = 4, row_length = 0, skip_rows = 0, skip_pixels = 0, buffer = 0;
};

PackState pack_state_take(GLint buffer) {
    PackState state;
    glGetIntegerv(GL_PACK_ALIGNMENT, &state.alignment);
    glGetIntegerv(GL_PACK_ROW_LENGTH, &state.row_length);
    glGetIntegerv(GL_PACK_SKIP_ROWS, &state.skip_rows);
    glGetIntegerv(GL_PACK_SKIP_PIXELS, &state.skip_pixels);
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &state.buffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, GLuint(buffer));
    return state;
}

void pack_state_restore(const PackState &state) {
    glPixelStorei(GL_PACK_ALIGNMENT, state.alignment);
    glPixelStorei(GL_PACK_ROW_LENGTH, state.row_length);
    glPixelStorei(GL_PACK_SKIP_ROWS, state.skip_rows);
    glPixelStorei(GL_PACK_SKIP_PIXELS, state.skip_pixels);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, GLuint(state.buffer));
}

size_t frame_bytes(const ReadbackRing &ring) { return size_t(ring.width) * 4 * size_t(ring.height); }

bool hand_oldest(ReadbackRing *ring, FrameSink sink, void *context) {
    const GLuint buffer = ring->buffers[ring->handed % kReadbackRingSize];
    const PackState state = pack_state_take(GLint(buffer));
    const void *bytes = glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, GLsizeiptr(frame_bytes(*ring)), GL_MAP_READ_BIT);
    bool ok = bytes != nullptr && sink(static_cast<const uint8_t *>(bytes), ring->width, ring->height, context);
    if (bytes) ok = glUnmapBuffer(GL_PIXEL_PACK_BUFFER) == GL_TRUE && ok;
    pack_state_restore(state);
    ++ring->handed;
    return ok;
}

}  // namespace

void read_pixels_keeping_state(int x, int y, int width, int height, unsigned format, void *pixels) {
    const PackState state = pack_state_take(0);
    glReadPixels(x, y, width, height, GLenum(format), GL_UNSIGNED_BYTE, pixels);
    pack_state_restore(state);
}

bool readback_ring_open(ReadbackRing *ring, int width, int height) {
    *ring = ReadbackRing();
    ring->width = width;
    ring->height = height;
    glGenBuffers(kReadbackRingSize, ring->buffers);
    GLint previous = 0;
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &previous);
    for (GLuint buffer : ring->buffers) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
        glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(frame_bytes(*ring)), nullptr, GL_STREAM_READ);
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, GLuint(previous));
    ring->ready = glGetError() == GL_NO_ERROR && ring->buffers[0] != 0;
    return ring->ready;
}

bool readback_ring_push(ReadbackRing *ring, int x, int y, FrameSink sink, void *context) {
    const PackState state = pack_state_take(GLint(ring->buffers[ring->queued % kReadbackRingSize]));
    glReadPixels(x, y, ring->width, ring->height, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);  // into the buffer
    pack_state_restore(state);
    ++ring->queued;
    // The previous frame's read was queued a whole frame ago: mapping it no longer waits.
    if (ring->queued - ring->handed >= kReadbackRingSize) return hand_oldest(ring, sink, context);
    return true;
}

bool readback_ring_drain(ReadbackRing *ring, FrameSink sink, void *context) {
    bool ok = true;
    while (ok && ring->handed < ring->queued) ok = hand_oldest(ring, sink, context);
    return ok;
}

void readback_ring_close(ReadbackRing *ring) {
    if (ring->ready) glDeleteBuffers(kReadbackRingSize, ring->buffers);
    *ring = ReadbackRing();
}
