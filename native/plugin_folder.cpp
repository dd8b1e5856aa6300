#include "native/plugin_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/user_options.h"

namespace {

constexpr const char kAssetFolder[] = "vis_halcyonsphere_assets";
constexpr const char kPrivatePrefix[] = "halcyon-native-";  // then mkdtemp's six characters

std::string g_private;  // the private folder of this run, if one was made
int g_private_lock = -1;  // held on the private folder for its life: a free lock marks one left behind

// What plugin_folder_remove_now removes, as NUL-ended paths in order: written once the folder is
// ready and never freed, so that a signal handler may walk it while the main thread goes on.
char g_removal[32768];
std::atomic<bool> g_removal_ready{false};  // lock-free, so a signal handler may read it

// The first 56 bytes of a file, as the plug-in reads its options; false when it is shorter, or
// when it is no regular file (a FIFO would hold the run for good, a device hand it anything).
bool read_record(const std::string &path, UserOptions *options, long *length, bool *regular = nullptr) {
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    const bool is_regular = file >= 0 && fstat(file, &info) == 0 && S_ISREG(info.st_mode);
    if (regular) *regular = is_regular || file < 0;
    *length = 0;
    char *into = reinterpret_cast<char *>(options);
    while (is_regular && *length < long(sizeof *options)) {
        const ssize_t got = read(file, into + *length, sizeof *options - size_t(*length));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        *length += long(got);
    }
    if (file >= 0) close(file);
    return *length == long(sizeof *options);
}

bool write_record(const std::string &path, const UserOptions &options) {
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(&options, sizeof options, 1, file) == 1;
    return std::fclose(file) == 0 && written;
}

// Links every asset file but the options into the private asset folder.
bool link_assets(const std::string &source, const std::string &target) {
    DIR *folder = opendir(source.c_str());
    if (!folder) return true;  // no asset folder: the plug-in's Init says what it misses
    bool ok = true;
    while (const dirent *entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == "useropt.cfg") continue;
        ok = ok && symlink((source + "/" + name).c_str(), (target + "/" + name).c_str()) == 0;
    }
    closedir(folder);
    return ok;
}

// A private folder as this program makes it: the asset folder of links and the options file in
// it, nothing else; anything more is left where it is.
void remove_private(const std::string &folder) {
    const std::string assets = folder + "/" + kAssetFolder;
    if (DIR *entries = opendir(assets.c_str())) {
        while (const dirent *entry = readdir(entries)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") unlink((assets + "/" + name).c_str());  // links, never their targets
        }
        closedir(entries);
    }
    rmdir(assets.c_str());
    rmdir(folder.c_str());
}

// The paths remove_private would remove, for the signal handler; none when they do not fit.
void prepare_removal(const std::string &folder) {
    const std::string assets = folder + "/" + kAssetFolder;
    std::string list;
    if (DIR *entries = opendir(assets.c_str())) {
        while (const dirent *entry = readdir(entries)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") list += assets + "/" + name + '\0';
        }
        closedir(entries);
    }
    list += assets + '\0' + folder + '\0' + '\0';
    if (list.size() > sizeof g_removal) return;
    std::memcpy(g_removal, list.data(), list.size());
    g_removal_ready.store(true, std::memory_order_release);
}

// An exclusive lock on a folder, at once or after waiting (TMPDIR's is held only for the moments
// of a sweep and a folder's making); -1 when not had. The wait is bounded, a second: another
// program holding TMPDIR's lock must not hold up a run's start, nor its stop, for good.
int lock_folder(const char *path, bool wait) {
    const int folder = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return -1;
    for (int tries = 0; tries < (wait ? 100 : 1); ++tries) {
        if (flock(folder, LOCK_EX | LOCK_NB) == 0) return folder;
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        const timespec pause = {0, 10 * 1000 * 1000};
        if (wait) nanosleep(&pause, nullptr);
    }
    close(folder);
    return -1;
}

bool is_private_name(const char *name) {
    const size_t prefix = sizeof kPrivatePrefix - 1;
    return std::strncmp(name, kPrivatePrefix, prefix) == 0 && std::strlen(name + prefix) == 6 &&
           std::strspn(name + prefix, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789") == 6;
}

// Removes the private folders that runs killed outright (SIGKILL, a crash) left in temporary: ours,
// by their name and owner, whose lock nobody holds. Runs make and lock theirs, and this sweeps,
// under a lock on temporary itself, so that no folder is seen between its making and its lock.
void sweep_left_behind(const std::string &temporary) {
    DIR *entries = opendir(temporary.c_str());
    if (!entries) return;
    while (const dirent *entry = readdir(entries)) {
        if (!is_private_name(entry->d_name)) continue;
        const std::string path = temporary + "/" + entry->d_name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) continue;
        const int lock = lock_folder(path.c_str(), false);
        if (lock < 0) continue;  // a run still using it
        remove_private(path);
        close(lock);
    }
    closedir(entries);
}

