// After the walk, every array a mesh points at is checked against the image and against the
// mesh's own counts; whatever does not agree is dropped, so later stages can trust the mesh.
#pragma once

#include "model/image_reader.h"
#include "model/model.h"

// The most weights one pose of a mesh may visit, summed over its weight ranges: 16 per vertex at
// the largest vertex count, where sensible skinning uses four to eight. All meshes of a model
// together may visit four times that. A mesh whose ranges add up to more than either allows is
// posed unskinned, so that no file can make a pose, or the parse that poses every mesh once,
// take seconds however it reuses its weights.
constexpr int64_t kMaxPoseWeights = int64_t{16} * 65536;
constexpr int64_t kMaxModelPoseWeights = 4 * kMaxPoseWeights;

// pose_weights_left: what the model's meshes may still visit; the mesh's weights are taken from it.
void drop_unsound_mesh_data(Mesh &mesh, const ImageView &image, int64_t &pose_weights_left);
