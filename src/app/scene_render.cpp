#include "app/scene_render.h"

#include <cmath>
#include <cstring>

#include "app/app_window.h"
#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/log.h"
#include "base/memory.h"
#include "media/text/game_font.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/camera.h"
#include "render/d3d_render_device.h"
#include "render/geometry.h"
#include "render/render_device.h"
#include "render/shader_program.h"
#include "scene/cube_faces.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"
#include "scene/scene_page.h"
#include "script/engine_work.h"
#include "script/lua_host.h"
#include "script/script_var.h"

namespace {

MeshCameraDrawer g_mesh_camera_drawer = nullptr;

// The scene lists in drawing-default order, with their default orders.
struct ListDefault {
    EObject* (*first)(const GameScene& scene);
    int32_t order;
};

EObject* FirstCubeFaces(const GameScene& s) { return SceneListFirst(s, kSceneListCubeFaces); }
EObject* FirstPage(const GameScene& s) { return SceneListFirst(s, kSceneListPages); }
EObject* FirstHotspot(const GameScene& s) { return SceneListFirst(s, kSceneListHotspots); }
EObject* FirstPoint(const GameScene& s) { return SceneListFirst(s, kSceneListPoints); }
EObject* FirstFx(const GameScene& s) { return SceneListFirst(s, kSceneListFx); }
EObject* FirstPatch(const GameScene& s) { return SceneListFirst(s, kSceneListPatches); }
EObject* FirstMesh(const GameScene& s) { return SceneListFirst(s, kSceneListMeshes); }
EObject* FirstSurface(const GameScene& s) { return SceneListFirst(s, kSceneListSurfaces); }

constexpr ListDefault kListDefaults[] = {
    {FirstCubeFaces, kOrderCubeFaces}, {FirstPage, kOrderPages},       {FirstHotspot, kOrderHotspots},
    {FirstPoint, kOrderPoints},        {FirstFx, kOrderFx},            {FirstPatch, kOrderPatches},
    {FirstMesh, kOrderMeshes},         {FirstSurface, kOrderSurfaces},
};

// Room for count objects and the terminator; false when memory runs out.
bool ReserveRenderList(Engine* e, uint32_t count) {
    if (e->renderList && count + 1 <= e->renderListCapacity) return true;
    uint32_t capacity = e->renderListCapacity ? e->renderListCapacity : 64;
    while (capacity < count + 1) capacity *= 2;
    auto* list = static_cast<EObject**>(MemAlloc(sizeof(EObject*) * capacity));
    if (!list) return false;
    MemFree(e->renderList);
    e->renderList = list;
    e->renderListCapacity = capacity;
    return true;
}

float FrameMs() {
    auto* device = static_cast<D3DRenderDevice*>(g_renderDevice);
    return FrameDeltaMs(device ? device->refreshRate : 0);
}

// The ambient colour as scripts see it: hexadecimal text.
struct AmbientText {
    char text[16];
    explicit AmbientText(uint32_t colour) { std::snprintf(text, sizeof text, "%x", colour); }
};

// The default camera set up for a panoramic node: at the walk offset,
// looking along the look angles, over the whole screen.
void AimDefaultCamera(Engine* e) {
    Camera* cam = e->defaultCamera;
    if (!cam) return;
    plat::Vec3 eye{g_walkOffset[0], g_walkOffset[1], g_walkOffset[2]};
    plat::Vec3 dir;
    AnglesToDirection(&dir, g_lookYaw, g_lookPitch);
    cam->LookAt(eye, dir);
    cam->SetViewport(0, 0, uint32_t(e->screenRect.w > 0 ? e->screenRect.w : 1),
                     uint32_t(e->screenRect.h > 0 ? e->screenRect.h : 1));
    cam->SetPerspective(g_display_fov.value, g_display_aspect.value, 1.0f, 10000.0f);
    cam->dirty = true;
    cam->UpdateView();
}

void UpdatePointerDirection(Engine* e) {
    const Camera* cam = e->activeCamera;
    if (!cam) return;
    const int x = SaturateToInt(g_mouseX), y = SaturateToInt(g_mouseY);
    plat::Vec3 near_point, far_point;
    cam->Unproject(&near_point, x, y, 0.0f);
    cam->Unproject(&far_point, x, y, 1.0f);
    RayToPointerAngles(near_point, far_point, &g_pointerYaw, &g_pointerPitch);
}

void DrawPage2D(Engine* e, GameScene* scene) {
    e->activeCamera = e->defaultCamera;
    if (scene->camera) {
        e->activeCamera = scene->camera;
        scene->camera->Apply();
        // A first page whose image carries flag 0x10 is drawn first, at its
        // own size and with that flag off during the draw.
        ScenePage* first = scene->pages.head;
        Texture* t = first ? Resources().GetImage(first->image) : nullptr;
        if (t && (t->flags & 0x10)) {
            t->flags &= ~0x10u;
            t->DrawAt(0, 0, e->ambientColor, 0);
            t->flags |= 0x10u;
        }
    }
    if (!SceneWarmUpDraw()) ScriptCall("On2DSceneUpdate(%f)", double(FrameMs()));
    for (EObject** p = e->renderList; p && *p; ++p) (*p)->Render();
    AdvancePageTurn(e);
    scene->listenerFollowsView = false;
}

void DrawCube(Engine* e, GameScene* scene) {
    e->activeCamera = e->defaultCamera;
    AimDefaultCamera(e);
    UpdatePointerDirection(e);
    if (!SceneWarmUpDraw()) ScriptCall("On3DSceneUpdate(%f)", double(FrameMs()));
    CullCubeFaces();
    if (scene->cubeFaces) {
        const bool first = e->renderList && e->renderList[0] == scene->cubeFaces;
        scene->cubeFaces->DrawFaces(first ? 0 : 1);
    }
    for (EObject** p = e->renderList; p && *p; ++p) (*p)->Render();
}

void FrameSceneRenderer(Engine* e) { RenderScene(e->currentScene); }
void FrameListBuilder(Engine* e) { e->BuildRenderList(); }
void HotspotMapView() {
    if (Engine* e = CurrentEngine()) e->DrawHotspotDebug();
}

[[maybe_unused]] const bool g_installed = [] {
    InstallSceneRenderer();
    return true;
}();

// Exact-name search of an object list.
template <class T>
EObject* FindExact(const ObjectList<T>& list, const char* name) {
    for (T* o = list.head; o; o = ListNext(o))
        if (o->name && std::strcmp(o->name, name) == 0) return o;
    return nullptr;
}

EObject* FindExactFrom(EObject* first, const char* name) {
    for (EObject* o = first; o; o = SceneListNext(o))
        if (o->name && std::strcmp(o->name, name) == 0) return o;
    return nullptr;
}

}  // namespace

