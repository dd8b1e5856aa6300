#include "image/asset_loading.h"

int load_assets() { return 0; }
