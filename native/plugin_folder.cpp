#include "native/plugin_folder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/user_options.h"

namespace {

constexpr const char kAssetFolder[] = "vis_halcyonsphere_assets";
std::string g_private;  // the private folder of this run, if one was made

// The first 56 bytes of a file, as the plug-in reads its options; false when it is shorter.
bool read_record(const std::string &path, UserOptions *options, long *length) {
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    *length = long(std::fread(options, 1, sizeof *options, file));
    std::fclose(file);
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
    const std::string source = absolute_path(request.folder.c_str()) + "/" + kAssetFolder;
    if (!request.options_file && request.width == 0) {
        if (chdir(request.folder.c_str()) == 0) return true;
        *error = "cannot enter " + request.folder;
        return false;
    }

    UserOptions options = default_user_options();
    long length = 0;
    if (request.options_file && !read_record(request.options_file, &options, &length)) {
        *error = std::string("the options file ") + request.options_file + " holds " + std::to_string(length) +
                 " bytes; an options file (useropt.cfg) holds " + std::to_string(sizeof options);
        return false;
    }
    if (!request.options_file && !read_record(source + "/useropt.cfg", &options, &length))
        options = default_user_options();
    if (request.width > 0) {
        options.width = request.width;
        options.height = request.height;
    }

    const char *temporary = std::getenv("TMPDIR");
    std::string pattern = std::string(temporary && *temporary ? temporary : "/tmp") + "/halcyon-native-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
        *error = "cannot make a folder for the run in " + pattern.substr(0, pattern.rfind('/'));
        return false;
    }
    g_private = pattern;
    const std::string assets = g_private + "/" + kAssetFolder;
    if (mkdir(assets.c_str(), 0755) != 0 || !link_assets(source, assets) ||
        !write_record(assets + "/useropt.cfg", options) || chdir(g_private.c_str()) != 0) {
        *error = "cannot prepare the run's folder " + g_private;
        plugin_folder_leave();
        return false;
    }
    return true;
}

void plugin_folder_leave() {
    if (g_private.empty()) return;
    const std::string assets = g_private + "/" + kAssetFolder;
    if (DIR *folder = opendir(assets.c_str())) {
        while (const dirent *entry = readdir(folder)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") unlink((assets + "/" + name).c_str());
        }
        closedir(folder);
    }
    rmdir(assets.c_str());
    rmdir(g_private.c_str());
    g_private.clear();
}
