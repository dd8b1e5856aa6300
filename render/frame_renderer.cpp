#include "render/frame_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "image/texture_manager.h"
#include "model/model_table.h"
#include "render/frame_clock.h"
#include "render/model_drawing.h"
#include "render/scene_update.h"
#include "render/view_transforms.h"
#include "shell/display.h"
#include "shell/gl_api.h"
#include "shell/plugin_state.h"

FrameTexture blur_source_texture = {-1, 0, 0};
FrameTexture feedback_texture = {-1, 0, 0};

namespace {

constexpr float kInsetPerUnitX = 0.0015625f;     // 1/640
constexpr float kInsetPerUnitY = 0.0020833334f;  // 1/480
constexpr int kBlurLayers = 30;

// The window-filling quad in overlay pixels, showing the bound rectangle texture cropped by u
// texels left and right and v top and bottom: a zoom towards the centre. Inside glBegin(GL_QUADS).
void zoomed_quad_vertices(float u, float v) {
    const float w = float(plugin_state.viewport_width), h = float(plugin_state.viewport_height);
    glTexCoord2f(u, h - v);
    glVertex2f(0.0f, 0.0f);
    glTexCoord2f(u, v);
    glVertex2f(0.0f, h);
    glTexCoord2f(w - u, v);
    glVertex2f(w, h);
    glTexCoord2f(w - u, h - v);
    glVertex2f(w, 0.0f);
}

float inset_u(float zoom) { return float(plugin_state.viewport_width) * kInsetPerUnitX * zoom; }
float inset_v(float zoom) {
    const float w = float(plugin_state.viewport_width), h = float(plugin_state.viewport_height);
    return h * kInsetPerUnitY * (zoom * h / w);
}

void bind_rectangle(const FrameTexture &texture) {
    glDisable(GL_TEXTURE_2D);
    glEnable(kTextureRectangle);
    glBindTexture(kTextureRectangle, GLuint(texture.name));
}

void unbind_rectangle() {
    glDisable(kTextureRectangle);
    glEnable(GL_TEXTURE_2D);
}

// The two-sided textured quad of an entity without a model, in its own XY plane.
void draw_entity_quad(const SceneEntity &e) {
    const float hw = e.half_width, hh = e.half_height;
    glEnable(GL_CULL_FACE);
    for (int side = 0; side < 2; ++side) {
        if (side == 0) glBindTexture(GL_TEXTURE_2D, GLuint(e.decal_texture));
        else if (e.back_texture != -1) glBindTexture(GL_TEXTURE_2D, GLuint(e.back_texture));
        glCullFace(side == 0 ? GL_BACK : GL_FRONT);
        glBegin(GL_QUADS);
        glTexCoord2f(1.0f, 1.0f);
        glVertex3f(-hw, -hh, 0.0f);
        glTexCoord2f(1.0f, 0.0f);
        glVertex3f(-hw, hh, 0.0f);
        glTexCoord2f(0.0f, 0.0f);
        glVertex3f(hw, hh, 0.0f);
        glTexCoord2f(0.0f, 1.0f);
        glVertex3f(hw, -hh, 0.0f);
        glEnd();
    }
    glDisable(GL_CULL_FACE);
}

// The entities from the last to the first; the head is drawn (and freed) last.
void draw_entity_list(bool free_after_drawing) {
    SceneEntity *head = entity_list;
    if (!head) return;
    draw_entities_reversed(head->next, free_after_drawing);
    draw_entity(*head);
    if (free_after_drawing) std::free(head);
}

}  // namespace

void draw_entity(SceneEntity &e) {
    glLoadIdentity();
    apply_camera_transform();
    apply_entity_transform(e);
    if (e.no_depth_write) glDepthMask(GL_FALSE);
    // A blend factor is set for whoever enables blending; the geometry itself draws opaque.
    if (e.blend_src != -1) glBlendFunc(GLenum(e.blend_src), GLenum(e.blend_dst != -1 ? e.blend_dst : e.blend_src));
    if (e.alpha_func != -1) {
        glAlphaFunc(GLenum(e.alpha_func), 0.0f);
        glEnable(GL_ALPHA_TEST);
    }
    glDisable(GL_BLEND);
    glColor4f(0.99f, 0.99f, 0.99f, 1.0f);
    if (e.model) {
        ModelFile *model = resolve_model_handle(e.model);
        if (model) draw_model(*model, e);
    } else {
        draw_entity_quad(e);
    }
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    if (e.blend_src != -1) glDisable(GL_BLEND);
    if (e.alpha_func != -1) glDisable(GL_ALPHA_TEST);
    if (e.no_depth_write) glDepthMask(GL_TRUE);
}

