// The model slots (owning parsed models) and the handles beside them (what the scene holds).
// A handle is the address of its table entry, valid for the life of the library; it keeps its
// path, so a released model is loaded again through it.
#pragma once

#include <cstdint>

#include "model/model.h"

constexpr int kModelSlotCount = 512;
constexpr int kModelPathSize = 260;  // at most 259 characters and a NUL

struct ModelSlot {
    ModelFile *model;
    uint8_t used;
};

struct ModelHandle {
    ModelFile *model;  // meaningful only while loaded
    char path[kModelPathSize];
    int32_t slot;  // the handle's own index
    uint8_t loaded;
};

extern ModelSlot model_slots[kModelSlotCount];
extern ModelHandle model_handles[kModelSlotCount];

// Parses the file into the first free slot; null when no slot is free, the path is too long for
// a handle, or the file cannot be read.
ModelHandle *load_model(const char *path);

// The handle's model, parsed again from the handle's path when it was released; null on failure.
ModelFile *resolve_model_handle(ModelHandle *handle);

// Frees the slot's model; the file image stays cached. A slot without a model is left alone.
void release_model(int slot);

// Frees every model, then every cached image.
void release_all_models();

// Frees the meshes and everything they own; the caller frees the ModelFile itself.
void free_model_meshes(ModelFile &model);