void InstallSceneRenderer() {
    SetSceneRenderer(FrameSceneRenderer);
    SetRenderListBuilder(FrameListBuilder);
    g_drawHotspotMapView = HotspotMapView;
}

void SetMeshCameraDrawer(MeshCameraDrawer fn) { g_mesh_camera_drawer = fn; }

void SortRenderList(EObject** list, uint32_t count) {
    for (uint32_t i = 0; i + 1 < count; ++i)
        for (uint32_t j = i + 1; j < count; ++j)
            if (list[i]->order > list[j]->order) {
                EObject* t = list[i];
                list[i] = list[j];
                list[j] = t;
            }
}

uint32_t Engine::BuildRenderList() {
    GameScene* s = currentScene;
    uint32_t count = 0;
    if (s)
        for (const ListDefault& d : kListDefaults)
            for (EObject* o = d.first(*s); o; o = SceneListNext(o)) ++count;
    if (!ReserveRenderList(this, count)) {
        // Without room the list is left empty rather than cut short.
        LogPrintf("[ERROR] - render list of %u objects: out of memory", count);
        if (renderList) renderList[0] = nullptr;
        renderListCount = 0;
        return 0;
    }
    uint32_t n = 0;
    if (s)
        for (const ListDefault& d : kListDefaults)
            for (EObject* o = d.first(*s); o; o = SceneListNext(o)) {
                if (o->order == 0) o->order = d.order;
                renderList[n++] = o;
            }
    renderList[n] = nullptr;
    SortRenderList(renderList, n);
    renderListCount = n;
    return n;
}

