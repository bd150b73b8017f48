#include "app/scene_switch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "app/post_effects.h"
#include "base/memory_writer.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/string_pool.h"
#include "media/image/draw2d.h"
#include "media/resource_manager.h"
#include "media/sound/sound.h"
#include "media/text/game_text.h"
#include "media/image/texture.h"
#include "render/camera.h"
#include "render/d3d_render_device.h"
#include "render/geometry.h"
#include "render/render_device.h"
#include "scene/cube_faces.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"
#include "scene/scene_page.h"
#include "scene/sound_glide.h"
#include "script/engine_work.h"
#include "script/lua_host.h"
#include "script/script_cache.h"
#include "script/script_var.h"
#include "scriptapi/scene_constructors.h"

float g_walkOffset[3] = {};
float g_lookYaw = 0;
float g_lookPitch = 0;

namespace {

uint8_t* g_depth_buffer = nullptr;

// The post-effect chain samples a 2-D scene's part of the render target.
[[maybe_unused]] const bool g_view_type_hook = [] {
    GetPostEffects().sceneViewType = [](const GameScene* scene) { return scene ? scene->viewtype : 0; };
    return true;
}();
RenderListBuilder g_render_list_builder = nullptr;
SceneRenderer g_scene_renderer = nullptr;

constexpr char kClearSceneHandlers[] =
    "OnSceneEnter=nil;OnSceneLeave=nil;OnSceneInit=nil;OnSceneExit=nil;OnSceneKeyUp=nil;OnSceneKeyDown=nil;"
    "OnSceneMouseUp=nil;OnSceneMouseDown=nil;OnSceneMouseMove=nil;OnSceneUpdate=nil;OnSceneRender=nil";

// Scene handler bits of the globals the scene's script defines.
struct HandlerBit {
    const char* name;
    uint32_t bit;
};
constexpr HandlerBit kSceneHandlerBits[] = {
    {"OnSceneKeyUp", 0x02},     {"OnSceneKeyDown", 0x01}, {"OnSceneMouseDown", 0x08}, {"OnSceneMouseUp", 0x10},
    {"OnSceneMouseMove", 0x04}, {"OnSceneUpdate", 0x40},  {"OnSceneRender", 0x80},
};

int32_t RefreshRate() {
    auto* device = static_cast<D3DRenderDevice*>(g_renderDevice);
    return device ? device->refreshRate : 0;
}

// Runs "<DIR_STAGES>/<scene>/script" with the scene as the running one.
int RunSceneScript(Engine* e, GameScene* scene, const char* file) {
    char path[1024];
    SceneFilePath(path, sizeof path, scene->name, file);
    e->runningScriptScene = scene->name;
    int status = RunScript(path);
    return status;
}

void StatementTransitionDone(Engine* e) {
    if (!e->transitionByStatement) return;
    e->statementReady = true;
    e->transitionByStatement = false;
}

// Where the dissolve's picture lies in the dissolve buffer.
void DrawDissolve(Engine* e, int32_t alpha) {
    RenderDevice* device = g_renderDevice;
    if (!device || !e->dissolveBuffer) return;
    device->SetTexture(0, e->dissolveBuffer);
    device->SetRenderMode(kModeTexturedQuad, (static_cast<uint32_t>(255 - alpha) << 24) | 0xFFFFFFu);
    float u0 = 0, v0 = 0, u1 = e->captureScaleU, v1 = e->captureScaleV;
    if (e->dissolveZoom) {
        const float k = static_cast<float>(alpha) / 2048.0f;
        u0 = v0 = k;
        u1 = e->captureScaleU * (1.0f - k);
        v1 = e->captureScaleV * (1.0f - k);
    }
    DrawTexturedRect(e->screenRect, u0, v0, u1, v1);
}

// The default scene drawing: the current page of a 2-D scene, the cube
// faces of a panoramic one seen from the look angles, else a plain fill.
void DefaultSceneRenderer(Engine* e) {
    RenderDevice* device = g_renderDevice;
    GameScene* s = e->currentScene;
    if (!device || !s) return;
    if (s->viewtype == 1) {
        device->Clear(0);
        if (e->activeCamera != e->defaultCamera && e->defaultCamera) e->activeCamera = e->defaultCamera;
        if (s->currentPage) s->currentPage->Render();
        AdvancePageTurn(e);
        return;
    }
    if (s->viewtype != 2 || !s->cubeFaces) {
        device->Clear(0xFF208020);
        return;
    }
    device->Clear(0);
    Camera* cam = e->defaultCamera;
    if (!cam) return;
    e->activeCamera = cam;
    cam->eye = {g_walkOffset[0], g_walkOffset[1], g_walkOffset[2]};
    plat::Vec3 dir;
    AnglesToDirection(&dir, g_lookYaw, g_lookPitch);
    cam->LookAt(cam->eye, dir);
    cam->SetViewport(0, 0, static_cast<uint32_t>(e->screenRect.w), static_cast<uint32_t>(e->screenRect.h));
    cam->SetPerspective(g_display_fov.value, g_display_aspect.value, 1.0f, 10000.0f);
    // The frustum again, now from this projection.
    cam->dirty = true;
    cam->UpdateView();
    CullCubeFaces();
    s->cubeFaces->DrawFaces(0);
}

}  // namespace

