// analyse_audio end to end: the stream on a pipe, record by record, with its summary whole before
// the first byte; the same bytes as the stream written to a file; a reader that goes away.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/audio_analysis.h"
#include "audio/spectrum_stream.h"

extern char **environ;

namespace {

std::string temp_path(const std::string &name) { return testing::TempDir() + "halcyon_tool_" + name; }

std::string read_text(const std::string &path) {
    std::string text;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(char(c));
        std::fclose(f);
    }
    return text;
}

// The tool with its stdout on a pipe (returned) and its stderr into a file.
struct Tool {
    pid_t pid = -1;
    std::FILE *out = nullptr;
    std::string stderr_path = temp_path("stderr");
    explicit Tool(std::vector<std::string> args) {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, ends[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        args.insert(args.begin(), ANALYSE_AUDIO);
        std::vector<char *> argv;
        for (std::string &arg : args) argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid, ANALYSE_AUDIO, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(ends[1]);
        out = fdopen(ends[0], "rb");
    }
    // The exit status once its stdout is closed; -1 when killed by a signal.
    int finish() {
        if (out) std::fclose(out);
        out = nullptr;
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string errors() const { return read_text(stderr_path); }
};

TEST(AnalyseAudioTool, StreamsToAPipeWithItsSummaryFirst) {
    const std::string audio = temp_path("song.wav");
    SF_INFO info = {};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(audio.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> samples(size_t(10 * 44100) * 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = float(0.4 * std::sin(i * 0.01 * (1 + i % 2)));
    sf_writef_float(file, samples.data(), 10 * 44100);
    sf_close(file);

    // Into a file, as before: the summary on stdout at the end.
    const std::string stream = temp_path("song.hsps"), summary = temp_path("summary.json");
    std::remove(summary.c_str());
    Tool to_file({audio, stream, "--fps", "25"});
    std::string printed;
    for (int c; (c = std::fgetc(to_file.out)) != EOF;) printed.push_back(char(c));
    ASSERT_EQ(to_file.finish(), 0) << to_file.errors();
    EXPECT_NE(printed.find("\"frames\": 250,"), std::string::npos) << printed;
    EXPECT_EQ(std::fopen((stream + ".partial").c_str(), "rb"), nullptr);
    const std::string file_bytes = read_text(stream);

    // Onto a pipe: once the header is there, the summary is whole; the records are the file's.
    Tool to_pipe({audio, "-", "--fps", "25", "--summary", summary});
    SpectrumStreamReader reader;
    ASSERT_TRUE(spectrum_stream_open_file(to_pipe.out, &reader)) << reader.reason;
    EXPECT_TRUE(reader.pipe);
    EXPECT_EQ(read_text(summary), printed);
    EXPECT_EQ(std::memcmp(file_bytes.data(), "HSPS", 4), 0);
    ASSERT_EQ(file_bytes.size(), kStreamHeaderSize + 250 * kStreamRecordSize);
    for (uint32_t row = 0; row < 250; ++row) {
        const uint8_t *record = spectrum_stream_record(&reader, row);
        ASSERT_NE(record, nullptr) << row;
        ASSERT_EQ(std::memcmp(record, file_bytes.data() + kStreamHeaderSize + row * kStreamRecordSize, kStreamRecordSize), 0) << row;
    }
    spectrum_stream_record(&reader, 250);
    EXPECT_EQ(reader.end, StreamEnd::complete);
    EXPECT_EQ(to_pipe.finish(), 0);
    EXPECT_EQ(to_pipe.errors(), "");

    // A reader that goes away after the first record: a quiet end, status 1; the summary stays.
    std::remove(summary.c_str());
    Tool left({audio, "-", "--summary", summary});
    ASSERT_TRUE(spectrum_stream_open_file(left.out, &reader));
    ASSERT_NE(spectrum_stream_record(&reader, 0), nullptr);
    EXPECT_EQ(left.finish(), 1);
    EXPECT_EQ(left.errors(), "");
    EXPECT_NE(read_text(summary), "");

    // A stream that cannot be written: one line, nothing left.
    const std::string nowhere = temp_path("no_such_folder/song.hsps");
    Tool failed({audio, nowhere, "--summary", summary});
    EXPECT_EQ(failed.finish(), 1);
    EXPECT_EQ(failed.errors(), "cannot write " + nowhere + ".partial: No such file or directory\n");
    EXPECT_EQ(std::fopen(summary.c_str(), "rb"), nullptr);

    // A name that is not a regular file is refused, not renamed over (think of /dev/null as root).
    const std::string fifo = temp_path("fifo");
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Tool over_fifo({audio, fifo});
    EXPECT_EQ(over_fifo.finish(), 1);
    EXPECT_EQ(over_fifo.errors(), "cannot write " + fifo + ": not a regular file (give - to send the stream to stdout)\n");
    AnalysisRequest request;
    request.audio_path = audio.c_str();
    request.stream_path = fifo.c_str();
    AnalysisResult result;
    EXPECT_FALSE(analyse_audio_file(request, &result));
    EXPECT_EQ(result.error, "cannot write " + fifo + ": not a regular file");
    struct stat status;
    ASSERT_EQ(stat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    std::remove(fifo.c_str());
}

}  // namespace
