// JSON lines writer. Every line is flushed at once, so a run cut short by a timeout still leaves
// the events that happened before it.
#include "player/event_log.h"

#include <cstdio>
#include <cstring>
#if defined(_WIN32)
#include <windows.h>

#include <fcntl.h>
#include <io.h>

// Events also come from the plug-in's own threads (its embed calls, its message boxes): one line
// at a time. Made by event_log_open, before the plug-in is loaded.
static CRITICAL_SECTION g_write_lock;
static void make_lock() { InitializeCriticalSection(&g_write_lock); }
static void lock_writes() { EnterCriticalSection(&g_write_lock); }
static void unlock_writes() { LeaveCriticalSection(&g_write_lock); }
#else
static void make_lock() {}
static void lock_writes() {}
static void unlock_writes() {}
#endif

static FILE *g_out = nullptr;
static bool g_owned = false;
static const char *g_phase = "start";

bool event_log_open(const char *path) {
    make_lock();
    if (path == nullptr) {
#if defined(_WIN32)
        _setmode(_fileno(stdout), _O_BINARY);  // "\n", never "\r\n"
#endif
        g_out = stdout;
        g_owned = false;
        return true;
    }
    g_out = std::fopen(path, "wb");
    g_owned = g_out != nullptr;
    return g_out != nullptr;
}

void event_log_close() {
    lock_writes();
    if (g_owned) std::fclose(g_out);
    g_out = nullptr;
    g_owned = false;
    unlock_writes();
}

#if defined(_WIN32)
void *event_log_handle() {
    return g_out != nullptr ? reinterpret_cast<void *>(_get_osfhandle(_fileno(g_out))) : INVALID_HANDLE_VALUE;
}
#endif

void event_log_set_phase(const char *phase) { g_phase = phase; }
const char *event_log_phase() { return g_phase; }

void json_escape(std::string &out, const char *bytes, size_t length) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

static void json_key(JsonLine &line, const char *key) {
    line.text += ',';
    json_escape(line.text, key, std::strlen(key));
    line.text += ':';
}

JsonLine json_begin(const char *event) {
    JsonLine line;
    line.text = "{\"event\":";
    json_escape(line.text, event, std::strlen(event));
    return line;
}

void json_int(JsonLine &line, const char *key, long long value) {
    json_key(line, key);
    line.text += std::to_string(value);
}

void json_bool(JsonLine &line, const char *key, bool value) {
    json_key(line, key);
    line.text += value ? "true" : "false";
}

void json_null(JsonLine &line, const char *key) {
    json_key(line, key);
    line.text += "null";
}

void json_raw(JsonLine &line, const char *key, const char *json) {
    json_key(line, key);
    line.text += json;
}

void json_string(JsonLine &line, const char *key, const char *bytes) {
    if (bytes == nullptr) {
        json_null(line, key);
        return;
    }
    json_string_n(line, key, bytes, std::strlen(bytes));
}

void json_string_n(JsonLine &line, const char *key, const char *bytes, size_t length) {
    json_key(line, key);
    json_escape(line.text, bytes, length);
}

void json_int_array(JsonLine &line, const char *key, const int *values, int count) {
    json_key(line, key);
    line.text += '[';
    for (int i = 0; i < count; ++i) {
        if (i > 0) line.text += ',';
        line.text += std::to_string(values[i]);
    }
    line.text += ']';
}

void json_string_array(JsonLine &line, const char *key, const char *const *values, int count) {
    json_key(line, key);
    line.text += '[';
    for (int i = 0; i < count; ++i) {
        if (i > 0) line.text += ',';
        json_escape(line.text, values[i], std::strlen(values[i]));
    }
    line.text += ']';
}

void event_write(JsonLine &line) {
    line.text += "}\n";
    lock_writes();
    if (g_out != nullptr) {
        std::fwrite(line.text.data(), 1, line.text.size(), g_out);
        std::fflush(g_out);
    }
    unlock_writes();
}
