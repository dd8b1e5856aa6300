// The chunk walk that turns a file image into meshes and bones, and the links between them.
#pragma once

#include "model/model.h"

// model.data and model.size set, meshes null. Builds, links and prepares the meshes; returns 1
// for every input (a malformed file yields the meshes and data that could be read safely).
int parse_model(ModelFile &model);

// First mesh in list order whose name equals name byte for byte, or null.
Mesh *find_mesh_by_name(const char *name, ModelFile &model);

// Each mesh with a node header gets the first mesh whose node_id is the header's parent id.
void link_mesh_parents(ModelFile &model);
