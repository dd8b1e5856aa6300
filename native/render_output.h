// Where a render writes, checked before anything is drawn, and written so that nothing appears
// under the output's name until the end: a video goes into an unnamed file in the output's folder
// (O_TMPFILE), linked into place when it is whole, so a run killed outright leaves nothing; where
// the file system has no unnamed files, into a short random name that every way out removes. PNG
// frames go into a temporary folder, renamed (or moved into the named folder) at the end. An old
// file of the output's name stays as it was until then. A named temporary is locked while its run
// lasts, and the next run into the same folder removes one that a run killed outright left.
#pragma once

#include <string>
#include <vector>

enum class OutputKind { video, frames };

struct RenderOutput {
    OutputKind kind = OutputKind::video;
    std::string path;            // as given; frames: without the trailing slash
    std::string muxer;           // ffmpeg's name for the container: mp4, mov, matroska
    std::string folder;          // where it lies
    std::string name;            // its last part
    bool into_existing = false;  // frames: the named folder exists; they move into it at the end
    int file = -1;               // video: the file ffmpeg writes, by /proc/self/fd
    std::string temporary;       // a named temporary (the fallback file, or the frames' folder)
    bool done = false;           // in place, whole
};

// Decides the output for out and checks it against the inputs (the same file, by device and
// inode, through any link). False with one line, *usage set when the name itself is wrong.
bool output_plan(const std::string &out, bool force, const std::vector<std::string> &inputs, RenderOutput *output,
                 std::string *error, bool *usage);
// Makes the temporary file or folder; false with one line.
bool output_open(RenderOutput *output, std::string *error);
// The name ffmpeg is given for it.
std::string output_encoder_target(const RenderOutput &output);
// Puts it in place; false with one line (the temporary is gone then too).
bool output_commit(RenderOutput *output, std::string *error);
// Removes what is not in place.
void output_discard(RenderOutput *output);
// From a signal handler: unlinks a named temporary file.
void output_discard_now();
// A sentence when the output's file system is (next to) full, else "".
std::string output_full_disk(const RenderOutput &output);
