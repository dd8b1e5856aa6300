// The export's readback with a real GL: frames come out whole and in order through the ring of
// pack buffers, and the plug-in's own pixel state is as it left it after every read.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "native/frame_readback.h"
#include "tools/offscreen_gl.h"

namespace {

constexpr int kWidth = 24, kHeight = 10;  // rows of 96 bytes: a wrong alignment or row length shows

struct Received {
    std::vector<std::vector<uint8_t>> frames;
};

bool keep(const uint8_t *bottom_up, int width, int height, void *context) {
    static_cast<Received *>(context)->frames.emplace_back(bottom_up, bottom_up + size_t(width) * 4 * size_t(height));
    return true;
}

void clear_to(int shade) {
    glClearColor(shade / 255.0f, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glScissor(0, 0, kWidth, 1);  // the bottom row green: shows which way up a frame came
    glEnable(GL_SCISSOR_TEST);
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
}

class ReadbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(offscreen_gl_create(&gl, kWidth, kHeight, &error)) << error;
        glViewport(0, 0, kWidth, kHeight);
        // A plug-in's own pixel state, which the reads must leave alone.
        glPixelStorei(GL_PACK_ALIGNMENT, 8);
        glPixelStorei(GL_PACK_ROW_LENGTH, 3);
        glGenBuffers(1, &own_buffer);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, own_buffer);
        glBufferData(GL_PIXEL_PACK_BUFFER, 64, nullptr, GL_STREAM_READ);
    }
    void TearDown() override {
        glDeleteBuffers(1, &own_buffer);
        offscreen_gl_destroy(&gl);
    }
    void expect_state_kept(const char *after) {
        GLint alignment = 0, row_length = 0, bound = 0;
        glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
        glGetIntegerv(GL_PACK_ROW_LENGTH, &row_length);
        glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &bound);
        EXPECT_EQ(alignment, 8) << after;
        EXPECT_EQ(row_length, 3) << after;
        EXPECT_EQ(GLuint(bound), own_buffer) << after;
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << after;
    }
    OffscreenGl gl{};
    GLuint own_buffer = 0;
};

TEST_F(ReadbackTest, PlainReadKeepsThePackState) {
    clear_to(200);
    std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * 4, 0);
    read_pixels_keeping_state(0, 0, kWidth, kHeight, GL_RGBA, pixels.data());
    expect_state_kept("a plain read");
    EXPECT_EQ(pixels[1], 255) << "the bottom row comes first";
    EXPECT_EQ(pixels.back() , 255) << "alpha of the last pixel";
    EXPECT_EQ(pixels[pixels.size() - 4], 200) << "the top row's red, in place when rows are packed tightly";
}

TEST_F(ReadbackTest, RingHandsEveryFrameInOrderOneBehind) {
    ReadbackRing ring;
    ASSERT_TRUE(readback_ring_open(&ring, kWidth, kHeight));
    expect_state_kept("opening the ring");
    Received received;
    const int kFrames = 5;
    for (int i = 0; i < kFrames; ++i) {
        clear_to(10 + 40 * i);
        ASSERT_TRUE(readback_ring_push(&ring, 0, 0, keep, &received));
        expect_state_kept("a push");
        // Frame N is handed only once N+1 is being read: the GL draws on meanwhile.
        EXPECT_EQ(int(received.frames.size()), i) << "after frame " << i;
    }
    ASSERT_TRUE(readback_ring_drain(&ring, keep, &received));
    expect_state_kept("the drain");
    readback_ring_close(&ring);
    ASSERT_EQ(int(received.frames.size()), kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const std::vector<uint8_t> &frame = received.frames[size_t(i)];
        ASSERT_EQ(frame.size(), size_t(kWidth) * kHeight * 4);
        // BGRA: blue, green, red, alpha. The bottom row green, the top row the frame's red.
        EXPECT_EQ(frame[1], 255) << "frame " << i;
        EXPECT_EQ(frame[frame.size() - 2], 10 + 40 * i) << "frame " << i;
    }
}

}  // namespace
