// The GL features the renderer cannot do without, and the lighting fragment program.
#pragma once

#include <cstdint>

constexpr const char kLightProgramFile[] = "vis_halcyonsphere_assets/light_std.fp";
constexpr int kMessageTextSize = 4096;

// 1 when everything is present and the program compiled; 0 after its message was shown.
int check_gl_extensions();
bool load_fragment_program(const char *path, uint32_t *program_id);
// printf-style error box captioned "Error", owned by the host's window; the text is cut at 4095 bytes.
int show_error(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
