#include "app/engine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/app_window.h"
#include "app/console.h"
#include "app/engine_input.h"
#include "app/post_effects.h"
#include "app/scene_switch.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/package.h"
#include "media/text/game_font.h"
#include "media/text/game_text.h"
#include "media/resource_manager.h"
#include "media/sound/sound_device.h"
#include "media/sound/stream_channel.h"
#include "media/video/video_player.h"
#include "platform/sound/sound_system.h"
#include "platform/system.h"
#include "platform/window.h"
#include "render/camera.h"
#include "render/display_mode.h"
#include "scene/cube_faces.h"
#include "scene/game_scene.h"
#include "scene/game_video.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"
#include "render/d3d_render_device.h"
#include "script/lua_host.h"
#include "script/object_model.h"
#include "script/script_cache.h"
#include "script/script_var.h"
#include "script/script_watch.h"

namespace {

// Two globals hold the engine: the one GetEngine hands out, and the one
// the rest of the program reads; shut-down clears both.
Engine* g_engine = nullptr;
Engine* g_engine_instance = nullptr;

char g_build_mode[32] = "final";
const char* g_command_line = "";

// The console font is the font named "console" in the fonts list.
GameFont* FindConsoleFont(Engine* e) { return ListFindByName(e->fonts, "console"); }

void GiveConsoleItsRect(Engine* e) {
    if (!g_console) return;
    Rect r(0, 0, e->screenRect.w, e->screenRect.h / 5);
    g_console->SetRect(r, FindConsoleFont(e));
}

}  // namespace

StringPool& StatementStrings() {
    static StringPool* pool = new StringPool();
    return *pool;
}

Engine::Engine() {}

Engine::~Engine() {
    // Statement records, then the engine's own pool and the compiled
    // scripts; objects of the scene classes go back to their pools without
    // running destructors.
    for (StatementRecord* s = statementHead; s;) {
        StatementRecord* next = s->link;
        ObjectPool::DeleteRecord(s);
        s = next;
    }
    statementHead = statementTail = nullptr;
    MemFree(renderList);
    renderList = nullptr;
    renderListCount = renderListCapacity = 0;
    ListDeleteAll(globalHotspots);
    DeleteAllScenes(this);
    ListDeleteAll(fonts);
    ListDeleteAll(videos);
    for (EObject* o = objects.head; o;) {
        EObject* next = ListNext(o);
        EObject::operator delete(o, o->size);
        o = next;
    }
    objects = {};
    NoteListNamesChanged();
    g_compiled_scripts.Clear();
    FreeAllGameTexts(texts);
}

Engine* GetEngine() {
    if (!g_engine) {
        void* block = ObjectPool::Alloc(sizeof(Engine));
        if (!block) return nullptr;
        g_engine = new (block) Engine();
        g_engine_instance = g_engine;
        g_engine->initSucceeded = g_engine->Init();
    }
    return g_engine;
}

Engine* CurrentEngine() { return g_engine_instance; }
void SetCurrentEngine(Engine* e) { g_engine_instance = e; }

const char* BuildMode() { return g_build_mode; }

void SetBuildMode(const char* text) {
    // Longer texts are cut to the buffer.
    std::snprintf(g_build_mode, sizeof g_build_mode, "%s", text ? text : "");
}

const char* CommandLine() { return g_command_line; }
void SetCommandLine(const char* text) { g_command_line = text ? text : ""; }

float FrameDeltaMs(int32_t refresh_rate) { return 1000.0f / static_cast<float>(refresh_rate > 0 ? refresh_rate : 60); }

bool Engine::Init() {
    g_compiled_scripts.Clear();
    LoadScriptCache();
    window = new AppWindow();
    new Console();
    CreateLogFile();
    LogPrintf("[INIT]");
    CreateScriptState();
    RegisterAllClassProperties();
    int status = RunScript("main");
    if (status == 0 && initErrorCode == kInitOk && !quit) {
        ReloadAllScriptVars();
        GiveConsoleItsRect(this);
        sceneInputEnabled = true;
        hotspotEventsEnabled = true;
        return true;
    }
    return false;
}