bool RayToPointerAngles(const plat::Vec3& near_point, const plat::Vec3& far_point, float* yaw, float* pitch) {
    float dx = far_point.x - near_point.x, dy = far_point.y - near_point.y, dz = far_point.z - near_point.z;
    const float length = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (!(length > 0.0f)) return false;
    dx /= length, dy /= length, dz /= length;
    float y = std::atan2(dx, dz) * (180.0f / kPi);
    float p = std::atan2(-dy, std::sqrt(dx * dx + dz * dz)) * (180.0f / kPi);
    WrapYawClampPitch(&y, &p);
    *yaw = y;
    *pitch = p;
    return true;
}

bool RenderScene(GameScene* scene) {
    Engine* e = CurrentEngine();
    if (!scene || !e) return false;
    EngineWork work;  // the handlers below run while the scene is drawn
    RenderDevice* device = g_renderDevice;
    e->depthClearRequest = true;
    e->BuildRenderList();
    if (scene->viewtype == kViewPage) {
        if (device) device->Clear(0);
        DrawPage2D(e, scene);
    } else if (scene->viewtype == kViewCube) {
        if (device) device->Clear(0);
        DrawCube(e, scene);
    } else {
        if (device) device->Clear(0xFF208020);
        return true;
    }
    // A warm-up draw stops here: the overlays react to the pointer (select,
    // drag), which is a shown frame's business.
    if (SceneWarmUpDraw()) return true;
    ScriptCall("OnSceneAfterRender(%s)", AmbientText(e->ambientColor).text);
    // The selected object's overlay comes last, so it lies on top.
    if (e->editorMode >= 2)
        for (EObject** p = e->renderList; p && *p; ++p)
            if (*p != e->selectedObject) (*p)->DrawEditorOverlay();
    if (e->selectedObject) e->selectedObject->DrawEditorOverlay();
    if (scene->handlerBits & 0x80) ScriptCall("OnSceneRender(%s)", AmbientText(e->ambientColor).text);
    return true;
}

EObject* Engine::FindObjectByName(const char* name) {
    if (!name) return nullptr;
    if (EObject* o = FindExact(objects, name)) return o;
    if (EObject* o = FindExact(fonts, name)) return o;
    GameScene* s = currentScene;
    if (!s) return nullptr;
    for (SceneList list : {kSceneListHotspots, kSceneListPoints, kSceneListFx, kSceneListPatches, kSceneListMeshes,
                           kSceneListSurfaces})
        if (EObject* o = FindExactFrom(SceneListFirst(*s, list), name)) return o;
    return nullptr;
}

void Engine::SelectObject(const void* handle) {
    selectedObject = nullptr;
    GameScene* s = currentScene;
    if (!s || !handle) return;
    for (SceneList list : {kSceneListHotspots, kSceneListPoints, kSceneListFx, kSceneListPatches, kSceneListMeshes,
                           kSceneListSurfaces})
        for (EObject* o = SceneListFirst(*s, list); o; o = SceneListNext(o))
            if (o->Handle() == handle) {
                selectedObject = o;
                return;
            }
}

void Engine::DirectionAt(float out[3], float x, float y, bool screen_space) const {
    plat::Vec3 d{0, 0, 0};
    if (!screen_space && currentScene && currentScene->viewtype == kViewCube) {
        AnglesToDirection(&d, x, y);
    } else if (const Camera* cam = activeCamera) {
        // Script numbers reach here (a particle source's position): NaN and
        // numbers past the int range saturate.
        const int sx = SaturateToInt(x), sy = SaturateToInt(y);
        plat::Vec3 a, b;
        cam->Unproject(&a, sx, sy, 0.0f);
        cam->Unproject(&b, sx, sy, 1.0f);
        d = {b.x - a.x, b.y - a.y, b.z - a.z};
        const float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        if (length > 0.0f) d = {d.x / length, d.y / length, d.z / length};
    }
    out[0] = d.x, out[1] = d.y, out[2] = d.z;
}

void Engine::GetMouseDirection(float out[3]) const {
    if (currentScene && currentScene->viewtype == kViewCube) {
        DirectionAt(out, g_pointerYaw, g_pointerPitch, false);
        return;
    }
    int32_t x = 0, y = 0;
    GetMousePos(&x, &y);
    DirectionAt(out, float(x), float(y), true);
}

