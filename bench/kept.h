#pragma once
// Set-ups kept between the runs of the benchmarks that share them, made on
// first use. A benchmark that runs the whole engine in this process (its
// shut-down frees every pooled object, resource, package and the script
// state) drops them all first with DropKept(), and hides the render device
// other benchmarks draw with; the next benchmark that needs a set-up makes
// it again.
#include <utility>
#include <vector>

#include "app/engine.h"
#include "render/d3d_render_device.h"

namespace bench {

inline std::vector<void (*)()>& KeptDrops() {
    static std::vector<void (*)()> drops;
    return drops;
}

template <class T>
T& Kept() {
    static T* kept = nullptr;
    if (!kept) {
        kept = new T();
        KeptDrops().push_back([] {
            delete kept;
            kept = nullptr;
        });
    }
    return *kept;
}

// How many times the set-ups were dropped: GL objects a raw baseline made
// in a context that went with them are made again when this has moved.
inline unsigned& KeptGeneration() {
    static unsigned generation = 0;
    return generation;
}
// Newest first, as they were made.
inline void DropKept() {
    ++KeptGeneration();
    std::vector<void (*)()> drops = std::move(KeptDrops());
    KeptDrops().clear();
    for (auto it = drops.rbegin(); it != drops.rend(); ++it) (*it)();
}

// The device a benchmark draws with: current, the render device, and the
// device the shader programs reach.
inline void UseDevice(D3DRenderDevice* dev) {
    dev->GetDevice()->MakeCurrent();
    g_renderDevice = dev;
    g_d3dRenderDevice = dev;
}

// Deletes a benchmark's own device, which then is nobody's render device.
inline void DeleteDevice(D3DRenderDevice* dev) {
    dev->GetDevice()->MakeCurrent();
    if (g_renderDevice == dev) g_renderDevice = nullptr;
    delete dev;
}

// While it lives the engine run in this process finds no set-up of the other
// benchmarks and no render device but its own.
class EngineAlone {
public:
    EngineAlone() {
        DropKept();
        // A global engine another benchmark entered (no display, its own
        // data root) ends here too, so the run starts its own.
        if (Engine* e = GetEngine()) e->Shutdown();
        saved_ = g_renderDevice;
        saved_d3d_ = g_d3dRenderDevice;
        g_renderDevice = nullptr;
        g_d3dRenderDevice = nullptr;
    }
    ~EngineAlone() {
        g_renderDevice = saved_;
        g_d3dRenderDevice = saved_d3d_;
        if (saved_d3d_ && saved_d3d_->GetDevice()) saved_d3d_->GetDevice()->MakeCurrent();
    }
    EngineAlone(const EngineAlone&) = delete;
    EngineAlone& operator=(const EngineAlone&) = delete;

private:
    RenderDevice* saved_ = nullptr;
    D3DRenderDevice* saved_d3d_ = nullptr;
};

}  // namespace bench
