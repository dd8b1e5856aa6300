#include "native/render_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char g_named_temporary[4096];  // for output_discard_now; empty when there is none
std::atomic<bool> g_named_temporary_set{false};

std::string lower(std::string text) {
    for (char &c : text) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

std::string extension_of(const std::string &name) {
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? "" : lower(name.substr(dot));
}

void split(const std::string &path, std::string *folder, std::string *name) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        *folder = ".";
        *name = path;
    } else {
        *folder = slash == 0 ? "/" : path.substr(0, slash);
        *name = path.substr(slash + 1);
    }
}

bool same_file(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Short, so that a name of 250 characters still takes its temporary beside it.
std::string random_name() {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned seed = unsigned(getpid()) * 2654435761u;
    int random = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    unsigned char bytes[8] = {};
    if (random >= 0) {
        (void)!read(random, bytes, sizeof bytes);
        close(random);
    }
    std::string name = ".hs-";
    for (int i = 0; i < 8; ++i) name += kLetters[(bytes[i] ^ (seed >> (i * 3))) % 36];
    return name;
}

int entries_in(const std::string &folder, bool *readable) {
    DIR *entries = opendir(folder.c_str());
    *readable = entries != nullptr;
    if (!entries) return 0;
    int count = 0;
    while (const dirent *entry = readdir(entries))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) ++count;
    closedir(entries);
    return count;
}

bool is_frame_name(const char *name) {
    const size_t length = std::strlen(name);
    return std::strncmp(name, "frame_", 6) == 0 && length > 10 && std::strcmp(name + length - 4, ".png") == 0;
}

void remove_folder_of_frames(const std::string &folder) {
    if (DIR *entries = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(entries))
            if (is_frame_name(entry->d_name)) unlink((folder + "/" + entry->d_name).c_str());
        closedir(entries);
    }
    rmdir(folder.c_str());
}

bool is_temporary_name(const char *name) {
    return std::strncmp(name, ".hs-", 4) == 0 && std::strlen(name) == 12 &&
           std::strspn(name + 4, "abcdefghijklmnopqrstuvwxyz0123456789") == 8;
}

// Held for the temporary's life: a free lock marks one a run killed outright left behind.
int lock_path(const std::string &path, bool folder) {
    const int held = open(path.c_str(), (folder ? O_RDONLY | O_DIRECTORY : O_RDWR) | O_NOFOLLOW | O_CLOEXEC);
    if (held < 0) return -1;
    if (flock(held, LOCK_EX | LOCK_NB) == 0) return held;
    close(held);
    return -1;
}

// What earlier runs killed outright left in folder: our temporaries, by name and owner, that no
// run holds.
void sweep_left_behind(const std::string &folder) {
    DIR *entries = opendir(folder.c_str());
    if (!entries) return;
    while (const dirent *entry = readdir(entries)) {
        if (!is_temporary_name(entry->d_name)) continue;
        const std::string path = folder + "/" + entry->d_name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || info.st_uid != geteuid()) continue;
        const bool is_folder = S_ISDIR(info.st_mode);
        if (!is_folder && !S_ISREG(info.st_mode)) continue;
        const int lock = lock_path(path, is_folder);
        if (lock < 0) continue;  // a run still writing it
        if (is_folder) remove_folder_of_frames(path);
        else unlink(path.c_str());
        close(lock);
    }
    closedir(entries);
}

int g_temporary_lock = -1;

// A temporary is made, then locked: another run's sweep may take it between the two, so the lock
// counts only while the name still leads to what it holds. -1 when it does not.
int lock_made(const std::string &path, bool folder) {
    const int held = lock_path(path, folder);
    struct stat locked, named;
    if (held >= 0 && fstat(held, &locked) == 0 && lstat(path.c_str(), &named) == 0 && same_file(locked, named))
        return held;
    if (held >= 0) close(held);
    return -1;
}

}  // namespace