uint8_t* DepthBuffer() {
    if (!g_depth_buffer) g_depth_buffer = static_cast<uint8_t*>(MemAlloc(kDepthBufferBytes));
    return g_depth_buffer;
}

size_t ReadDepthBuffer(Stream& stream, uint8_t* out) {
    size_t got = stream.Read(out, static_cast<uint32_t>(kDepthBufferBytes));
    if (got > kDepthBufferBytes) got = kDepthBufferBytes;
    std::memset(out + got, 0xFF, kDepthBufferBytes - got);
    return got;
}

void FreeSceneBuffers() {
    MemFree(g_depth_buffer);
    g_depth_buffer = nullptr;
    FreeHotspotMap();
}

float SceneFrameMs() { return FrameDeltaMs(RefreshRate()); }

int32_t TransitionAlpha(int64_t elapsed, int64_t duration) {
    if (duration <= 0) return 255;
    int64_t t = std::clamp<int64_t>(elapsed, 0, duration);
    return static_cast<int32_t>(std::clamp<int64_t>(t * 255 / duration, 0, 255));
}

const char* InternSceneName(const char* name) {
    if (!name || !*name) return nullptr;
    size_t n = std::strlen(name);
    if (n > 255) {
        LogPrintf("[ERROR] - scene name of %zu characters refused (at most 255)", n);
        return nullptr;
    }
    char lower[256];
    for (size_t i = 0; i < n; ++i) {
        char c = name[i];
        lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    lower[n] = 0;
    return CommonStrings().InternBytes(lower, n);
}

void SceneFilePath(char* out, size_t size, const char* scene, const char* file) {
    std::snprintf(out, size, "%s/%s/%s", g_dir_stages.Get().c_str(), scene ? scene : "", file);
}

void SetRenderListBuilder(RenderListBuilder fn) { g_render_list_builder = fn; }

void RebuildRenderList(Engine* e) {
    if (g_render_list_builder) g_render_list_builder(e);
}

void SetSceneRenderer(SceneRenderer fn) { g_scene_renderer = fn; }

namespace {

// Node switches, scene loads and scene drawing in progress: they hold
// scene pointers across the script callbacks they run.
int g_scene_change_depth = 0;

// A scene change holds its scenes while it calls handlers: what they free
// is released when it ends.
struct SceneChangeGuard {
    EngineWork work;
    SceneChangeGuard() { ++g_scene_change_depth; }
    ~SceneChangeGuard() { --g_scene_change_depth; }
    SceneChangeGuard(const SceneChangeGuard&) = delete;
    SceneChangeGuard& operator=(const SceneChangeGuard&) = delete;
};

}  // namespace

bool SceneChangeRunning() { return g_scene_change_depth > 0; }

namespace {

bool g_scene_drawn_offscreen = false;

// A camera's view as the scene's drawing sets it up.
struct CameraView {
    Camera* camera;
    plat::Matrix orientation, view, projection;
    plat::Vec3 eye, lookAt;
    float znear, zfar, fov, aspect;
    bool dirty, ortho;
    plat::Viewport viewport;
    plat::Plane frustum[6];

    explicit CameraView(Camera* c) : camera(c) {
        if (!c) return;
        orientation = c->orientation, view = c->view, projection = c->projection;
        eye = c->eye, lookAt = c->lookAt;
        znear = c->znear, zfar = c->zfar, fov = c->fov, aspect = c->aspect;
        dirty = c->dirty, ortho = c->ortho;
        viewport = c->viewport;
        std::copy(std::begin(c->frustum), std::end(c->frustum), frustum);
    }
    void Restore() const {
        Camera* c = camera;
        if (!c) return;
        c->orientation = orientation, c->view = view, c->projection = projection;
        c->eye = eye, c->lookAt = lookAt;
        c->znear = znear, c->zfar = zfar, c->fov = fov, c->aspect = aspect;
        c->dirty = dirty, c->ortho = ortho;
        c->viewport = viewport;
        std::copy(std::begin(frustum), std::end(frustum), c->frustum);
    }
};

// What drawing a scene leaves in the engine for the frame's scripts, the
// next frame's input and the listener: the warm-up puts it back.
struct SceneDrawState {
    Engine* e;
    GameScene* scene;
    Camera* active;
    CameraView defaultView, sceneView;
    float pointerYaw, pointerPitch;
    uint8_t facesVisible[kCubeFaceCount];
    bool listenerFollowsView, depthClearRequest;
    RenderViewport viewport{};

    explicit SceneDrawState(Engine* engine)
        : e(engine), scene(engine->currentScene), active(engine->activeCamera), defaultView(engine->defaultCamera),
          sceneView(scene->camera), pointerYaw(g_pointerYaw), pointerPitch(g_pointerPitch),
          listenerFollowsView(scene->listenerFollowsView), depthClearRequest(engine->depthClearRequest) {
        std::copy(std::begin(g_cubeFaceVisible), std::end(g_cubeFaceVisible), facesVisible);
        if (g_renderDevice) g_renderDevice->GetViewport(&viewport);
    }
    ~SceneDrawState() {
        e->activeCamera = active;
        defaultView.Restore();
        sceneView.Restore();
        g_pointerYaw = pointerYaw, g_pointerPitch = pointerPitch;
        std::copy(std::begin(facesVisible), std::end(facesVisible), g_cubeFaceVisible);
        scene->listenerFollowsView = listenerFollowsView;
        e->depthClearRequest = depthClearRequest;
        if (g_renderDevice) g_renderDevice->SetViewport(viewport);
    }
    SceneDrawState(const SceneDrawState&) = delete;
    SceneDrawState& operator=(const SceneDrawState&) = delete;
};

// The new scene drawn once into the off-screen render target before its
// first frame is shown: the first draw of each combination of program,
// blend, vertex layout and texture format makes the GL driver build code
// for it (tens of milliseconds each on a software renderer with a cold
// shader cache), so that work is done here, behind the load, rather than
// in the first frame the player sees. The draw is a rehearsal: no drawing
// callback runs, no object moves on, and what the drawing sets in the
// engine (cameras, pointer direction, face culling, the listener flag) is
// put back, so the game goes on as if it had not happened. A frozen
// picture lives in the render target: left alone then.
void DrawNewSceneOffscreen(Engine* e) {
    RenderDevice* device = g_renderDevice;
    if (!device || !e->renderTarget || !e->currentScene || e->freezeState != 0) return;
    SceneDrawState kept(e);
    if (device->BeginRenderTarget(e->renderTarget) != 1) return;
    g_scene_drawn_offscreen = true;
    RenderCurrentScene(e);
    g_scene_drawn_offscreen = false;
    device->EndRenderTarget();
}

}  // namespace

bool SceneWarmUpDraw() { return g_scene_drawn_offscreen; }

void RenderCurrentScene(Engine* e) {
    if (!e || !e->currentScene) return;
    SceneChangeGuard guard;
    (g_scene_renderer ? g_scene_renderer : DefaultSceneRenderer)(e);
}

// ---------------------------------------------------------------------------
// Requests.

namespace {

// A name that was given but refused (too long) asks for nothing.
bool Refused(const char* name, const char* interned) { return name && *name && !interned; }

// Node switches in progress (with the scripts and handlers they run).
int g_node_switch_depth = 0;

// A request refused because a transition runs: made by a script that a
// node switch runs, it would otherwise vanish without a word. Elsewhere it
// is logged only when a reason is given (a transition of another kind).
void RefusedDuringSwitch(const char* name, const char* other_reason = nullptr) {
    const char* reason = g_node_switch_depth > 0 ? "a node switch is running" : other_reason;
    if (reason) LogPrintf("[WARNING] : switch to %s refused: %s", name && *name ? name : "(none)", reason);
}

}  // namespace

void Engine::RequestSceneSwitch(const char* name, bool run_leave) {
    if (!name || !*name) {
        LogPrintf("[WARNING] : scene switch without a scene name ignored");
        return;
    }
    if (switchPending) {
        RefusedDuringSwitch(name);
        return;
    }
    const char* target = InternSceneName(name);
    if (Refused(name, target)) return;
    targetName = target;
    switchPending = true;
    runLeaveHandlers = run_leave;
}

void Engine::StartWalk(const char* name, float distance, float duration) {
    // A walk ends in a dissolve: one asked for while a dissolve runs (a
    // click as the new node fades in) could not start it, and would stop
    // where it ended with the view pushed forward and its target lost.
    if (walkState || dissolveState) {
        RefusedDuringSwitch(name, walkState ? nullptr : "a dissolve is running");
        return;
    }
    const char* target = InternSceneName(name);
    if (Refused(name, target)) return;
    g_walkOffset[0] = g_walkOffset[1] = g_walkOffset[2] = 0;
    walkState = 1;
    walkTime = 0;
    walkProgress = 0;
    targetName = target;
    walkDistance = distance;
    walkDuration = duration;
    plat::Vec3 d;
    AnglesToDirection(&d, g_lookYaw, g_lookPitch);
    walkDirection[0] = d.x;
    walkDirection[1] = d.y;
    walkDirection[2] = d.z;
}

void Engine::StartDissolve(const char* name, int32_t zoom) {
    if (dissolveState) {
        if (name && *name) RefusedDuringSwitch(name);
        return;
    }
    const char* target = InternSceneName(name);
    if (!target) return;
    targetName = target;
    dissolveState = 1;
    dissolveTime = 0;
    dissolveZoom = zoom;
    runLeaveHandlers = true;
}

void Engine::TurnToPage(int32_t index) {
    if (pageTurn || !currentScene) return;
    GameScene* s = currentScene;
    ScenePage* to = ListAt(s->pages, index);
    s->nextPage = to;
    pageTurnTime = 0;
    int current = s->currentPage ? ListIndexOf(s->pages, s->currentPage) : -1;
    pageTurn = (current >= 0 && current < index) ? 1 : -1;
}

void AdvancePageTurn(Engine* e) {
    if (!e->pageTurn || SceneWarmUpDraw()) return;
    e->pageTurnTime = SaturateToInt(static_cast<double>(e->pageTurnTime) + SceneFrameMs());
    if (static_cast<double>(e->pageTurnTime) <= std::trunc(static_cast<double>(g_page_fx_time.value)) &&
        g_page_fx_time.value > 0)
        return;
    e->pageTurn = 0;
    if (GameScene* s = e->currentScene) {
        s->currentPage = s->nextPage;
        s->nextPage = nullptr;
    }
    StatementTransitionDone(e);
}

void Engine::TransitionStep() {
    EngineWork work;
    const float dt = SceneFrameMs();
    if (walkState == 1) {
        if (!(walkDuration > 0)) {
            // No time to walk: the walk is over before it moves.
            walkState = 0;
            StartDissolve(targetName, 0);
            return;
        }
        walkProgress = walkDistance * walkTime / walkDuration;
        const float bob = std::sin(walkTime * 3.1415925f / 500.0f);
        g_walkOffset[0] = walkDirection[0] * walkProgress;
        g_walkOffset[1] = bob * 5.0f + walkDirection[1] * walkProgress;
        g_walkOffset[2] = walkDirection[2] * walkProgress;
        walkTime += dt;
        if (walkTime >= walkDuration) {
            walkState = 0;
            StartDissolve(targetName, 0);
        }
        return;
    }
    if (dissolveState == 2) {
        NodeSwitch(targetName, runLeaveHandlers);
        dissolveState = 3;
        return;
    }
    if (dissolveState == 3) {
        dissolveTime = SaturateToInt(static_cast<double>(dissolveTime) + dt);
        const int32_t duration = SaturateToInt(g_dissolve_fx_time.Get());
        const int32_t alpha = TransitionAlpha(dissolveTime, duration);
        DrawDissolve(this, alpha);
        if (dissolveTime > duration) {
            postFxLast &= ~kPostMotionBlur;
            dissolveState = 0;
            dissolveZoom = 0;
            StatementTransitionDone(this);
        }
        UpdateSoundGlide(static_cast<float>(alpha) / 255.0f);
        return;
    }
    if (switchPending) {
        NodeSwitch(targetName, runLeaveHandlers);
        switchPending = false;
        StatementTransitionDone(this);
    }
}

bool CaptureDissolve(Engine* e) {
    if (e->dissolveState != 1 || e->freezeState != 0) return false;
    RenderDevice* device = g_renderDevice;
    if (!device) return false;
    if (e->postFxLast & 0x6E) {
        if (device->BeginRenderTarget(e->renderTarget) == 1) {
            RenderCurrentScene(e);
            device->EndRenderTarget();
        }
        ComposePostEffects(e, e->dissolveBuffer);
        e->captureScaleU = e->captureScaleV = 1.0f;
    } else {
        if (device->BeginRenderTarget(e->dissolveBuffer) == 1) {
            RenderCurrentScene(e);
            device->EndRenderTarget();
        }
        PostEffectSamplingScale(e, &e->captureScaleU, &e->captureScaleV);
    }
    e->dissolveState = 2;
    return true;
}

// ---------------------------------------------------------------------------
// The node switch.

void NodeSwitch(const char* name, bool run_leave) {
    Engine* e = CurrentEngine();
    if (!e) return;
    SceneChangeGuard guard;
    ++g_node_switch_depth;
    struct Leave {
        ~Leave() { --g_node_switch_depth; }
    } leave;
    // An interned name is never changed: its lower-case copy is interned.
    name = InternSceneName(name);
    GameScene* old = e->currentScene;
    const char* old_name = old && old->name ? old->name : "";

    // A page turn belongs to the scene it started in: it ends here, and a
    // statement waiting on it goes on unless a transition still runs that
    // releases it at its own end.
    if (e->pageTurn) {
        e->pageTurn = 0;
        e->pageTurnTime = 0;
        if (old) old->nextPage = nullptr;
        if (!e->switchPending && !e->dissolveState && !e->walkState) StatementTransitionDone(e);
    }

    if (run_leave) {
        ScriptCall("OnGameNodeLeave(%s)", name ? name : "");
        ScriptCall("OnGameSceneSwitch()");
        ScriptCall("OnSceneLeave()");
    }
    ScriptCall("OnSceneExit()");

    GameScene* target = nullptr;
    if (name) {
        target = ListFindOrAddGameScene(e->scenes, name);
        if (target) target->AttachToNodeTree();
    }

    PrepareHotspotMap();
    ScriptRun(kClearSceneHandlers);

    // Up the tree from the old scene to the common ancestor.
    int count = 0;
    if (old) {
        GameScene* t = target;
        while (t && t->depth > old->depth) t = t->parent;
        GameScene* n = old;
        // Without a target the walk ends below the nameless root.
        while (n && n != t && n != SceneRootNode()) {
            ScriptRun("OnSceneLeave=nil;OnSceneExit=nil");
            if (n->name && *n->name) {
                RunSceneScript(e, n, "script");
                if (run_leave) ScriptCall("OnSceneLeave()");
                ScriptCall("OnSceneExit()");
            }
            ScriptCall("OnGameNodeExit(%s)", n->name ? n->name : "");
            if (t && t->depth == n->depth) t = t->parent;
            n = n->parent;
        }
        e->runningScriptScene = nullptr;
        if (target) count = n ? target->depth - n->depth - 1 : target->depth - 1;
    } else {
        ScriptCall("OnGameNodeExit(%s)", "");
        if (target) count = target->depth;
    }

    // Down the tree to the target's parent.
    for (int up = count; up >= 1 && target; --up) {
        GameScene* n = target;
        for (int i = 0; i < up && n; ++i) n = n->parent;
        if (!n || !n->name || !*n->name) continue;
        ScriptRun("OnSceneEnter=nil;OnSceneInit=nil");
        RunSceneScript(e, n, "script");
        if (run_leave) ScriptCall("OnSceneInit(%s)", n->name);
        ScriptCall("OnSceneInit()");
        ScriptCall("OnGameNodeInit(%s)", n->name);
    }
    e->runningScriptScene = nullptr;

    g_walkOffset[0] = g_walkOffset[1] = g_walkOffset[2] = 0;
    e->currentScene = target;
    if (target) {
        LoadScene();
        RebuildRenderList(e);
        target->listenerFollowsView = true;
        e->sceneModified = false;
        Resources().Purge();
        ScriptCall("OnSceneBeforeInit(%s)", target->name);
        ScriptCall("OnGameNodeInit(%s)", target->name);
        ScriptCall("OnSceneInit()");
        if (run_leave) {
            ScriptCall("OnGameNodeEnter(%s)", old_name);
            ScriptCall("OnSceneEnter(%s)", old_name);
        }
        ScriptCall("OnGameSceneStart(%s,%s)", target->name, old_name);
        DrawNewSceneOffscreen(e);
    }
    PrepareSoundGlide(e->currentScene, old);
    ScriptCollectGarbage();
}

// ---------------------------------------------------------------------------
// Loading.

namespace {

void LoadCubeScene(Engine* e, GameScene* s) {
    char path[1024];
    SceneFilePath(path, sizeof path, s->name, "hotspots.bin");
    LoadHotspotMapFile(path, s);
    SceneFilePath(path, sizeof path, s->name, "zbuffer.bin");
    if (uint8_t* depth = DepthBuffer()) {
        FileStream f;
        if (f.OpenRead(path)) ReadDepthBuffer(f, depth);
        else std::memset(depth, 0xFF, kDepthBufferBytes);
    }
    RebuildHotspotPreview();

    CubeFaces* faces = s->cubeFaces;
    if (!faces) {
        s->viewtype = 0;
        return;
    }
    ResourceRecord* first = faces->faces[0];
    if (!first) return;
    const bool needs_mask = (first->flags & kResourceLoadTried) == 0;
    Texture* texture = Resources().GetImage(first);
    if (!texture) {
        s->viewtype = 0;
        return;
    }
    BuildCubeGeometry(g_cubeFaceSize);
    if (g_display_fov.Get() <= 0) {
        const double w = texture->width;
        g_display_fov.Set(static_cast<float>(2.0 * std::atan(w / (w - 2.0)) * (180.0 / 3.1415925)));
    }
    if (g_display_aspect.Get() <= 0 && e->screenRect.h > 0)
        g_display_aspect.Set(static_cast<float>(e->screenRect.w) / static_cast<float>(e->screenRect.h));
    if (s->cubeMasks && needs_mask) faces->ApplyMask(s->cubeMasks, 0);
}

}  // namespace

void LoadScene() {
    Engine* e = CurrentEngine();
    if (!e || !e->currentScene) return;
    SceneChangeGuard guard;
    GameScene* s = e->currentScene;
    e->selectedObject = nullptr;
    e->hoveredHotspot = nullptr;
    e->pressedHotspot = nullptr;
    SetSceneBeingLoaded(s);
    e->runningScriptScene = s->name;

    if (!s->dataLoaded) {
        char path[1024];
        SceneFilePath(path, sizeof path, s->name, "data");
        int status = RunScript(path);
        s->dataIncomplete = status > 0;
        if (!s->currentPage) s->currentPage = s->pages.head;
        s->nextPage = nullptr;
        if (status < 0) {
            ScriptCall("cubefaces()");
            // Neither data nor faces: most likely a misspelt node name.
            if (!s->cubeFaces || !s->cubeFaces->faces[0])
                LogPrintf("[WARNING] - SCENE %s : no data (%s.lua) and no faces: the node is empty", s->name, path);
        }
        s->dataLoaded = true;
        ScriptCall("loadscene_initials(%s)", s->name);
    }
    e->sceneModified = false;
    if (s->viewtype != 2) FreeHotspotPreview();
    else LoadCubeScene(e, s);

    HotSpot::ClearEventHandlersOfList(s->hotspots.head, [](HotSpot* h) { return ListNext(h); });

    s->handlerBits = 0;
    ScriptRun(kClearSceneHandlers);
    {
        char path[1024];
        SceneFilePath(path, sizeof path, s->name, "script");
        e->runningScriptScene = s->name;
        RunScript(path);
    }
    s->handlerBits &= ~0x3FFu;
    for (const HandlerBit& b : kSceneHandlerBits)
        if (!ScriptGlobalIsNil(b.name)) s->handlerBits |= b.bit;
    HotSpot::RebuildHandlerBitsOfList(s->hotspots.head, [](HotSpot* h) { return ListNext(h); });
    HotSpot::RebuildHandlerBitsOfList(e->globalHotspots.head, [](HotSpot* h) { return ListNext(h); });

    SetSceneBeingLoaded(nullptr);
    e->runningScriptScene = nullptr;
    s->LoadResources();
}

// ---------------------------------------------------------------------------
// Saving and deleting.

bool Engine::SaveScene(GameScene* scene) {
    if (!scene) return false;
    EngineWork work;
    if (g_current_directory[0] && chdir(g_current_directory) != 0)
        LogPrintf("[WARNING] : can't return to %s", g_current_directory);
    char path[1024];
    SceneFilePath(path, sizeof path, scene->name, "data.lua");
    // Only a scene that holds everything its file says may write over it.
    const char* refusal = scene->dataIncomplete ? "its data.lua stopped at a script error when it was loaded"
                          : !scene->dataLoaded && FileExists(path) ? "its data.lua has not been loaded"
                                                                  : nullptr;
    if (refusal) {
        LogPrintf("[ERROR] - scene %s not saved: %s; %s is left as it is", scene->name ? scene->name : "",
                  refusal, path);
        return false;
    }
    MemoryWriter text;
    scene->Save(&text);
    if (!WriteFileAtomic(path, text.Data(), text.Bytes())) {
        LogPrintf("[ERROR] - can't write %s", path);
        return false;
    }
    if (scene == currentScene) sceneModified = false;
    return true;
}

namespace {

bool Same(const void* a, const EObject* b) { return a == static_cast<const void*>(b); }

// A scene's references into the object, and (for a scene) the links of
// other scenes and of hotspots into it.
void ForgetInScene(GameScene* s, const EObject* object) {
    if (Same(s->cubeFaces, object)) s->cubeFaces = nullptr;
    if (Same(s->cubeMasks, object)) s->cubeMasks = nullptr;
    if (Same(s->currentPage, object)) s->currentPage = nullptr;
    if (Same(s->nextPage, object)) s->nextPage = nullptr;
    if (Same(s->transitionFaces, object)) s->transitionFaces = nullptr;
    if (Same(s->camera, object)) s->camera = nullptr;
    if (Same(s->parent, object)) s->parent = nullptr;
    for (HotSpot* h = s->hotspots.head; h; h = ListNext(h))
        if (Same(h->dest_scene, object)) h->dest_scene = nullptr;
}

}  // namespace

void Engine::ForgetObject(const EObject* object) {
    if (!object) return;
    if (Same(selectedObject, object)) selectedObject = nullptr;
    if (Same(hoveredHotspot, object)) hoveredHotspot = nullptr;
    if (Same(rawPickedHotspot, object)) rawPickedHotspot = nullptr;
    if (Same(pressedHotspot, object)) pressedHotspot = nullptr;
    if (Same(currentFont, object)) currentFont = nullptr;
    if (Same(systemFont, object)) systemFont = nullptr;
    if (Same(currentVideo, object)) currentVideo = nullptr;
    if (Same(activeCamera, object)) activeCamera = defaultCamera;
    if (renderList) {
        // The list stays null-terminated without the object.
        EObject** out = renderList;
        for (EObject** p = renderList; *p; ++p)
            if (*p != object) *out++ = *p;
        *out = nullptr;
    }
    for (GameScene* s = scenes.head; s; s = ListNext(s)) ForgetInScene(s, object);
    ForgetInScene(SceneRootNode(), object);
    for (HotSpot* h = globalHotspots.head; h; h = ListNext(h))
        if (Same(h->dest_scene, object)) h->dest_scene = nullptr;
    if (Same(currentScene, object)) {
        currentScene = nullptr;
        pageTurn = 0;  // the turn goes with its scene
    }
    if (Same(SceneBeingLoaded(), object)) SetSceneBeingLoaded(nullptr);
}

namespace {

void ForgetInEngine(EObject* object) {
    if (Engine* e = CurrentEngine()) e->ForgetObject(object);
}

}  // namespace

void FreeSceneObject(EObject* object) {
    if (!object) return;
    ForgetInEngine(object);
    if (object->descriptor == &HotSpot::s_descriptor) {
        // Parent and child links of the hotspots beside it.
        auto* h = static_cast<HotSpot*>(object);
        if (h->owner) ForgetHotspotLinks(*h->owner, h);
    }
    const bool text = object->descriptor == &GameText::s_descriptor;
    // The handle leaves the live registry at once, whenever the memory goes.
    DeleteObjectWhenFree(object);
    if (text) ForgetFreedHotspotTexts();
}

void Engine::DeleteObject(EObject* object) {
    sceneModified = true;
    selectedObject = nullptr;
    GameScene* s = currentScene;
    if (!object || !s) return;
    // A point object's sound stops first.
    const SceneKindOps* points = GetSceneKindOps(kSceneKindPoints);
    for (EObject* o = SceneKindFirst(*s, kSceneKindPoints); o && points && points->sound; o = SceneListNext(o)) {
        if (o != object) continue;
        ResourceRecord* record = nullptr;
        plat::Vec3 position, direction;
        if (points->sound(o, &record, &position, &direction) && record && record->type == kResourceSound &&
            record->object)
            static_cast<Sound*>(record->object)->Stop();
        break;
    }
    ForgetObject(object);
    if (s->UnlinkObject(object)) FreeSceneObject(object);
}

void DestroySceneObjects(GameScene* scene) {
    if (!scene) return;
    scene->FreeObjects(ForgetInEngine);
    FreeSceneObject(scene);
}

void ClearSceneObjects(GameScene* scene) {
    if (scene) scene->FreeObjects(ForgetInEngine);
}

void DestroyScene(ObjectList<GameScene>& list, GameScene* scene) {
    if (!scene) return;
    ListRemove(list, scene);
    DestroySceneObjects(scene);
}

void DeleteAllScenes(Engine* e) {
    // The list is let go first: every scene in it goes, so none needs its
    // links into the others cleared.
    GameScene* s = e->scenes.head;
    e->scenes = {};
    NoteListNamesChanged();
    while (s) {
        GameScene* next = ListNext(s);
        s->list_next = nullptr;
        DestroySceneObjects(s);
        s = next;
    }
}

// ---------------------------------------------------------------------------
// List helpers.

GameScene* ListFindGameSceneByName(const ObjectList<GameScene>& list, const char* name) {
    return ListFindByName(list, name);
}

GameScene* ListAppendNewGameScene(ObjectList<GameScene>& list) { return ListAppendNew(list); }

GameScene* ListFindOrAddGameScene(ObjectList<GameScene>& list, const char* name) {
    return ListFindOrAdd(list, name);
}

void ChainRemove(SceneObjectChain& chain, SceneObjectRecord* record) {
    if (!record) return;
    SceneObjectRecord* prev = nullptr;
    for (SceneObjectRecord* r = chain.head; r; prev = r, r = r->link) {
        if (r != record) continue;
        if (prev) prev->link = r->link;
        else chain.head = r->link;
        if (chain.tail == r) chain.tail = prev;
        r->link = nullptr;
        return;
    }
}

void FreeSceneObjectChain(SceneObjectChain& chain) {
    for (SceneObjectRecord* r = chain.head; r;) {
        SceneObjectRecord* next = r->link;
        ObjectPool::DeleteRecord(r);
        r = next;
    }
    chain = {};
}

void CollectSceneObjects(GameScene* scene, SceneObjectChain& chain) {
    FreeSceneObjectChain(chain);
    if (!scene) return;
    for (int k = 0; k < kSceneListCount; ++k) {
        for (EObject* o = SceneListFirst(*scene, static_cast<SceneList>(k)); o; o = SceneListNext(o)) {
            auto* r = static_cast<SceneObjectRecord*>(ObjectPool::NewRecord(sizeof(SceneObjectRecord)));
            if (!r) return;
            r->handle = o->Handle();
            if (chain.tail) chain.tail->link = r;
            else chain.head = r;
            chain.tail = r;
        }
    }
}
