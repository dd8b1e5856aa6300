// After the walk, every array a mesh points at is checked against the image and against the
// mesh's own counts; whatever does not agree is dropped, so later stages can trust the mesh.
#pragma once

#include "model/image_reader.h"
#include "model/model.h"

void drop_unsound_mesh_data(Mesh &mesh, const ImageView &image);