namespace {

const char* kSpeakerNames[] = {"directout", "headphone", "mono", "quad", "stereo", "surround", "5point1", "7point1"};

// Tests make one display-initialisation step fail by naming it in
// QUILD_FAIL_INIT (window, rendertarget, dissolve, postfx, sound, listener).
bool Injected(const char* step) {
    const char* v = std::getenv("QUILD_FAIL_INIT");
    return v && std::strcmp(v, step) == 0;
}

bool Fail(Engine* e, const char* line, int32_t code, const char* text) {
    LogPrintf("%s", line);
    e->initErrorCode = code;
    e->initErrorText = text;
    return false;
}

void LogSpeakers(uint32_t config) {
    uint32_t kind = config & 0xFF;
    if (kind < 8) LogPrintf("[SPEAKERS] : %s", kSpeakerNames[kind]);
    else LogPrintf("[SPEAKERS] : %x", kind);
    switch ((config >> 16) & 0xFF) {
        case 5: LogPrintf("[SPEAKER GEOMETRY MIN]"); break;
        case 10: LogPrintf("[SPEAKER GEOMETRY NARROW]"); break;
        case 20: LogPrintf("[SPEAKER GEOMETRY WIDE]"); break;
        case 180: LogPrintf("[SPEAKER GEOMETRY MAX]"); break;
        default: LogPrintf("[NO KNOWN SPEAKER GEOMETRY!]"); break;
    }
}

}  // namespace

bool DisplayInit(bool reset) {
    Engine* e = CurrentEngine();
    if (!e) return false;
    e->initErrorCode = kInitOk;
    e->initErrorText = nullptr;
    if (!e->displayInitialised) reset = false;
    RenderDevice* device = g_renderDevice;

    if (reset && device) {
        device->ReleaseTexture(e->renderTarget);
        device->ReleaseTexture(e->dissolveBuffer);
        device->ReleaseTexture(e->postFxBuffer);
        e->renderTarget = e->dissolveBuffer = e->postFxBuffer = nullptr;
        Resources().UnloadByType(kResourceImage | kResourceMesh);
        ReleaseVideoOutput();
    }

    e->screenRect.Set(0, 0, g_requestedDisplayMode.width, g_requestedDisplayMode.height);
    e->virtualRect.Set(0, 0, 1024, 768);

    if (!reset) {
        plat::MemoryStatus m = plat::GetMemoryStatus();
        LogPrintf("[MEMORY] %d/%d\n", static_cast<int>(m.available_physical >> 10),
                  static_cast<int>(m.total_physical >> 10));
        g_resource_budget = ResourceBudgetForPhysicalMemory(m.total_physical);
        LogPrintf("[DIRECT3D9 %s] %dx%dx%d\n", g_requestedDisplayMode.fullScreen ? "FULL SCREEN" : "WINDOWED",
                  g_requestedDisplayMode.width, g_requestedDisplayMode.height, g_requestedDisplayMode.bitsPerPixel);
        if (Injected("window") || !e->window->Create()) return Fail(e, "[FAILED] - DIRECT3D9 CREATE", kInitWindow, "Error initializing Direct3D Window.");
        device = g_renderDevice;
        if (!device) return Fail(e, "[FAILED] - DIRECT3D9 CREATE", kInitWindow, "Error initializing Direct3D Window.");
        char info[1024] = {};
        device->GetAdapterInfo(info, sizeof info);
        LogPrintf("%s", info);
    } else {
        if (!e->window->Reset()) return Fail(e, "[FAILED] - DIRECT3D9 RESET", kInitWindow, "Error reseting Direct3D Window!");
        device = g_renderDevice;
        LogPrintf("[DIRECT3D9 - RESET %s] %dx%dx%d\n", g_requestedDisplayMode.fullScreen ? "FULL SCREEN" : "WINDOWED",
                  g_requestedDisplayMode.width, g_requestedDisplayMode.height,
                  static_cast<D3DRenderDevice*>(device)->bitsPerPixel);
    }

    e->window->SetFrameLimit(0);
    e->shadersSupported = true;
    e->shadersOn = g_display_useshaders.Get();
    auto* d3d = static_cast<D3DRenderDevice*>(device);
    uint32_t vs = d3d->vertexShaderVersion, ps = d3d->pixelShaderVersion;
    if (vs < 0x200) {
        LogPrintf("[VERTEX SHADER 2.0] - NOT SUPPORTED[%d.%d]", vs >> 8, vs & 0xFF);
        e->shadersSupported = e->shadersOn = false;
    }
    if (ps < 0x200) {
        LogPrintf("[PIXEL SHADER 2.0] - NOT SUPPORTED[%d.%d]", ps >> 8, ps & 0xFF);
        e->shadersSupported = e->shadersOn = false;
    }
    if (const char* warnings = e->window->GetDeviceWarnings()) LogPrintf("[D3D WARNINGS]\r\n%s", warnings);

    int w = e->screenRect.w, h = e->screenRect.h;
    LogPrintf("[CREATING RENDERTAGRET]");
    e->renderTarget = Injected("rendertarget") ? nullptr : device->CreateTexture(w, h, 9, nullptr, 0);
    if (!e->renderTarget) return Fail(e, "[FAILED] - CREATING RENDERTAGRET", kInitRenderTarget, "Failed to create the rendertarget surface!");
    LogPrintf("[CREATING DISSOLVEBUFFER]");
    e->dissolveBuffer = Injected("dissolve") ? nullptr : device->CreateTexture(w, h, 9, nullptr, 0);
    if (!e->dissolveBuffer) return Fail(e, "[FAILED] - CREATING DISSOLVEBUFFER", kInitBuffer, "Failed to create the dissolve buffer!");
    LogPrintf("[CREATING POSTFXBUFFER]");
    e->postFxBuffer = Injected("postfx") ? nullptr : device->CreateTexture(w, h, 9, nullptr, 0);
    if (!e->postFxBuffer) return Fail(e, "[FAILED] - CREATING POSTFXBUFFER", kInitBuffer, "Failed to create the posfx buffer!");
    // The video's surface output stretches into the screen-sized target.
    SetVideoScreenTarget(e->renderTarget, e->screenRect);

    if (!reset) {
        LogPrintf("[DIRECTSOUND8]");
        if (Injected("sound") || g_sound_device.Create(plat::NativeWindowHandle(g_windowHandle), plat::kSoundLevelPriority, 2, 44100, 16) < 0)
            return Fail(e, "[FAILED] - DIRECTSOUND8 CREATE", kInitSound, "Error initializing DirectSound!");
        if (const char* why = g_sound_device.System()->SilentReason())
            LogPrintf("[WARNING] - no sound device (%s): the game plays without sound", why);
        if (Injected("listener") || g_sound_device.CreateListener() < 0)
            return Fail(e, "[FAILED] - DIRECTSOUND8 Get3DListenerInterface", kInitListener, "Can't get 3D Listener Interface!");
        uint32_t speakers = 0;
        g_sound_device.System()->GetSpeakerConfig(&speakers);
        LogSpeakers(speakers);
    }

    delete e->defaultCamera;
    e->defaultCamera = new Camera();
    e->activeCamera = e->defaultCamera;

    InstallEngineInputCallbacks();
    device->EnableDepth(false);
    device->SetTextureFilter(2, 0, 0);
    device->SetTextureFilter(2, 1, 0);

    if (!reset) {
        LogPrintf("[INIT] - GAME");
    } else {
        e->rerunningMain = true;
        int status = RunScript("main");
        e->rerunningMain = false;
        if (status != 0) return false;
    }
    GiveConsoleItsRect(e);
    // Device textures were unloaded: the current scene's face masks again.
    if (GameScene* scene = e->currentScene; reset && scene && scene->cubeMasks && scene->cubeFaces)
        scene->cubeFaces->ApplyMask(scene->cubeMasks, 0);
    e->displayInitialised = true;
    e->initErrorCode = kInitOk;
    e->initErrorText = nullptr;
    return true;
}

