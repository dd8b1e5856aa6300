// One JSON object per line for every event of a host run, to stdout or a file.
// Text from the plug-in is arbitrary bytes: bytes 0x80-0xFF are written as \u0080-\u00FF, so a
// reader gets the exact bytes back by encoding the string as Latin-1.
#pragma once

#include <cstdint>
#include <string>

struct JsonLine {
    std::string text;
};

bool event_log_open(const char *path);  // null: stdout
void event_log_close();
// The log's own file handle (a Windows HANDLE), for writers that may not use stdio or the lock:
// the crash report. Every line is flushed whole, so a write there starts a line of its own.
void *event_log_handle();

// The host's current step ("load", "config", "init", "render", "quit", "end"); events raised
// from inside the plug-in (message boxes, host messages) carry it.
void event_log_set_phase(const char *phase);
const char *event_log_phase();

JsonLine json_begin(const char *event);
void json_int(JsonLine &line, const char *key, long long value);
void json_bool(JsonLine &line, const char *key, bool value);
void json_null(JsonLine &line, const char *key);
void json_raw(JsonLine &line, const char *key, const char *json);  // an already formed JSON value
void json_string(JsonLine &line, const char *key, const char *bytes);  // null writes null
void json_string_n(JsonLine &line, const char *key, const char *bytes, size_t length);
void json_int_array(JsonLine &line, const char *key, const int *values, int count);
void json_string_array(JsonLine &line, const char *key, const char *const *values, int count);
void event_write(JsonLine &line);  // closes the object, writes one line, flushes; from any thread

// Appends the JSON string literal for bytes (quotes included).
void json_escape(std::string &out, const char *bytes, size_t length);
