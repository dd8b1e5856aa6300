#include "render/view_transforms.h"

#include "shell/gl_api.h"

const Vec3 camera_position = {0.0f, 0.0f, 0.0f};
const Vec3 camera_angles = {180.0f, 0.0f, 0.0f};

void camera_turns(CameraTurn turns[kCameraTurns]) {
    turns[0] = {camera_angles.x - 90.0f, {-1.0f, 0.0f, 0.0f}};
    turns[1] = {camera_angles.z, {0.0f, -1.0f, 0.0f}};
    turns[2] = {camera_angles.y - 90.0f, {0.0f, 0.0f, -1.0f}};
}

void apply_camera_transform() {
    CameraTurn turns[kCameraTurns];
    camera_turns(turns);
    for (const CameraTurn &turn : turns) glRotatef(turn.degrees, turn.axis.x, turn.axis.y, turn.axis.z);
    glTranslatef(-camera_position.x, -camera_position.y, -camera_position.z);
}

void apply_entity_transform(const SceneEntity &e) {
    glTranslatef(e.position.x, e.position.y, e.position.z);
    glRotatef(e.angles.y, 0.0f, 0.0f, 1.0f);
    glRotatef(e.angles.z, 0.0f, 1.0f, 0.0f);
    glRotatef(-e.angles.x, 1.0f, 0.0f, 0.0f);
}
