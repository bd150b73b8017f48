#pragma once
// The system's GL driver modules (the EGL/GLX vendor libraries, the DRI
// driver and what it loads) stay loaded once a GL window or context has
// brought them in. Tearing down EGL otherwise unloads the driver while its
// globals still point at memory it allocated: the leak checker then sees
// that memory as leaked and cannot name the frames that allocated it, so no
// suppression can match. Keeping them is harmless: the process would load
// them again for its next window anyway.
#include <string>
#include <vector>

namespace plat::gpu {

// Full paths of the loaded modules that belong to the GL driver stack.
std::vector<std::string> LoadedGLDriverModules();

// Marks every loaded GL driver module as never to be unloaded. Called after
// each GL window and context is created; cheap when nothing new is loaded.
void KeepGLDriverModulesLoaded();

}  // namespace plat::gpu
