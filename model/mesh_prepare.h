// Arrays derived from a parsed mesh: its first pose, 32-bit indices and vertex normals.
#pragma once

#include "model/model.h"

// Once per mesh at the end of parsing; a mesh without positions gets nothing.
void prepare_mesh(Mesh &mesh);

// One unit normal per vertex: the normalised sum of the unit normals of the triangles that use
// it, each triangle once, summed in triangle order. Triangles naming a vertex outside the
// array are ignored.
void compute_vertex_normals(PackedVec3 *normals, int32_t vertex_count, const PackedVec3 *positions,
                            int32_t triangle_count, const FileTriangle *triangles);

// Creates the 32-bit index array once; later calls find it and do nothing.
void ensure_index_array(Mesh &mesh);
