// An audio file opened through libsndfile, with the sound it really holds known before the first
// sample is analysed. libsndfile's own length cannot always be trusted for a file cut short:
//   WAV, AIFF, AU and kin: the length held; what the header claimed is only in its log.
//   FLAC, MP3: the header's (or the Xing frame's) length; decoding stops earlier.
//   Ogg Vorbis and Opus: no length at all (the stream has no last page).
// So the last second the header promises is read back: where it decodes to its end, that end is
// the sound's; where it does not (or there is no length), the file is decoded to its end once,
// counting. A whole file pays for one seek and one second of decoding, however long it is.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

struct AudioFile {
    SNDFILE *file = nullptr;  // at its first sample
    int channels = 0;
    int sample_rate = 0;
    int64_t sound_frames = 0;   // samples per channel that decode
    int64_t header_frames = 0;  // what the header claims; sound_frames where it claims nothing
    bool cut_short = false;     // the sound ends noticeably (0.1 s) before the header's length, or
                                // the stream stops without its end mark
    std::string cut_reason;     // how that was found, in words
};

// False with one line in *error ("cannot read PATH: why") when the file cannot be opened.
bool audio_file_open(const char *path, AudioFile *audio, std::string *error);
void audio_file_close(AudioFile *audio);