void Engine::VirtualToScreen(int32_t* x, int32_t* y) const {
    // Before the display exists the sizes are 0: no scaling then.
    if (virtualRect.w <= 0 || virtualRect.h <= 0 || screenRect.w <= 0 || screenRect.h <= 0) return;
    if (x) *x = int32_t(int64_t(*x) * screenRect.w / virtualRect.w);
    if (y) *y = int32_t(int64_t(*y) * screenRect.h / virtualRect.h);
}

void Engine::ScreenToVirtual(int32_t* x, int32_t* y) const {
    if (virtualRect.w <= 0 || virtualRect.h <= 0 || screenRect.w <= 0 || screenRect.h <= 0) return;
    if (x) *x = int32_t(int64_t(*x) * virtualRect.w / screenRect.w);
    if (y) *y = int32_t(int64_t(*y) * virtualRect.h / screenRect.h);
}

void Engine::DrawText(const char* text, int32_t x, int32_t y, uint32_t colour) {
    if (!text || !currentFont) return;
    currentFont->DrawString(text, x, y, screenRect.w, screenRect.h, 0, colour, 0);
}

void Engine::DrawMeshWithCamera(EObject* mesh, int32_t x, int32_t y, int32_t w, int32_t h) {
    if (mesh && g_mesh_camera_drawer) g_mesh_camera_drawer(this, mesh, x, y, w, h);
}

float MeshAnimationTime(uint32_t frame_counter, uint32_t frame_count) {
    if (frame_count == 0) return 0.0f;
    return float((frame_counter / 2) % frame_count) / float(frame_count);
}

void Engine::DrawHotspotDebug() {
    RenderDevice* device = g_renderDevice;
    Texture* preview = HotspotPreviewTexture();
    if (!device || !preview || !preview->device_texture || !shadersOn) return;
    ResourceRecord* lookup_record = Resources().DeclareImage("data/misc/eqlookup", 0);
    Texture* lookup = Resources().GetImage(lookup_record);
    if (!lookup || !lookup->device_texture) {
        if (!hotspotViewLookupReported)
            LogPrintf("[ERROR] - HOTSPOT MAP VIEW : no image data/misc/eqlookup, so the room is black while a "
                      "map hotspot is selected");
        hotspotViewLookupReported = true;
        return;
    }
    if (hotspotViewRequest && !SceneWarmUpDraw()) {
        HotspotBrush& brush = GetHotspotBrush();
        brush.labelTime = 2000;
        brush.value = 1;
        brush.mapChanged = false;
        hotspotViewRequest = false;
    }
    ShaderProgram* program = device->FindShaderProgram("hotspot_debug");
    if (!program) {
        if (!hotspotViewShaderReported)
            LogPrintf("[ERROR] - HOTSPOT MAP VIEW : no shader program \"hotspot_debug\" (a game declares it with "
                      "shader{}), so the room is black while a map hotspot is selected");
        hotspotViewShaderReported = true;
        return;
    }
    device->SetRenderMode(0x1001, 0xFFFFFFFFu);
    device->SetTexture(2, lookup->device_texture);
    device->SetTexture(1, preview->device_texture);
    program->Bind();
    if (defaultCamera) {
        plat::Matrix view_projection;
        D3DXMatrixMultiply(&view_projection, &defaultCamera->view, &defaultCamera->projection);
        program->SetVertexConstantByName("matViewProjection", &view_projection.m[0][0], SHADER_MATRIX);
    }
    for (uint32_t sampler = 0; sampler < 3; ++sampler) {
        device->SetTextureFilter(sampler, 0, 0);
        device->SetTextureFilter(sampler, 1, 0);
    }
    GameScene* s = currentScene;
    CubeFaces* faces = s ? s->cubeFaces : nullptr;
    for (int f = 0; faces && f < kCubeFaceCount; ++f) {
        Texture* t = Resources().GetImage(faces->faces[f]);
        if (!t || !t->device_texture || !g_cubeFaceVisible[f]) continue;
        const CubeVertex* v = &g_cubeVertices[f * 4];
        device->SetTexture(0, t->device_texture);
        device->SetVertexArray(&v->x, sizeof(CubeVertex));
        device->SetTexCoordArray(&v->u, sizeof(CubeVertex));
        device->DrawImmediate(4);
    }
    for (uint32_t sampler = 0; sampler < 2; ++sampler) {
        device->SetTextureFilter(sampler, 0, 1);
        device->SetTextureFilter(sampler, 1, 1);
    }
    program->Unbind();
}
