// The artwork loaded at the end of Init: two textures and the first sphere model.
#pragma once

// 0 when loaded, 1 after "Image load failed." was shown and a quit message posted.
int load_assets();
