#pragma once
// The global engine entered by a benchmark for its run: its device current
// and the render device, the engine the current one with the benchmark's
// camera, its data root the working folder. On leaving, the scene and images it loaded go (with its
// device current, whose textures they are) and what was found is put back,
// so no benchmark sees state another left, whatever ran before.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/engine.h"
#include "kept.h"
#include "app/scene_switch.h"
#include "media/resource_manager.h"
#include "render/camera.h"
#include "render/d3d_render_device.h"

namespace bench {

// A benchmark's own headless device of w x h, a render target of that size
// and a camera, made together and gone together (a kept set-up is dropped
// before an engine run in this process).
struct OwnDevice {
    D3DRenderDevice* dev = nullptr;
    TextureRecord* target = nullptr;
    Camera* camera = nullptr;

    OwnDevice(int w, int h) {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        dev = new D3DRenderDevice();
        dev->width = w;
        dev->height = h;
        if (dev->Create(false) != 0) std::abort();
        target = dev->CreateTexture(w, h, TEXKIND_RENDER_TARGET, nullptr, 0);
        camera = new Camera();
    }
    ~OwnDevice() {
        UseDevice(dev);
        dev->ReleaseTexture(target);
        delete camera;
        DeleteDevice(dev);
    }
    OwnDevice(const OwnDevice&) = delete;
    OwnDevice& operator=(const OwnDevice&) = delete;
};

class EngineEntered {
public:
    EngineEntered(D3DRenderDevice* device, Camera* camera, const std::string& root) : device_(device) {
        saved_device_ = g_renderDevice;
        saved_engine_ = CurrentEngine();
        char cwd[4096];
        saved_cwd_ = getcwd(cwd, sizeof cwd) ? cwd : ".";
        engine_ = GetEngine();
        SetCurrentEngine(engine_);
        Unload(static_cast<D3DRenderDevice*>(saved_device_));  // whatever was left loaded, with its device
        Unload(device_);
        if (chdir(root.c_str()) != 0) std::abort();
        saved_default_camera_ = engine_->defaultCamera;
        saved_active_camera_ = engine_->activeCamera;
        engine_->defaultCamera = engine_->activeCamera = camera;
    }
    ~EngineEntered() {
        Unload(device_);
        engine_->defaultCamera = saved_default_camera_;
        engine_->activeCamera = saved_active_camera_;
        g_renderDevice = saved_device_;
        if (saved_device_) UseDevice(static_cast<D3DRenderDevice*>(saved_device_));
        SetCurrentEngine(saved_engine_);
        if (chdir(saved_cwd_.c_str()) != 0) std::abort();
    }
    EngineEntered(const EngineEntered&) = delete;
    EngineEntered& operator=(const EngineEntered&) = delete;

    Engine* engine() const { return engine_; }

private:
    // Leaves the engine's scene and drops its images with the device current;
    // ends with that device the render device.
    void Unload(D3DRenderDevice* device) {
        if (!device) return;
        UseDevice(device);
        NodeSwitch(nullptr, false);
        Resources().UnloadByType(kResourceImage);
    }

    D3DRenderDevice* device_;
    Engine* engine_ = nullptr;
    RenderDevice* saved_device_ = nullptr;
    Engine* saved_engine_ = nullptr;
    Camera* saved_default_camera_ = nullptr;
    Camera* saved_active_camera_ = nullptr;
    std::string saved_cwd_;
};

}  // namespace bench
