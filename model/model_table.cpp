#include "model/model_table.h"

#include <cstdlib>
#include <cstring>

#include "model/file_cache.h"
#include "model/model_parse.h"

ModelSlot model_slots[kModelSlotCount];
ModelHandle model_handles[kModelSlotCount];

namespace {

// Steps 3 to 6 of a load: parse the cached image of path into a fresh model in slot.
bool parse_into_slot(int slot, const char *path) {
    ModelFile *model = static_cast<ModelFile *>(std::calloc(1, sizeof(ModelFile)));
    if (!model) return false;
    const int entry = file_cache_load(path);
    if (entry < 0) {
        std::free(model);
        return false;
    }
    model->data = file_cache.entries[entry].data;
    model->size = file_cache.entries[entry].size;
    if (parse_model(*model) == 0) {
        free_model_meshes(*model);
        std::free(model);
        return false;
    }
    model_slots[slot].model = model;
    model_slots[slot].used = 1;
    return true;
}

void free_slot_model(int slot) {
    ModelSlot &entry = model_slots[slot];
    if (entry.model) {
        free_model_meshes(*entry.model);
        std::free(entry.model);
    }
    entry.model = nullptr;
    entry.used = 0;
}

}  // namespace

void free_model_meshes(ModelFile &model) {
    Mesh *mesh = model.meshes;
    while (mesh) {
        Mesh *next = mesh->next;
        std::free(mesh->posed_positions);
        std::free(mesh->indices);
        if (!mesh->normals_from_file) std::free(const_cast<PackedVec3 *>(mesh->normals));
        std::free(mesh->posed_normals);
        std::free(mesh->draw_cache);  // one block, whatever the renderer keeps in it
        if (!mesh->bones_shared) std::free(mesh->bones);
        std::free(mesh);
        mesh = next;
    }
    model.meshes = nullptr;
}

ModelHandle *load_model(const char *path) {
    // A cut path would reload some other file later, so a path that does not fit is refused.
    if (!path || std::strlen(path) >= static_cast<size_t>(kModelPathSize)) return nullptr;
    int slot = -1;
    for (int i = 0; i < kModelSlotCount && slot < 0; ++i)
        if (!model_slots[i].used) slot = i;
    if (slot < 0 || !parse_into_slot(slot, path)) return nullptr;

    ModelHandle &handle = model_handles[slot];
    handle.slot = slot;
    handle.loaded = 1;
    std::memcpy(handle.path, path, std::strlen(path) + 1);
    handle.model = model_slots[slot].model;
    return &handle;
}

ModelFile *resolve_model_handle(ModelHandle *handle) {
    if (!handle) return nullptr;
    if (handle->loaded) return handle->model;
    const int slot = handle->slot;
    // Slot i is used exactly while handle i is loaded; anything else is not ours to overwrite.
    if (slot < 0 || slot >= kModelSlotCount || model_slots[slot].used) return nullptr;
    if (!parse_into_slot(slot, handle->path)) return nullptr;
    handle->loaded = 1;
    handle->model = model_slots[slot].model;
    return handle->model;
}

void release_model(int slot) {
    if (slot < 0 || slot >= kModelSlotCount || !model_slots[slot].used) return;
    free_slot_model(slot);
    model_handles[slot].loaded = 0;
}

void release_all_models() {
    for (int i = 0; i < kModelSlotCount; ++i) {
        model_handles[i].loaded = 0;
        if (model_slots[i].used) free_slot_model(i);
    }
    file_cache_release_all();  // after the models that point into the images
}
