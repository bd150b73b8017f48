// Leaks one block of its own beside a GL device that has drawn, so the test
// build's leak checker shows it still reports our leaks while the system's
// GL and driver libraries are suppressed. Expected output: one leak of 4242
// bytes, and no frame inside a driver library.
//
// The checker stops every thread of the process and scans their stacks and
// thread-local blocks; a driver worker still running at that point made the
// check itself crash on some machines. So the driver draws with worker
// threads of its own (a fixed number, whatever the machine), is taken down
// before the leak, and the program makes sure no other thread is left.
#include <SDL.h>
#include <dirent.h>

#include <cstdio>
#include <cstdlib>

#include "platform/gpu/direct3d.h"

using namespace plat::gpu;

namespace {

// The block's only pointer dies with this frame.
__attribute__((noinline)) void LeakABlock() {
    char* p = new char[4242];
    p[0] = 1;
    asm volatile("" : : "r"(p) : "memory");
}

bool DrawOnce() {
    Direct3D* d3d = Direct3D::Create(kSdkVersion);
    if (!d3d) return false;
    PresentParameters pp;
    pp.backBufferWidth = 32;
    pp.backBufferHeight = 32;
    pp.backBufferFormat = fmt::X8R8G8B8;
    pp.enableAutoDepthStencil = true;
    pp.autoDepthStencilFormat = fmt::D24S8;
    Device* dev = nullptr;
    bool ok = d3d->CreateDevice(0, DeviceType::Hal, nullptr, kCreateHardwareVertexProcessing, &pp, &dev) == kOk;
    if (ok) {
        struct V {
            float x, y, z, w;
            uint32_t c;
        } tri[3] = {{0, 0, 0, 1, 0xFFFF0000}, {31, 0, 0, 1, 0xFF00FF00}, {0, 31, 0, 1, 0xFF0000FF}};
        dev->Clear(0, nullptr, kClearTarget, 0xFF000000, 1.0f, 0);
        dev->SetRenderState(rs::Lighting, 0);
        dev->SetFVF(fvf::XYZRHW | fvf::Diffuse);
        ok = dev->DrawPrimitiveUP(PrimitiveType::TriangleList, 1, tri, sizeof tri[0]) == kOk;
        dev->Release();
    }
    d3d->Release();
    return ok;
}

int ThreadCount() {
    DIR* d = opendir("/proc/self/task");
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}

}  // namespace

int main() {
    setenv("LP_NUM_THREADS", "4", 1);  // the software rasteriser's workers
    if (!DrawOnce()) {
        std::fprintf(stderr, "no GL device: the check cannot run\n");
        return 1;
    }
    // The video system and the GL library down: the driver ends its workers
    // (its modules stay loaded, so the checker still names their frames).
    SDL_GL_UnloadLibrary();
    SDL_Quit();
    const int threads = ThreadCount();
    if (threads != 1) {
        std::fprintf(stderr, "%d threads still run where the leak check starts: the check needs the driver's gone\n",
                     threads);
        return 1;
    }
    LeakABlock();
    return 0;
}