void draw_entities_reversed(SceneEntity *entity, bool free_after_drawing) {
    // The scene's lists hold at most one entity per sphere, so the recursion stays shallow.
    if (!entity) return;
    draw_entities_reversed(entity->next, free_after_drawing);
    draw_entity(*entity);
    if (free_after_drawing) std::free(entity);
}

void copy_frame_to_texture(FrameTexture &texture) {
    const int32_t w = plugin_state.viewport_width, h = plugin_state.viewport_height;
    if (texture.name == -1) texture.name = take_texture_name();
    // A window grown past the storage (or a new context) gets storage of its size.
    if (w > texture.width || h > texture.height) {
        glBindTexture(kTextureRectangle, GLuint(texture.name));
        texture.width = std::max(w, texture.width);
        texture.height = std::max(h, texture.height);
        glTexImage2D(kTextureRectangle, 0, GL_RGBA, texture.width, texture.height, 0, GL_RGBA, GL_FLOAT, nullptr);
        glTexParameteri(kTextureRectangle, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(kTextureRectangle, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(kTextureRectangle, GL_TEXTURE_WRAP_S, GL_CLAMP);
        glTexParameteri(kTextureRectangle, GL_TEXTURE_WRAP_T, GL_CLAMP);
    }
    bind_rectangle(texture);
    glCopyTexSubImage2D(kTextureRectangle, 0, 0, 0, 0, 0, w, h);
    unbind_rectangle();
}

void draw_background() {
    if (feedback_texture.name == -1) return;
    begin_overlay_2d();
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
    bind_rectangle(feedback_texture);
    const double t = double(FrameClock);
    float k = float(1.0 + std::sin(0.0001 * t));
    if (k < 1.0f) k = 1.0f;
    const RenderSettings &settings = plugin_state.settings;
    float zoom = settings.background_zoom;
    if (settings.background_zoom_pulse) zoom = float(2.0 * zoom + zoom * std::sin(0.001 * t));
    const float u = inset_u(zoom), v = inset_v(zoom);
    glColor4f(k, k, k, 1.0f);
    glBegin(GL_QUADS);
    zoomed_quad_vertices(u, v);
    glEnd();
    if (settings.background_double_pass) {
        glColor4f(0.04f, 0.04f, 0.04f, 1.0f);
        glBegin(GL_QUADS);
        zoomed_quad_vertices(u, v);
        glEnd();
    }
    unbind_rectangle();
    glDisable(GL_BLEND);
    end_overlay_2d();
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

void draw_radial_blur() {
    const float b = float(plugin_state.options.radial_brightness) * (1.0f / 1024.0f);
    const float r = 2.0f * b * audio_energy(0), g = 2.0f * b * audio_energy(1);
    const float dv = 10.0f * float(plugin_state.viewport_height) / float(plugin_state.viewport_width);
    float u = inset_u(10.0f), v = inset_v(10.0f);
    bind_rectangle(blur_source_texture);
    glDisable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glEnable(GL_BLEND);
    begin_overlay_2d();
    float alpha = 0.2f;
    glBegin(GL_QUADS);
    for (int layer = 0; layer < kBlurLayers; ++layer) {
        glColor4f(r, g, r, alpha);
        zoomed_quad_vertices(u, v);
        alpha -= 0.006666667f;
        u += 10.0f;
        v += dv;
    }
    glEnd();
    end_overlay_2d();
    glEnable(GL_DEPTH_TEST);
    unbind_rectangle();
    glDisable(GL_BLEND);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

void free_light_list(LightSource *light) {
    while (light) {
        LightSource *next = light->next;
        std::free(light);
        light = next;
    }
}

void frame_render() {
    const bool radial_blur = plugin_state.settings.radial_blur != 0;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    if (radial_blur) {
        draw_entity_list(false);
        copy_frame_to_texture(blur_source_texture);  // the spheres alone, over black
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    glDisable(GL_DEPTH_TEST);
    draw_background();
    glEnable(GL_DEPTH_TEST);
    draw_entity_list(true);
    entity_list = nullptr;
    free_light_list(light_list);
    light_list = nullptr;
    copy_frame_to_texture(feedback_texture);
    if (radial_blur) draw_radial_blur();
}

void frame_renderer_forget_context() {
    blur_source_texture = {-1, 0, 0};
    feedback_texture = {-1, 0, 0};
}