void Engine::Shutdown() {
    inFrame = false;
    // A termination request met here is the one being answered: the
    // shut-down's scripts run unhindered, a further request stops them only
    // when they still run after the grace.
    BeginScriptShutDown();
    ScriptCall("OnGameQuit(%d)", 0);
    closing = true;
    LogPrintf("[EXITING] : Releasing Sound Objects");
    StopAllStreamChannels();
    LogPrintf("[EXITING] : Releasign RenderTagrets");
    if (RenderDevice* device = g_renderDevice) {
        device->ReleaseTexture(renderTarget);
        device->ReleaseTexture(dissolveBuffer);
        device->ReleaseTexture(postFxBuffer);
        FreeHotspotPreview();
    }
    renderTarget = dissolveBuffer = postFxBuffer = nullptr;
    ResetPostEffects();  // its shader and colour-map pointers go with the device
    LogPrintf("[EXITING] : Closing Script");
    ScriptShutdown();
    LogPrintf("[EXITING] : Releasing Resources");
    Resources().Clear();
    LogPrintf("[EXITING] : Releasing Video Streaming Objects");
    ReleaseVideoOutput();
    SetVideoScreenTarget(nullptr, Rect());
    LogPrintf("[EXITING] : Deleting Application Object");
    delete defaultCamera;
    defaultCamera = activeCamera = nullptr;
    g_sound_device.Release();
    if (window) {
        window->Destroy();
        delete window;
        window = nullptr;
    }
    LogPrintf("[EXITING] : Deleting extra buffers");
    FreeSceneBuffers();
    LogPrintf("[EXITING] : Releasing package entries");
    FreeAllPackages();
    LogPrintf("[EXITING] : Unregistering all game objects");
    FreeAllPropertyLists();
    LogPrintf("[EXITING] : Deleting Console");
    delete g_console;
    LogPrintf("[EXITING] : Deleting Instance");
    Engine* self = this;
    self->~Engine();
    ObjectPool::Free(self, sizeof(Engine));
    g_engine = nullptr;
    g_engine_instance = nullptr;
    LogPrintf("[EXITING] : Releasing All Heap Memory");
    StatementStrings().Clear();
    ObjectPool::ReleaseAll();
    LogPrintf("[QUIT]");
}
