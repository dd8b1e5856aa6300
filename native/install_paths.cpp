#include "native/install_paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "settings/user_options.h"

// The install's bindir-to-datadir step, from GNUInstallDirs at build time.
#ifndef HALCYON_BIN_TO_DATA
#define HALCYON_BIN_TO_DATA "../share"
#endif

namespace {

bool is_absolute(const char *path) { return path && path[0] == '/'; }

bool is_folder(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The folder itself, absolute and without ".." (the player changes its current directory).
bool readable_folder(const std::string &given, std::string *folder, std::string *error) {
    struct stat info;
    if (stat(given.c_str(), &info) != 0) {
        *error = "the asset folder " + given + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        *error = "the asset folder " + given + " is not a folder";
        return false;
    }
    if (access(given.c_str(), R_OK | X_OK) != 0) {
        *error = "the asset folder " + given + " cannot be read: " + std::strerror(errno);
        return false;
    }
    char resolved[PATH_MAX];
    *folder = realpath(given.c_str(), resolved) ? resolved : given;
    return true;
}

// mkdir -p, each new folder private to the user.
bool make_private_folders(const std::string &path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        if (mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (is_folder(path)) return true;
    errno = ENOTDIR;
    return false;
}

bool write_whole(int file, const void *data, size_t size) {
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t wrote = write(file, bytes, size);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        bytes += wrote;
        size -= size_t(wrote);
    }
    return true;
}

}  // namespace

std::string executable_folder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "";
    std::string folder(path, size_t(length));
    // An upgrade replaced the file while this one runs: the new one lies at the same place.
    constexpr const char kDeleted[] = " (deleted)";
    constexpr size_t kDeletedLength = sizeof kDeleted - 1;
    if (folder.size() > kDeletedLength && folder.compare(folder.size() - kDeletedLength, kDeletedLength, kDeleted) == 0)
        folder.resize(folder.size() - kDeletedLength);
    const size_t slash = folder.rfind('/');
    if (slash == std::string::npos) return "";
    folder.resize(slash == 0 ? 1 : slash);
    return folder;
}

std::string installed_asset_folder(const std::string &exe_folder) {
    return exe_folder + "/" HALCYON_BIN_TO_DATA "/halcyonsphere/" + kAssetFolderName;
}

std::string build_tree_asset_folder(const std::string &exe_folder) { return exe_folder + "/" + kAssetFolderName; }

bool choose_asset_folder(const char *user_folder, std::string *folder, std::string *error) {
    if (user_folder) return readable_folder(user_folder, folder, error);
    const std::string exe = executable_folder();
    if (exe.empty()) {
        *error = "cannot tell where the program lies (/proc/self/exe), so not where its assets are: "
                 "name an asset folder of your own";
        return false;
    }
    const std::string installed = installed_asset_folder(exe), built = build_tree_asset_folder(exe);
    if (is_folder(installed)) return readable_folder(installed, folder, error);
    if (is_folder(built)) return readable_folder(built, folder, error);
    *error = "no asset set at " + installed + " (reinstall halcyonsphere, or name an asset folder of your own)";
    return false;
}

bool shipped_asset_folder(std::string *folder, std::string *error) { return choose_asset_folder(nullptr, folder, error); }

std::string user_config_folder(const char *xdg_config_home, const char *home, const char *account_home,
                               std::string *error) {
    // XDG: a relative XDG_CONFIG_HOME is invalid and ignored.
    if (is_absolute(xdg_config_home)) return std::string(xdg_config_home) + "/halcyonsphere";
    const char *base = is_absolute(home) ? home : is_absolute(account_home) ? account_home : nullptr;
    if (!base) {
        *error = "cannot tell where your options file goes: neither XDG_CONFIG_HOME nor HOME names a folder";
        return "";
    }
    return std::string(base) + "/.config/halcyonsphere";
}

bool ensure_options_file(const std::string &config_folder, std::string *path, std::string *error) {
    *path = config_folder + "/useropt.cfg";
    struct stat info;
    if (stat(path->c_str(), &info) == 0) {
        if (S_ISREG(info.st_mode)) return true;
        *error = "the options file " + *path + " is not a regular file";
        return false;
    }
    if (errno != ENOENT) {
        *error = "cannot read the options file " + *path + ": " + std::strerror(errno);
        return false;
    }
    if (!make_private_folders(config_folder)) {
        *error = "cannot make the folder " + config_folder + " for your options: " + std::strerror(errno);
        return false;
    }
    const UserOptions defaults = default_user_options();
    // Unnamed until it is whole, so that a run killed meanwhile leaves nothing; a named partial
    // file only where the file system has no unnamed ones.
    const int unnamed = open(config_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (unnamed >= 0) {
        const std::string source = "/proc/self/fd/" + std::to_string(unnamed);
        bool made = write_whole(unnamed, &defaults, sizeof defaults) && fsync(unnamed) == 0;
        // Another run's file, made meanwhile, stays.
        made = made && (linkat(AT_FDCWD, source.c_str(), AT_FDCWD, path->c_str(), AT_SYMLINK_FOLLOW) == 0 ||
                        errno == EEXIST);
        const int reason = errno;
        close(unnamed);
        if (made) return true;
        *error = "cannot write the options file " + *path + ": " + std::strerror(reason);
        return false;
    }
    const std::string partial = config_folder + "/.useropt.cfg." + std::to_string(getpid()) + ".partial";
    unlink(partial.c_str());  // one left by an earlier process of this number
    const int file = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    bool made = file >= 0 && write_whole(file, &defaults, sizeof defaults) && fsync(file) == 0;
    int reason = errno;
    if (file >= 0 && close(file) != 0 && made) made = false, reason = errno;
    // A link never replaces a file that another run made meanwhile; a rename does where links fail.
    if (made && link(partial.c_str(), path->c_str()) != 0 && errno != EEXIST &&
        rename(partial.c_str(), path->c_str()) != 0)
        made = false, reason = errno;
    unlink(partial.c_str());
    if (!made) {
        *error = "cannot write the options file " + *path + ": " + std::strerror(reason);
        return false;
    }
    return true;
}

bool user_options_file(std::string *path, std::string *error) {
    const char *xdg = std::getenv("XDG_CONFIG_HOME"), *home = std::getenv("HOME");
    const passwd *account = is_absolute(xdg) || is_absolute(home) ? nullptr : getpwuid(getuid());
    const std::string folder = user_config_folder(xdg, home, account ? account->pw_dir : nullptr, error);
    return !folder.empty() && ensure_options_file(folder, path, error);
}