std::string temporary_folder() {
    const char *temporary = std::getenv("TMPDIR");
    return temporary && *temporary ? temporary : "/tmp";
}

// Sweeps what earlier runs left in temporary and, when asked, makes this run's private folder
// there, locked. False, with the reason, when it cannot be made.
bool sweep_and_make(const std::string &temporary, bool make, std::string *error) {
    const int temporary_lock = lock_folder(temporary.c_str(), true);
    if (temporary_lock >= 0) sweep_left_behind(temporary);
    std::string pattern = temporary + "/" + kPrivatePrefix + "XXXXXX";
    bool made = make && mkdtemp(&pattern[0]) != nullptr;
    int reason = errno;
    if (made) {
        // Unlocked, it would look left behind to the next run's sweep while this one uses it.
        g_private_lock = lock_folder(pattern.c_str(), false);
        reason = errno;
        made = g_private_lock >= 0;
        if (made) g_private = pattern;
        else rmdir(pattern.c_str());
    }
    if (temporary_lock >= 0) close(temporary_lock);
    if (make && !made) *error = "cannot make a folder for the run in " + temporary + ": " + std::strerror(reason);
    return made || !make;
}

}  // namespace

std::string program_folder() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    path[length] = '\0';
    char *slash = std::strrchr(path, '/');
    if (slash) *slash = '\0';
    return path;
}

std::string absolute_path(const char *path) {
    if (path[0] == '/') return path;
    char current[4096];
    if (!getcwd(current, sizeof current)) return path;
    if (std::strcmp(path, ".") == 0) return current;
    return std::string(current) + "/" + path;
}

bool plugin_folder_enter(const PluginFolderRequest &request, std::string *error) {
    struct stat info;
    if (stat(request.folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = "no such plug-in folder: " + request.folder;
        return false;
    }
    const std::string source = !request.asset_folder.empty() ? absolute_path(request.asset_folder.c_str())
                                                             : absolute_path(request.folder.c_str()) + "/" + kAssetFolder;
    if (!request.options_file && request.width == 0 && !request.record) {
        sweep_and_make(temporary_folder(), false, error);
        if (chdir(request.folder.c_str()) == 0) return true;
        *error = "cannot enter " + request.folder;
        return false;
    }

    UserOptions options = default_user_options();
    long length = 0;
    if (request.record) {
        options = *request.record;
    } else if (bool regular = true;
               request.options_file && !read_record(request.options_file, &options, &length, &regular)) {
        const std::string named = std::string("the options file ") + request.options_file;
        *error = !regular ? named + " is not a regular file"
                          : named + " holds " + std::to_string(length) + " bytes; an options file (useropt.cfg) holds " +
                                std::to_string(sizeof options);
        return false;
    } else if (!request.options_file && !read_record(source + "/useropt.cfg", &options, &length))
        options = default_user_options();
    if (request.width > 0) {
        options.width = request.width;
        options.height = request.height;
    }

    if (!sweep_and_make(temporary_folder(), true, error)) return false;
    const std::string assets = g_private + "/" + kAssetFolder;
    if (mkdir(assets.c_str(), 0755) != 0 || !link_assets(source, assets) ||
        !write_record(assets + "/useropt.cfg", options) || chdir(g_private.c_str()) != 0) {
        *error = "cannot prepare the run's folder " + g_private;
        plugin_folder_leave();
        return false;
    }
    prepare_removal(g_private);
    return true;
}

void plugin_folder_leave() {
    if (g_private.empty()) return;
    g_removal_ready.store(false);
    remove_private(g_private);
    g_private.clear();
    if (g_private_lock >= 0) close(g_private_lock);
    g_private_lock = -1;
}

void plugin_folder_remove_now() {
    if (!g_removal_ready.load(std::memory_order_acquire)) return;
    // Only calls a signal handler may make: the links and the options file, then the two folders.
    for (const char *path = g_removal; *path; path += std::strlen(path) + 1)
        if (unlink(path) != 0) rmdir(path);
}
