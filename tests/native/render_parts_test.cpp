// What render and play check and where they write, without drawing: the command line, the values,
// the output against its inputs (through links), the unnamed output put in place, the private
// asset folder's guard for the user's options file, what killed runs left, and a recording's stamped stream as ffmpeg
// reads it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "native/command_line.h"
#include "native/matroska_stream.h"
#include "native/plugin_folder.h"
#include "native/render_checks.h"
#include "native/render_output.h"
#include "settings/user_options.h"

namespace {

std::string scratch() {
    char pattern[] = "/tmp/render-parts-XXXXXX";
    return mkdtemp(pattern);
}

void write_file(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CommandLine, WholeNamesOnlyNoEmptyValuesAndDashNamesAfterTheEnd) {
    const std::vector<OptionRule> rules = {{"--seconds", true}, {"--size", true}, {"--force", false}};
    struct Case {
        std::vector<const char *> words;
        bool ok;
        const char *error_part;  // in the refusal's line
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {{"song.wav", "--seconds", "2", "--size=64x48", "--force"}, true, "", {"song.wav"}},
        {{"--se", "2", "song.wav"}, false, "unknown option --se", {}},
        {{"song.wav", "--seconds", ""}, false, "--seconds needs a value, not an empty one", {}},
        {{"song.wav", "--size="}, false, "--size needs a value", {}},
        {{"song.wav", "--seconds"}, false, "--seconds needs a value", {}},
        {{"song.wav", "--force=yes"}, false, "--force takes no value", {}},
        {{"--", "-dash.wav", "--force"}, true, "", {"-dash.wav", "--force"}},
        {{"-", "x.wav"}, true, "", {"-", "x.wav"}},
    };
    for (const Case &c : cases) {
        std::vector<char *> argv = {const_cast<char *>("render")};
        for (const char *word : c.words) argv.push_back(const_cast<char *>(word));
        ParsedLine line;
        std::string error;
        const bool ok = command_line_parse(int(argv.size()), argv.data(), rules, &line, &error);
        EXPECT_EQ(ok, c.ok) << c.words[0] << ": " << error;
        if (!c.ok) { EXPECT_NE(error.find(c.error_part), std::string::npos) << error; }
        if (c.ok) { EXPECT_EQ(line.arguments, c.arguments); }
    }
}

TEST(RenderChecks, ValuesAreRefusedWithTheirReason) {
    int w = 0, h = 0;
    uint32_t n = 0, d = 0;
    double s = 0;
    EglDisplayChoice gl;
    int device = -1;
    std::string error;
    struct Case {
        bool ok;
        bool (*check)(const std::string &, std::string *);
        const char *text;
        const char *error_part;
    };
    static int *W = &w, *H = &h;
    static uint32_t *N = &n, *D = &d;
    static double *S = &s;
    static EglDisplayChoice *G = &gl;
    static int *DEV = &device;
    auto video = [](const std::string &t, std::string *e) { return parse_size_value(t, true, W, H, e); };
    auto window = [](const std::string &t, std::string *e) { return parse_size_value(t, false, W, H, e); };
    auto fps = [](const std::string &t, std::string *e) { return parse_fps_value(t, N, D, e); };
    auto length = [](const std::string &t, std::string *e) { return parse_seconds_value(t, "length", false, S, e); };
    auto start = [](const std::string &t, std::string *e) { return parse_seconds_value(t, "start", true, S, e); };
    auto gl_choice = [](const std::string &t, std::string *e) { return parse_gl_value(t, G, DEV, e); };
    const Case cases[] = {
        {true, video, "1280x720", ""},
        {false, video, "17x16", "even numbers"},
        {true, window, "17x17", ""},
        {false, video, "8x8", "16 to 4096"},
        {false, video, "1280", "give WIDTHxHEIGHT, e.g. 1280x720"},
        {false, video, "-16x16", "give WIDTHxHEIGHT"},
        {true, fps, "30000/1001", ""},
        {false, fps, "241", "from 1 to 240"},
        {false, fps, "30/0", "from 1 to 240"},
        {true, length, "12.5", ""},
        {false, length, "0", "give seconds"},
        {false, length, "nan", "give seconds"},
        {false, length, "-1", "give seconds"},
        {true, start, "0", ""},
        {true, gl_choice, "device:1000", ""},
        {false, gl_choice, "device:5000", "N from 0 to 1000"},
        {false, gl_choice, "Auto", "give auto, software or device:N"},
    };
    for (const Case &c : cases) {
        error.clear();
        EXPECT_EQ(c.check(c.text, &error), c.ok) << c.text << ": " << error;
        if (!c.ok) { EXPECT_NE(error.find(c.error_part), std::string::npos) << c.text << ": " << error; }
        // The example appears once: a refusal that adds its own to the reason's doubles it.
        if (!c.ok) { EXPECT_EQ(error.find("e.g."), error.rfind("e.g.")) << error; }
    }
    EXPECT_EQ(duration_text(6 * 3600), "6:00:00");
    EXPECT_EQ(duration_text(65), "1:05");
}

TEST(RenderChecks, OptionsFilesAreReadAsThePlugInReadsThem) {
    const std::string folder = scratch();
    UserOptions defaults = default_user_options();
    std::string record(reinterpret_cast<const char *>(&defaults), sizeof defaults);
    write_file(folder + "/good.cfg", record + "anything after the record");
    write_file(folder + "/short.cfg", record.substr(0, 20));
    UserOptions odd = defaults;
    odd.sphere_count = 0;
    write_file(folder + "/odd.cfg", std::string(reinterpret_cast<const char *>(&odd), sizeof odd));
    mkfifo((folder + "/fifo.cfg").c_str(), 0600);
    struct Case {
        const char *name;
        bool ok;
        const char *error_part;
    };
    const Case cases[] = {
        {"good.cfg", true, ""},
        {"short.cfg", false, "holds 20 bytes"},
        {"odd.cfg", false, "sphere_count 0 (1 to 256)"},
        {"fifo.cfg", false, "is not a regular file"},
        {"missing.cfg", false, "no such options file"},
        {"", false, "is a folder"},
    };
    for (const Case &c : cases) {
        UserOptions read;
        std::string error;
        EXPECT_EQ(read_options_file(folder + "/" + c.name, &read, &error), c.ok) << c.name << ": " << error;
        if (!c.ok) { EXPECT_NE(error.find(c.error_part), std::string::npos) << c.name << ": " << error; }
    }
    std::system(("rm -rf " + folder).c_str());
}

TEST(RenderOutput, TheOutputIsNeverAnInputAndNamesMeanWhatTheySay) {
    const std::string d = scratch();
    mkdir((d + "/songs").c_str(), 0755);
    write_file(d + "/songs/song.mp4", "the song itself");  // an audio file that happens to be named .mp4
    symlink((d + "/songs").c_str(), (d + "/alias").c_str());
    mkdir((d + "/frames").c_str(), 0755);
    write_file(d + "/frames/frame_00001.png", "old");
    write_file(d + "/frames/notes.txt", "mine");
    write_file(d + "/file.mp4", "old video");
    struct Case {
        std::string out;
        bool force;
        bool ok;
        const char *error_part;
    };
    const Case cases[] = {
        {d + "/alias/song.mp4", false, false, "itself"},  // the same inode through a linked folder
        {d + "/songs/../songs/song.mp4", false, false, "itself"},
        {d + "/new.mp4", false, true, ""},
        {d + "/file.mp4", false, true, ""},
        {d + "/clip.wav", false, false, "cannot tell what to write"},
        {d + "/frames", false, false, "is not empty (it holds 2 entries)"},
        {d + "/frames/", true, true, ""},
        {d + "/file.mp4/", false, false, "is a file, not a folder"},
        {d + "/songs.mp4", false, true, ""},
        {d + "/nowhere/clip.mp4", false, false, "does not exist"},
    };
    for (const Case &c : cases) {
        RenderOutput output;
        std::string error;
        bool usage = false;
        EXPECT_EQ(output_plan(c.out, c.force, {d + "/songs/song.mp4"}, &output, &error, &usage), c.ok)
            << c.out << ": " << error;
        if (!c.ok) { EXPECT_NE(error.find(c.error_part), std::string::npos) << c.out << ": " << error; }
    }
    std::system(("rm -rf " + d).c_str());
}

TEST(RenderOutput, NothingUnderTheNameUntilTheEndAndLongNamesWork) {
    const std::string d = scratch();
    const std::string long_name = d + "/" + std::string(246, 'n') + ".mp4";  // 250 characters, legal
    write_file(d + "/kept.mp4", "old video");
    for (const std::string &target : {long_name, d + "/kept.mp4"}) {
        for (bool commit : {false, true}) {
            RenderOutput output;
            std::string error;
            bool usage = false;
            ASSERT_TRUE(output_plan(target, false, {}, &output, &error, &usage)) << error;
            ASSERT_TRUE(output_open(&output, &error)) << error;
            const std::string through = output_encoder_target(output);
            const int file = open(through.c_str(), O_WRONLY | O_TRUNC);  // as ffmpeg opens it
            ASSERT_GE(file, 0) << through;
            ASSERT_EQ(write(file, "new video", 9), 9);
            close(file);
            const bool existed = access(target.c_str(), F_OK) == 0;
            EXPECT_EQ(existed, target != long_name || false) << "nothing under the name before the end";
            if (commit) {
                ASSERT_TRUE(output_commit(&output, &error)) << error;
                EXPECT_EQ(read_file(target), "new video");
            } else {
                output_discard(&output);
                EXPECT_EQ(read_file(target), target == long_name ? "" : "old video");
            }
            if (target == long_name && commit) unlink(long_name.c_str());
        }
    }
    // Nothing else is left beside them.
    EXPECT_EQ(std::system(("test \"$(ls -A " + d + ")\" = kept.mp4").c_str()), 0);
    std::system(("rm -rf " + d).c_str());
}

// What runs killed outright left goes with the next run; what a live run holds (its lock) and
// what is not ours stays.
TEST(LeftBehind, DeadRunsTemporariesGoLiveOnesAndOthersStay) {
    const std::string d = scratch();
    struct Entry {
        std::string name;
        bool folder, held, stays;
    };
    const std::vector<Entry> entries = {
        {".hs-dead0001", false, false, false},          {".hs-dead0002", true, false, false},
        {".hs-live0001", false, true, true},            {".hs-live0002", true, true, true},
        {".hs-short", false, false, true},              {"song.mp4", false, false, true},
        {"halcyon-native-Dead01", true, false, false},  {"halcyon-native-Live01", true, true, true},
        {"halcyon-native-other", true, false, true},
    };
    std::vector<int> locks;
    for (const Entry &e : entries) {
        const std::string path = d + "/" + e.name;
        if (e.folder) {
            ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
            const bool private_folder = e.name.rfind("halcyon-native-", 0) == 0;
            const std::string inside = private_folder ? path + "/vis_halcyonsphere_assets" : path;
            if (private_folder) mkdir(inside.c_str(), 0755);
            write_file(inside + (private_folder ? "/useropt.cfg" : "/frame_00000.png"), "x");
        } else {
            write_file(path, "x");
        }
        if (e.held) {
            locks.push_back(open(path.c_str(), O_RDONLY | O_CLOEXEC));
            ASSERT_EQ(flock(locks.back(), LOCK_EX | LOCK_NB), 0) << e.name;
        }
    }
    // A video's output sweeps its folder; any native run sweeps TMPDIR, private folder or not.
    RenderOutput output;
    std::string error;
    bool usage = false;
    ASSERT_TRUE(output_plan(d + "/new.mp4", false, {}, &output, &error, &usage)) << error;
    ASSERT_TRUE(output_open(&output, &error)) << error;
    output_discard(&output);
    setenv("TMPDIR", d.c_str(), 1);
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    // Another program holding TMPDIR's lock delays a run by a second at most, and its sweep waits.
    const int temporary_lock = open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(flock(temporary_lock, LOCK_EX | LOCK_NB), 0);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(plugin_folder_enter({d, nullptr, 0, 0}, &error)) << error;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_EQ(access((d + "/halcyon-native-Dead01").c_str(), F_OK), 0);
    close(temporary_lock);
    ASSERT_TRUE(plugin_folder_enter({d, nullptr, 0, 0}, &error)) << error;
    plugin_folder_leave();
    ASSERT_EQ(chdir(here), 0);
    unsetenv("TMPDIR");
    for (const Entry &e : entries)
        EXPECT_EQ(access((d + "/" + e.name).c_str(), F_OK) == 0, e.stays) << e.name;
    for (int lock : locks) close(lock);
    std::system(("rm -rf " + d).c_str());
}

TEST(PluginFolder, TheUsersOptionsFileIsNeverLinkedIntoTheRunsFolder) {
    const std::string d = scratch();
    const std::string assets = d + "/vis_halcyonsphere_assets";
    mkdir(assets.c_str(), 0755);
    write_file(assets + "/decal.bmp", "a picture");
    const std::string users = "the user's own options, 56 bytes long, kept as they are!";
    write_file(assets + "/useropt.cfg", users);
    setenv("TMPDIR", d.c_str(), 1);
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    UserOptions record = default_user_options();
    PluginFolderRequest request = {d, nullptr, 64, 48};
    request.record = &record;
    std::string error;
    ASSERT_TRUE(plugin_folder_enter(request, &error)) << error;
    // The plug-in writes its options where it finds them, in the run's folder.
    struct stat info;
    ASSERT_EQ(lstat(kOptionsFile, &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << "a link would take the plug-in's write to the user's file";
    write_file(kOptionsFile, "what the plug-in wrote");
    ASSERT_EQ(lstat("vis_halcyonsphere_assets/decal.bmp", &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    plugin_folder_leave();
    ASSERT_EQ(chdir(here), 0);
    EXPECT_EQ(read_file(assets + "/useropt.cfg"), users);
    unsetenv("TMPDIR");
    std::system(("rm -rf " + d).c_str());
}

TEST(MatroskaStreamTest, FfmpegReadsEveryBlockAtItsOwnTime) {
    // Blocks past a cluster's reach, and sound stamped just before the frame that opened a
    // cluster: each must come out at the time it was written with.
    if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs ffprobe";
    struct Block {
        int track;
        int64_t ms;
    };
    const Block blocks[] = {{2, 0},     {1, 0},     {1, 33},    {1, 29999}, {1, 30000}, {2, 29995},
                            {1, 30001}, {2, 61000}, {1, 61000}, {1, 95432}, {2, 95430}};
    std::vector<uint8_t> bytes;
    matroska_begin(4, 2, 44100, 2, &bytes);
    MatroskaStream stream;
    for (const Block &block : blocks) {
        const size_t size = block.track == kMatroskaVideoTrack ? 4 * 4 * 2 : 441 * 2 * sizeof(float);
        matroska_block_head(&stream, block.track, block.ms, size, &bytes);
        bytes.insert(bytes.end(), size, 0);
    }
    const std::string folder = scratch(), path = folder + "/stream.mkv";
    write_file(path, std::string(bytes.begin(), bytes.end()));
    FILE *probe = popen(("ffprobe -v error -show_entries packet=stream_index,pts_time -of csv=p=0 " + path).c_str(), "r");
    ASSERT_NE(probe, nullptr);
    std::vector<std::string> read;
    char line[128];
    while (std::fgets(line, sizeof line, probe)) read.push_back(std::string(line).substr(0, std::strcspn(line, "\n")));
    EXPECT_EQ(pclose(probe), 0);
    std::vector<std::string> expected;
    for (const Block &block : blocks) {
        char text[64];
        std::snprintf(text, sizeof text, "%d,%.6f", block.track - 1, double(block.ms) / 1000);
        expected.push_back(text);
    }
    EXPECT_EQ(read, expected);
    unlink(path.c_str());
    rmdir(folder.c_str());
}

}  // namespace
