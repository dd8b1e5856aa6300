// The spectrum and waveform rows the host hands the plug-in before every Render: silence, one
// constant value, a tone (a peak at one bin per channel), or a spectrum stream analysed from real
// audio, one record per frame.
#pragma once

#include <cstdint>
#include <string>

#include "audio/spectrum_stream.h"
#include "shell/vis_module.h"

enum class SpectrumKind { silence, constant, tone, stream };

struct SpectrumSpec {
    SpectrumKind kind = SpectrumKind::silence;
    int value = 0;          // constant: every bin; tone: the peak's height
    int bin[2] = {0, 0};    // tone: the peak's bin per channel
    const char *path = nullptr;  // stream: the file ("-": stdin), opened by spectrum_stream_load
};

// "silence", "constant:V" (0-255), "tone:BIN" or "tone:LEFT,RIGHT" (bins 0-575), each tone
// optionally followed by "@V" for the peak height (default 255), or "stream:FILE".
bool spectrum_parse(const char *text, SpectrumSpec *spec);

// Opens the stream that --spectrum stream:FILE names and checks its header (and a file's size); false with the
// reason in *error. Its records are read as the frames ask for them, a few kept at a time.
bool spectrum_stream_load(const SpectrumSpec &spec, std::string *error);
// The loaded stream's header fields (frame_count 0 when none is; records unused).
const SpectrumStream &spectrum_stream_loaded();

// A live stream, once a frame before its rows are filled: takes what has arrived, so that the
// frame shows the newest record (the last one again when none came).
void spectrum_stream_take_live();
// Why the stream has no rows for the frame last filled, or null: a live stream its feeder closed
// (*failed false), or a stream that broke off or failed before that frame's row (*failed true).
const char *spectrum_stream_stopped(bool *failed);
// A live stream's record that the frame shows, counted from the stream's first: -1 when none has
// come, or the stream is not live.
long long spectrum_stream_live_row();

// Tone: a triangle peak, falling by a quarter of its height per bin, zero elsewhere. Stream: the
// frame's rows (the last ones past its end; a live stream's newest).
void spectrum_fill(const SpectrumSpec &spec, int frame, uint8_t rows[2][kSpectrumBins]);

// The waveform rows, as many as the module asks (its waveform channel count): 2 or more fills
// both, 1 the first with the mix of the two (the second is zero), 0 leaves them alone. Stream:
// the frame's samples (the last ones past its end). The synthetic kinds match their spectrum at
// the analyser's scale, where a bin of V is a sine of V / 8 in signed 8-bit samples: tone, a sine
// at the bin's frequency (44.1 kHz); constant, noise of that level; silence, zero.
void waveform_fill(const SpectrumSpec &spec, int frame, int channels, uint8_t rows[2][kSpectrumBins]);