bool output_plan(const std::string &out, bool force, const std::vector<std::string> &inputs, RenderOutput *output,
                 std::string *error, bool *usage) {
    *usage = false;
    RenderOutput plan;
    struct stat here;
    bool exists = stat(out.c_str(), &here) == 0;
    struct stat link;
    bool listed = lstat(out.c_str(), &link) == 0;
    const std::string extension = extension_of(out);
    if (!out.empty() && out.back() == '/') {
        plan.kind = OutputKind::frames;
    } else if (extension == ".mp4" || extension == ".m4v" || extension == ".mov" || extension == ".mkv") {
        plan.muxer = extension == ".mov" ? "mov" : extension == ".mkv" ? "matroska" : "mp4";
    } else if (exists && S_ISDIR(here.st_mode)) {
        plan.kind = OutputKind::frames;
    } else {
        *error = "cannot tell what to write from '" + out +
                 "': name a .mp4, .mov or .mkv file, or a folder (ending in /) for PNG frames";
        *usage = true;
        return false;
    }
    plan.path = out;
    while (plan.kind == OutputKind::frames && plan.path.size() > 1 && plan.path.back() == '/') plan.path.pop_back();
    split(plan.path, &plan.folder, &plan.name);
    // "file/" names the file, not nothing: look at the name without its slash.
    if (plan.path != out) {
        exists = stat(plan.path.c_str(), &here) == 0;
        listed = lstat(plan.path.c_str(), &link) == 0;
    }

    for (const std::string &input : inputs) {
        struct stat source;
        if (exists && stat(input.c_str(), &source) == 0 && same_file(source, here)) {
            *error = "the output " + out + " is " + input + " itself; name another output";
            return false;
        }
    }
    if (plan.kind == OutputKind::frames) {
        if (listed && !(exists && S_ISDIR(here.st_mode))) {
            *error = plan.path + " is a file, not a folder for PNG frames; name a new or empty folder, or a .mp4 file";
            return false;
        }
        if (exists) {
            bool readable = false;
            const int held = entries_in(plan.path, &readable);
            if (!readable) {
                *error = "cannot read the folder " + plan.path + ": " + std::strerror(errno);
                return false;
            }
            if (held > 0 && !force) {
                *error = "the folder " + plan.path + " is not empty (it holds " + std::to_string(held) +
                         (held == 1 ? " entry" : " entries") +
                         "); give --force to replace its frame_*.png (other files stay), or name a new or empty folder";
                return false;
            }
            // The frames --force replaces must not include an input.
            for (const std::string &input : inputs) {
                std::string folder, name;
                split(input, &folder, &name);
                struct stat input_folder;
                if (is_frame_name(name.c_str()) && stat(folder.c_str(), &input_folder) == 0 &&
                    same_file(input_folder, here)) {
                    *error = "the folder " + plan.path + " holds " + input + ", which --force would replace; name another folder";
                    return false;
                }
            }
            plan.into_existing = true;
        }
    } else {
        if (exists && S_ISDIR(here.st_mode)) {
            *error = plan.path + " is a folder; name a video file, or " + plan.path + "/ for PNG frames in it";
            return false;
        }
        if (listed && !(exists && S_ISREG(here.st_mode))) {
            *error = plan.path + " exists and is not a regular file; name another output";
            return false;
        }
    }
    struct stat folder;
    if (stat(plan.folder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        *error = "the folder for " + plan.path + " does not exist";
        return false;
    }
    *output = plan;
    return true;
}

bool output_open(RenderOutput *output, std::string *error) {
    if (output->kind == OutputKind::frames) {
        // Inside the named folder when it exists, so the frames never cross a mount point.
        const std::string where = output->into_existing ? output->path : output->folder;
        sweep_left_behind(where);
        for (int attempt = 0; attempt < 10; ++attempt) {
            const std::string candidate = where + "/" + random_name();
            if (mkdir(candidate.c_str(), 0755) == 0) {
                g_temporary_lock = lock_made(candidate, true);
                if (g_temporary_lock < 0) continue;  // a sweep took it: an unlocked one would go mid-run
                output->temporary = candidate;
                return true;
            }
            if (errno != EEXIST) break;
        }
        *error = "cannot write into " + where + ": " + std::strerror(errno);
        return false;
    }
    sweep_left_behind(output->folder);
    const int file = open(output->folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (file >= 0) {
        output->file = file;
        return true;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
        *error = "cannot write into " + output->folder + ": " + std::strerror(errno);
        return false;
    }
    for (int attempt = 0; attempt < 10; ++attempt) {
        const std::string candidate = output->folder + "/" + random_name();
        if (candidate.size() >= sizeof g_named_temporary) break;
        const int created = open(candidate.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (created >= 0) {
            close(created);
            // Its own descriptor holds the lock, and is what the encoder writes through.
            const int named = lock_made(candidate, false);
            if (named < 0) continue;  // a sweep took it
            output->file = named;
            output->temporary = candidate;
            std::memcpy(g_named_temporary, candidate.c_str(), candidate.size() + 1);
            g_named_temporary_set.store(true);
            return true;
        }
        if (errno != EEXIST) break;
    }
    *error = "cannot write into " + output->folder + ": " + std::strerror(errno);
    return false;
}

std::string output_encoder_target(const RenderOutput &output) {
    if (output.kind == OutputKind::frames) {
        std::string folder;  // a % in ffmpeg's file name pattern is written %%
        for (char c : output.temporary) folder += c == '%' ? std::string("%%") : std::string(1, c);
        return folder + "/frame_%05d.png";
    }
    return "/proc/self/fd/" + std::to_string(output.file);
}

bool output_commit(RenderOutput *output, std::string *error) {
    const std::string target = output->path;
    bool ok = true;
    int reason = 0;
    if (output->kind == OutputKind::frames) {
        if (!output->into_existing) {
            ok = rename(output->temporary.c_str(), target.c_str()) == 0;
            reason = errno;
        } else {
            if (DIR *entries = opendir(target.c_str())) {
                while (const dirent *entry = readdir(entries))
                    if (is_frame_name(entry->d_name)) unlink((target + "/" + entry->d_name).c_str());
                closedir(entries);
            }
            if (DIR *entries = opendir(output->temporary.c_str())) {
                while (const dirent *entry = ok ? readdir(entries) : nullptr) {
                    if (!is_frame_name(entry->d_name)) continue;
                    ok = rename((output->temporary + "/" + entry->d_name).c_str(),
                                (target + "/" + entry->d_name).c_str()) == 0;
                    if (!ok) reason = errno;
                }
                closedir(entries);
            }
            rmdir(output->temporary.c_str());
        }
    } else if (!output->temporary.empty()) {
        ok = rename(output->temporary.c_str(), target.c_str()) == 0;
        reason = errno;
        g_named_temporary_set.store(false);
    } else {
        const std::string source = "/proc/self/fd/" + std::to_string(output->file);
        // Straight to the name where there is none; else to a short name beside it, renamed over it.
        ok = linkat(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0;
        if (!ok && errno == EEXIST) {
            for (int attempt = 0; attempt < 10 && !ok; ++attempt) {
                const std::string beside = output->folder + "/" + random_name();
                if (linkat(AT_FDCWD, source.c_str(), AT_FDCWD, beside.c_str(), AT_SYMLINK_FOLLOW) != 0) {
                    if (errno == EEXIST) continue;
                    break;
                }
                ok = rename(beside.c_str(), target.c_str()) == 0;
                reason = errno;
                if (!ok) unlink(beside.c_str());
                break;
            }
        }
        if (!ok && reason == 0) reason = errno;
    }
    if (!ok) {
        *error = "cannot put the output in place at " + target + ": " + std::strerror(reason);
        output_discard(output);
        return false;
    }
    if (output->file >= 0) close(output->file);
    output->file = -1;
    output->temporary.clear();
    output->done = true;
    if (g_temporary_lock >= 0) close(g_temporary_lock);
    g_temporary_lock = -1;
    return true;
}

void output_discard(RenderOutput *output) {
    if (output->done) return;
    if (output->kind == OutputKind::frames) {
        if (!output->temporary.empty()) remove_folder_of_frames(output->temporary);
    } else if (!output->temporary.empty()) {
        g_named_temporary_set.store(false);
        unlink(output->temporary.c_str());
    }
    if (output->file >= 0) close(output->file);
    output->file = -1;
    output->temporary.clear();
    if (g_temporary_lock >= 0) close(g_temporary_lock);
    g_temporary_lock = -1;
}

void output_discard_now() {
    if (g_named_temporary_set.load()) unlink(g_named_temporary);
}

std::string output_full_disk(const RenderOutput &output) {
    struct statvfs room;
    if (statvfs(output.folder.c_str(), &room) != 0) return "";
    if (double(room.f_bavail) * double(room.f_frsize) < double(1 << 20)) return "the disk is full";
    return "";
}
