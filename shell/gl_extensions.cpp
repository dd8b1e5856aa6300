#include "shell/gl_extensions.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/asset_path.h"
#include "shell/file_io.h"
#include "shell/gl_api.h"
#include "shell/platform.h"
#include "shell/plugin_state.h"

namespace {

// Fetches one entry point unless an earlier one was missing; the first missing name is kept.
template <typename Function>
void fetch(const char *name, Function &entry_point, const char *&missing) {
    if (missing) return;
    entry_point = reinterpret_cast<Function>(platform_wgl_get_proc_address(name));
    if (!entry_point) missing = name;
}

}  // namespace

int show_error(const char *format, ...) {
    char text[kMessageTextSize];
    va_list arguments;
    va_start(arguments, format);
    // vsnprintf cuts a long message at the buffer's end instead of writing past it.
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return platform_message_box(plugin_state.module->parent_window, text, "Error", win32::MB_OK);
}

bool load_fragment_program(const char *path, uint32_t *program_id) {
    GlEntryPoints &gl = plugin_state.gl;
    uint32_t length = 0;
    char *text = reinterpret_cast<char *>(file_read_whole(path, &length));
    if (!text) {
        show_error("Unable to locate fragment program at '%s'.", path);
        return false;
    }
    // The last byte becomes the terminator; an empty file has none to give, so it is an empty text.
    text[length ? length - 1 : 0] = '\0';

    gl.glGenProgramsARB(1, program_id);
    gl.glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, *program_id);
    gl.glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, GLsizei(std::strlen(text)), text);
    std::free(text);

    GLint error_position = 0;
    glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &error_position);
    if (error_position == -1) return true;
    const GLubyte *error_text = glGetString(GL_PROGRAM_ERROR_STRING_ARB);
    show_error("Fragment program error: %s", error_text ? reinterpret_cast<const char *>(error_text) : "");
    return false;
}

int check_gl_extensions() {
    GlEntryPoints &gl = plugin_state.gl;
    const char *extensions = reinterpret_cast<const char *>(glGetString(GL_EXTENSIONS));
    if (!extensions || !*extensions) {
        show_error("Unable to obtain GL extension list.");
        return 0;
    }
    if (!std::strstr(extensions, "GL_NV_texture_rectangle") && !std::strstr(extensions, "GL_EXT_texture_rectangle")) {
        show_error("Texture rectangle extensions are required for this program to run, your video card drivers do "
                   "not support them.");
        return 0;
    }
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
    plugin_state.texture_unit_count = units;
    if (plugin_state.texture_unit_count < 4) {
        show_error("Not enough available texture units.");
        return 0;
    }

    const char *missing = nullptr;
    fetch("glProgramStringARB", gl.glProgramStringARB, missing);
    fetch("glBindProgramARB", gl.glBindProgramARB, missing);
    fetch("glDeleteProgramsARB", gl.glDeleteProgramsARB, missing);
    fetch("glGenProgramsARB", gl.glGenProgramsARB, missing);
    if (missing) {
        show_error("Fragment program extension '%s' unavailable.", missing);
        return 0;
    }

    char path[kMaxPath];
    if (!asset_path(kLightProgramFile, path)) {
        show_error("Unable to locate fragment program at '%s'.", kLightProgramFile);
        return 0;
    }
    if (!load_fragment_program(path, &plugin_state.light_program)) return 0;

    fetch("glMultiTexCoord2iARB", gl.glMultiTexCoord2iARB, missing);
    fetch("glMultiTexCoord3fARB", gl.glMultiTexCoord3fARB, missing);
    fetch("glMultiTexCoord3fvARB", gl.glMultiTexCoord3fvARB, missing);
    fetch("glMultiTexCoord2fvARB", gl.glMultiTexCoord2fvARB, missing);
    fetch("glActiveTextureARB", gl.glActiveTextureARB, missing);
    fetch("glClientActiveTextureARB", gl.glClientActiveTextureARB, missing);
    fetch("glTexImage3DEXT", gl.glTexImage3DEXT, missing);
    if (missing) {
        show_error("Texture extension '%s' unavailable.", missing);
        return 0;
    }
    return 1;
}
