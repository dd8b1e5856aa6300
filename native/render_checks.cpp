#include "native/render_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A whole decimal number, nothing else (no sign, no spaces), up to a bound that keeps it an int.
bool whole_number(const std::string &text, long long *value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *value = std::atoll(text.c_str());
    return true;
}

std::string quoted(const std::string &text) { return "'" + text + "'"; }

}  // namespace

bool parse_size_value(const std::string &text, bool even_sides, int *width, int *height, std::string *error) {
    const size_t x = text.find_first_of("xX");
    long long w = 0, h = 0;
    if (x == std::string::npos || !whole_number(text.substr(0, x), &w) || !whole_number(text.substr(x + 1), &h)) {
        *error = "bad size " + quoted(text) + ": give WIDTHxHEIGHT, e.g. 1280x720";
        return false;
    }
    if (w < 16 || h < 16 || w > 4096 || h > 4096) {
        *error = "bad size " + quoted(text) + ": the window can be 16 to 4096 pixels wide and 16 to 4096 high";
        return false;
    }
    if (even_sides && (w % 2 || h % 2)) {
        *error = "bad size " + quoted(text) + ": the video needs even numbers, e.g. 1280x720";
        return false;
    }
    *width = int(w);
    *height = int(h);
    return true;
}

bool parse_fps_value(const std::string &text, uint32_t *numerator, uint32_t *denominator, std::string *error) {
    const size_t slash = text.find('/');
    long long n = 0, d = 1;
    const bool parsed = whole_number(text.substr(0, slash), &n) &&
                        (slash == std::string::npos || whole_number(text.substr(slash + 1), &d));
    if (!parsed || n <= 0 || d <= 0 || double(n) / double(d) < 1 || double(n) / double(d) > 240) {
        *error = "bad frame rate " + quoted(text) + ": give frames a second from 1 to 240, e.g. 30 or 30000/1001";
        return false;
    }
    *numerator = uint32_t(n);
    *denominator = uint32_t(d);
    return true;
}

bool parse_seconds_value(const std::string &text, const char *what, bool allow_zero, double *seconds,
                         std::string *error) {
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    const bool plain = !text.empty() && end == text.c_str() + text.size() &&
                       text.find_first_not_of("0123456789.") == std::string::npos;
    if (!plain || !std::isfinite(value) || value < 0 || (value == 0 && !allow_zero) || value > 1e6) {
        *error = std::string("bad ") + what + " " + quoted(text) + ": give seconds, e.g. 12.5";
        return false;
    }
    *seconds = value;
    return true;
}

bool parse_gl_value(const std::string &text, EglDisplayChoice *choice, int *device, std::string *error) {
    long long number = 0;
    if (text == "auto") {
        *choice = EglDisplayChoice::best;
    } else if (text == "software") {
        *choice = EglDisplayChoice::software;
    } else if (text.compare(0, 7, "device:") == 0 && whole_number(text.substr(7), &number) && number <= 1000) {
        *choice = EglDisplayChoice::device;
        *device = int(number);
    } else {
        *error = "bad --gl " + quoted(text) + ": give auto, software or device:N (N from 0 to 1000)";
        return false;
    }
    return true;
}

bool check_regular_file(const std::string &path, const char *what, std::string *error) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        *error = errno == ENOENT ? std::string("no such ") + (what + 4) + ": " + path
                                 : std::string("cannot read ") + what + " " + path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        *error = std::string(what) + " " + path + " is a folder";
        return false;
    }
    if (!S_ISREG(info.st_mode)) {  // a FIFO or a device would block the reader for good
        *error = std::string(what) + " " + path + " is not a regular file";
        return false;
    }
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        *error = std::string("cannot read ") + what + " " + path + ": " + std::strerror(errno);
        return false;
    }
    close(file);
    return true;
}

bool read_options_file(const std::string &path, UserOptions *options, std::string *error) {
    if (!check_regular_file(path, "the options file", error)) return false;
    FILE *file = std::fopen(path.c_str(), "rb");
    UserOptions read = {};
    const size_t got = file ? std::fread(&read, 1, sizeof read, file) : 0;
    if (file) std::fclose(file);
    if (got < sizeof read) {  // the plug-in ignores what follows the record
        *error = "the options file " + path + " holds " + std::to_string(got) +
                 " bytes; an options file (useropt.cfg) holds " + std::to_string(sizeof read);
        return false;
    }
    struct Range {
        const char *name;
        int32_t value, low, high;
    };
    const Range ranges[] = {
        {"light_panning", read.light_panning, 0, 1},       {"detailed_height", read.detailed_height, 0, 1},
        {"alt_sphere", read.alt_sphere, 0, 1},             {"mipmaps", read.mipmaps, 0, 1},
        {"light_brightness", read.light_brightness, 0, 1024}, {"radial_brightness", read.radial_brightness, 0, 1024},
        {"sphere_size", read.sphere_size, 0, 1024},        {"sphere_count", read.sphere_count, 1, kMaxSphereCount},
        {"floating", read.floating, 0, 1},                 {"rotating", read.rotating, 0, 1},
        {"delay", read.delay, 0, 2},
    };
    std::string wrong;
    for (const Range &range : ranges) {
        if (range.value >= range.low && range.value <= range.high) continue;
        char text[96];
        std::snprintf(text, sizeof text, "%s%s %d (%d to %d)", wrong.empty() ? "" : ", ", range.name, range.value,
                      range.low, range.high);
        wrong += text;
    }
    if (!wrong.empty()) {
        *error = "the options file " + path + " has values the options dialog never writes: " + wrong;
        return false;
    }
    *options = read;
    return true;
}

bool same_file(const std::string &a, const std::string &b) {
    struct stat first, second;
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

std::string duration_text(double seconds) {
    const long long whole = seconds > 0 ? std::llround(seconds) : 0;
    char text[48];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}
