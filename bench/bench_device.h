#pragma once
// The render device the benchmarks draw with: headless, w x h, in a scene
// with depth off. A device that cannot be made stops the program.
#include <cstdlib>

#include "render/d3d_render_device.h"

inline D3DRenderDevice* CreateBenchDevice(int w, int h) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    auto* d = new D3DRenderDevice();
    d->width = w;
    d->height = h;
    if (d->Create(false) != 0) std::abort();
    d->BeginScene();
    d->EnableDepth(false);
    return d;
}
