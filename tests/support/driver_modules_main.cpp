// The GL driver modules a window and its device brought in stay loaded
// after the device, the window and SDL itself are gone: the leak checker
// runs at exit and must still name their frames for the suppressions to
// match. A process of its own, as SDL is taken down completely. Exits 0 when
// every module is still loaded; 1 naming each one that went; 2 when no GL
// device could be made.
#include <SDL.h>
#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/gpu/direct3d.h"
#include "platform/gpu/driver_modules.h"
#include "platform/window.h"

using namespace plat;
using namespace plat::gpu;

namespace {

intptr_t IgnoreMessages(Window*, uint32_t, uintptr_t, intptr_t) { return 0; }

bool StillLoaded(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

}  // namespace

int main() {
    WindowDesc d;
    d.title = "driver";
    d.width = 64;
    d.height = 48;
    d.proc = IgnoreMessages;
    Window* window = CreateAppWindow(d);
    if (!window) {
        std::fprintf(stderr, "no window: %s\n", WindowError());
        return 2;
    }
    Direct3D* d3d = Direct3D::Create(kSdkVersion);
    PresentParameters p;
    p.backBufferWidth = 64;
    p.backBufferHeight = 48;
    p.backBufferFormat = fmt::X8R8G8B8;
    p.deviceWindow = NativeWindowHandle(window);
    Device* dev = nullptr;
    if (!d3d || d3d->CreateDevice(0, DeviceType::Hal, nullptr, kCreateHardwareVertexProcessing, &p, &dev) != kOk) {
        std::fprintf(stderr, "no GL device: %s\n", d3d ? d3d->LastError().c_str() : "");
        return 2;
    }
    dev->Clear(0, nullptr, kClearTarget, 0xFF204060, 1.0f, 0);
    const std::vector<std::string> modules = LoadedGLDriverModules();

    dev->Release();
    d3d->Release();
    DestroyAppWindow(window);
    SDL_GL_UnloadLibrary();  // the load the device layer keeps for the process
    SDL_Quit();

    int gone = 0;
    for (const std::string& m : modules)
        if (!StillLoaded(m)) {
            std::fprintf(stderr, "unloaded: %s\n", m.c_str());
            ++gone;
        }
    std::printf("%zu driver modules, %d unloaded\n", modules.size(), gone);
    return gone ? 1 : 0;
}
