#include "audio/audio_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/sndfile_log.h"

namespace {

std::string cannot_read(const char *path, const std::string &why) {
    return std::string("cannot read ") + path + (why.empty() ? "" : ": " + why);
}

SNDFILE *open_sound(const char *path, SF_INFO *info, std::string *error) {
    *info = SF_INFO();
    SNDFILE *file = sf_open(path, SFM_READ, info);
    if (file != nullptr) return file;
    const int code = sf_error(nullptr);
    std::string why = sf_strerror(nullptr);
    if (FILE *readable = std::fopen(path, "rb")) {
        std::fclose(readable);
        // A readable regular file it cannot make out: libsndfile would call it "not a regular file".
        if (code != SF_ERR_MALFORMED_FILE && code != SF_ERR_UNSUPPORTED_ENCODING)
            why = "not an audio file libsndfile can read (WAV, FLAC, Ogg Vorbis, MP3, ...)";
    } else {
        why = std::strerror(errno);
    }
    *error = cannot_read(path, why);
    return nullptr;
}

// The decoder's error in words: "flac decoder lost sync" for "Error : flac decoder lost sync.".
// (sf_strerror can say "No Error." while sf_error holds the decoder's code.)
std::string decoder_complaint(SNDFILE *file) {
    std::string text = sf_error_number(sf_error(file));
    if (text.compare(0, 8, "Error : ") == 0) text.erase(0, 8);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

// Decodes from where the file stands to the end; the frames read, and the decoder's complaint.
int64_t decode_to_end(SNDFILE *file, int channels, std::string *decoder_error) {
    std::vector<float> block(size_t(4096) * channels);
    int64_t total = 0;
    sf_count_t got;
    while ((got = sf_readf_float(file, block.data(), 4096)) > 0) total += got;
    if (sf_error(file) != SF_ERR_NO_ERROR) *decoder_error = decoder_complaint(file);
    return total;
}

// Where the sound ends, read from the last second the header promises; -1 where that cannot tell
// (the seek fails, or lands past the sound and finds nothing there, as in an MP3 cut short).
int64_t end_from_last_second(SNDFILE *file, const SF_INFO &info, std::string *decoder_error) {
    const int64_t target = std::max<int64_t>(0, info.frames - info.samplerate);
    if (sf_seek(file, target, SEEK_SET) != target) return -1;
    const int64_t got = decode_to_end(file, info.channels, decoder_error);
    if (got == 0 && target > 0) return -1;
    return target + got;
}

std::string log_of(SNDFILE *file) {
    std::vector<char> log(16384, 0);
    sf_command(file, SFC_GET_LOG_INFO, log.data(), int(log.size()) - 1);
    return log.data();
}

}  // namespace

bool audio_file_open(const char *path, AudioFile *audio, std::string *error) {
    *audio = AudioFile();
    struct stat status;
    if (stat(path, &status) != 0) {
        *error = cannot_read(path, std::strerror(errno));
        return false;
    }
    if (!S_ISREG(status.st_mode)) {  // a FIFO would block the decoder, a folder is no sound
        *error = cannot_read(path, "not a regular file");
        return false;
    }
    SF_INFO info;
    SNDFILE *probe = open_sound(path, &info, error);
    if (probe == nullptr) return false;
    const bool length_told = info.frames > 0 && info.frames != SF_COUNT_MAX;
    std::string decoder_error;
    int64_t end = length_told ? end_from_last_second(probe, info, &decoder_error) : -1;
    bool counted = false;
    if (end < 0) {
        // No length to trust: decode the whole file once, counting, from a fresh start.
        sf_close(probe);
        probe = open_sound(path, &info, error);
        if (probe == nullptr) return false;
        decoder_error.clear();
        end = decode_to_end(probe, info.channels, &decoder_error);
        counted = true;
    }
    const std::string log = log_of(probe);
    sf_close(probe);

    // The analysis reads from a fresh start, as if nothing had been read before.
    SF_INFO fresh;
    audio->file = open_sound(path, &fresh, error);
    if (audio->file == nullptr) return false;
    audio->channels = fresh.channels;
    audio->sample_rate = fresh.samplerate;
    audio->sound_frames = end;
    const int64_t told = length_told ? int64_t(info.frames) : 0;
    const int64_t from_log = sndfile_log_claimed_frames(log.c_str(), end, int64_t(status.st_size));
    audio->header_frames = std::max({told, from_log, end});

    const bool unfinished = sndfile_log_says_truncated(log.c_str());
    audio->cut_short = unfinished || end < audio->header_frames - info.samplerate / 10;
    if (!audio->cut_short) return true;
    if (unfinished && audio->header_frames == end) {
        audio->cut_reason = length_told ? "the file stops before its last block"
                                        : "the stream stops without its end mark; decoded to its end";
    } else if (from_log > told) {
        audio->cut_reason = "the file ends inside the sound data its header announces";
    } else {
        audio->cut_reason = counted ? "decoded to its end, where the decoder stops" : "the decoder stops there";
        if (!decoder_error.empty()) audio->cut_reason += ": " + decoder_error;
    }
    return true;
}

void audio_file_close(AudioFile *audio) {
    if (audio->file) sf_close(audio->file);
    *audio = AudioFile();
}
