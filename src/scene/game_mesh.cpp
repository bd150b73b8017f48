#include "scene/game_mesh.h"

#include <cmath>
#include <cstdio>
#include <new>

#include "app/app_window.h"
#include "app/engine.h"
#include "app/engine_input.h"
#include "app/scene_render.h"
#include "app/scene_switch.h"
#include "base/text.h"
#include "media/mesh/mesh_data.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/camera.h"
#include "render/color.h"
#include "render/geometry.h"
#include "render/render_device.h"
#include "render/shader_program.h"
#include "render/vector_math.h"
#include "scene/game_scene.h"
#include "scene/point_object.h"
#include "script/script_handles.h"
#include "script/script_var.h"

ClassDescriptor GameMesh::s_descriptor;

namespace {

GameMesh::GameMesh_Initializer g_mesh_initializer;

constexpr int kVkShift = 16, kVkControl = 17, kVkHome = 36, kVkLeft = 37, kVkRight = 39, kVkLeftShift = 160;
constexpr float kFaceSize = 1024.0f;

bool LeftShiftDown() { return g_keyTable[kVkLeftShift] != 0; }

void MarkSceneModified() {
    if (Engine* e = CurrentEngine()) e->sceneModified = true;
}

plat::Vec3 Scaled(const plat::Vec3& v, float s) { return {v.x * s, v.y * s, v.z * s}; }

plat::Vec3 TransformPoint(const plat::Vec3& v, const plat::Matrix& m) {
    plat::Vec3 out = v;
    return Vec3TransformCoord(out, m);
}

// The world transform back to identity, no program, depth off: what every
// exit of a mesh draw leaves behind.
struct MeshDrawState {
    RenderDevice* device;
    ~MeshDrawState() {
        device->BindShaderProgram(nullptr);
        device->SetTransform(0, plat::Matrix{});
        device->EnableDepth(false);
    }
};

// The shader constants of the mesh's material and light.
void SetMaterialConstants(const GameMesh& m, ShaderProgram* shader, const plat::Vec3& light,
                          const plat::Vec3& eye) {
    float c[4];
    shader->SetPixelConstant(PC_DIFFUSE, ColorToFloat4(c, m.diffuse));
    shader->SetPixelConstant(PC_SPECULAR, ColorToFloat4(c, m.specular));
    const float power[4] = {m.specularPow, 0, 0, 0};
    shader->SetPixelConstant(PC_SPECULAR_POWER, power);
    const float l[4] = {light.x, light.y, light.z, 1.0f};
    const float v[4] = {eye.x, eye.y, eye.z, 1.0f};
    shader->SetVertexConstant(VC_LIGHT_POSITION, l);
    shader->SetVertexConstant(VC_EYE_POSITION, v);
}

void BindMaps(RenderDevice* device, const GameMesh& m) {
    if (m.htexture)
        if (Texture* t = Resources().GetImage(m.htexture)) device->SetTexture(0, t->device_texture);
    if (m.hnormal)
        if (Texture* t = Resources().GetImage(m.hnormal)) device->SetTexture(1, t->device_texture);
}

// Six face factors from the tag, else all 1.
void ReadFaceFactors(const char* tag, float k[6]) {
    float v[6];
    if (tag && std::sscanf(tag, "%f,%f,%f,%f,%f,%f", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) == 6) {
        for (int i = 0; i < 6; ++i) k[i] = v[i];
        return;
    }
    for (int i = 0; i < 6; ++i) k[i] = 1.0f;
}

void ProjectOntoPanorama(GameMesh* m, MeshGeometry* g, RenderDevice* device) {
    VertexBufferRecord* vb = g->vertex_buffer;
    const plat::Vec3& p = m->position;
    plat::Matrix mat;
    plat::D3DXMatrixRotationYawPitchRoll(&mat, DegToRad(m->rotation.x), DegToRad(m->rotation.y),
                                         DegToRad(m->rotation.z));
    MatrixRotateYawPitchRoll(mat, std::atan2(p.x, p.z), std::atan2(-p.y, std::sqrt(p.x * p.x + p.z * p.z)), 0.0f);
    mat.m[3][0] = p.x * m->distance;
    mat.m[3][1] = p.y * m->distance;
    mat.m[3][2] = p.z * m->distance;
    float k[6];
    ReadFaceFactors(m->tag, k);
    const uint8_t* depth = DepthBuffer();
    if (!vb || !depth) return;
    device->LockVertexBuffer(vb);
    if (vb->position) {
        const uint32_t count = g->bind_positions.count < vb->count ? g->bind_positions.count : vb->count;
        ProjectMeshVertices(g->bind_positions.data, count, static_cast<uint8_t*>(vb->position),
                            vb->positionStride ? vb->positionStride : vb->vertexSize, mat, p, m->scaling.x, k, depth);
    }
    device->UnlockVertexBuffer(vb);
}

// The tint mesh_draw multiplies the ambient colour by for one draw.
uint32_t g_draw_tint = 0xFFFFFFFF;

// Engine::DrawMeshWithCamera: one mesh alone in a screen rectangle with the
// default camera.
void DrawMeshAlone(Engine* e, EObject* object, int32_t x, int32_t y, int32_t w, int32_t h) {
    GameMesh* m = MeshFromObject(object);
    RenderDevice* device = g_renderDevice;
    Camera* cam = e ? e->defaultCamera : nullptr;
    if (!m || !device || !cam) return;
    MeshData* data = Resources().GetMesh(m->hmesh);
    if (!data || !data->geometry) return;
    MeshDrawState state{device};
    device->EnableDepth(true);
    cam->SetViewport(uint32_t(x < 0 ? 0 : x), uint32_t(y < 0 ? 0 : y), uint32_t(w < 0 ? 0 : w), uint32_t(h < 0 ? 0 : h));
    cam->fov = g_display_fov.value;
    cam->SetPerspective(cam->fov, g_display_aspect.value, 0.1f, 10000.0f);
    const float back = e->virtualRect.w > 0 ? float(e->virtualRect.w) : kFaceSize;
    cam->LookAt(plat::Vec3{0, 0, -back}, plat::Vec3{0, 0, 1});
    cam->UpdateView();
    cam->Apply();
    device->ClearDepth();

    plat::Matrix wv, wvp, inv;
    plat::D3DXMatrixMultiply(&wv, &m->world, &cam->view);
    plat::D3DXMatrixMultiply(&wvp, &wv, &cam->projection);
    plat::D3DXMatrixInverse(&inv, nullptr, &wv);
    plat::Vec3 light_dir, light_pos;
    GetLightDirection(e, &light_dir, &light_pos);
    plat::Vec3 eye{};
    if (e->shadersOn) {
        light_pos = TransformPoint(light_pos, inv);
        eye = TransformPoint(eye, inv);
    }
    device->SetTransform(0, m->world);
    if (m->animated) {
        const uint32_t frames = uint32_t(SaturateToInt(std::trunc(data->anim_length)));
        const uint32_t counter = e->window ? e->window->GetFrameCount() : 0;
        if (frames) data->SetAnimTime(MeshAnimationTime(counter, frames));
    }
    if (ShaderProgram* shader = m->Program()) {
        float a[4];
        shader->SetPixelConstant(PC_AMBIENT, ColorToFloat4(a, ModulateColor(m->ambient, g_draw_tint)));
        SetMaterialConstants(*m, shader, light_pos, eye);
        shader->SetVertexConstant(VC_VIEW, &m->world.m[0][0]);
        shader->SetVertexConstant(VC_VIEW_INVERSE, &inv.m[0][0]);
        shader->SetVertexConstant(VC_VIEW_PROJECTION, &wvp.m[0][0]);
        device->SetRenderMode(5, 0xFFFFFFFF);
        BindMaps(device, *m);
        device->BindShaderProgram(shader);
        data->Update();
        device->BindShaderProgram(nullptr);
    }
    cam->SetViewport(0, 0, uint32_t(e->screenRect.w > 0 ? e->screenRect.w : 0),
                     uint32_t(e->screenRect.h > 0 ? e->screenRect.h : 0));
    cam->Apply();
}

// The scene's resource steps for meshes.
void LoadMeshResources(EObject* o) {
    auto* m = static_cast<GameMesh*>(o);
    Resources().GetMesh(m->hmesh);
    Resources().GetImage(m->htexture);
    Resources().GetImage(m->hnormal);
}

void UnloadMeshResources(EObject* o) {
    auto* m = static_cast<GameMesh*>(o);
    Resources().Remove(m->hmesh, false);
    Resources().Remove(m->htexture, false);
    Resources().Remove(m->hnormal, false);
}

bool MeshPosition(EObject* o, plat::Vec3* position) {
    *position = static_cast<GameMesh*>(o)->WorldPosition();
    return true;
}

const SceneKindOps kMeshKindOps = {LoadMeshResources, UnloadMeshResources, nullptr, MeshPosition};

// Hotspots that stand for a mesh: the pointer ray, brought into the mesh's
// own space by the inverse of its world matrix, against the geometry's
// box. Only a mesh that is loaded can be hit; picking loads nothing.
bool PointerRayHitsMesh(EObject* object, const plat::Vec3& origin, const plat::Vec3& direction) {
    const GameMesh* m = MeshFromObject(object);
    if (!m || !m->hmesh || m->hmesh->type != kResourceMesh || !m->hmesh->object) return false;
    const MeshData* data = static_cast<const MeshData*>(m->hmesh->object);
    if (!data->root || !data->geometry) return false;
    plat::Matrix inv;
    if (!plat::D3DXMatrixInverse(&inv, nullptr, &m->world)) return false;
    const plat::Vec3 from = TransformPoint(origin, inv);
    const plat::Vec3 to = TransformPoint({origin.x + direction.x, origin.y + direction.y, origin.z + direction.z}, inv);
    const plat::Vec3 along{to.x - from.x, to.y - from.y, to.z - from.z};
    return RayIntersectsBox(data->geometry->box_min, data->geometry->box_max, from, along, nullptr);
}

const bool g_mesh_hooks = (SetSceneKindOps(kSceneKindMeshes, &kMeshKindOps), SetMeshCameraDrawer(DrawMeshAlone),
                           SetMeshRayTest(PointerRayHitsMesh), true);

}  // namespace

GameMesh::GameMesh_Initializer::GameMesh_Initializer() : EObject_Initializer(&GameMesh::s_descriptor) {}

EObject* GameMesh::GameMesh_Initializer::Create() {
    void* block = GameMesh::operator new(sizeof(GameMesh));
    return block ? ::new (block) GameMesh() : nullptr;
}

void GameMesh::GameMesh_Initializer::RegisterProperties() {
    ClassDescriptor& d = GameMesh::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&GameMesh::name));
    d.AddProperty("position", kPropertyVector, ObjectFieldOffset(&GameMesh::position));
    d.AddProperty("rotation", kPropertyVector, ObjectFieldOffset(&GameMesh::rotation));
    d.AddProperty("scaling", kPropertyVector, ObjectFieldOffset(&GameMesh::scaling));
    d.AddProperty("distance", kPropertyFloat, ObjectFieldOffset(&GameMesh::distance));
    d.AddProperty("ambient", kPropertyColor, ObjectFieldOffset(&GameMesh::ambient));
    d.AddProperty("diffuse", kPropertyColor, ObjectFieldOffset(&GameMesh::diffuse));
    d.AddProperty("specular", kPropertyColor, ObjectFieldOffset(&GameMesh::specular));
    d.AddProperty("specularPow", kPropertyFloat, ObjectFieldOffset(&GameMesh::specularPow));
    d.AddProperty("htexture", kPropertyImage, ObjectFieldOffset(&GameMesh::htexture));
    d.AddProperty("hnormal", kPropertyImage, ObjectFieldOffset(&GameMesh::hnormal));
    d.AddProperty("hmesh", kPropertyMesh, ObjectFieldOffset(&GameMesh::hmesh));
    d.AddProperty("castShadow", kPropertyBool, ObjectFieldOffset(&GameMesh::castShadow));
    d.AddProperty("animated", kPropertyBool, ObjectFieldOffset(&GameMesh::animated));
    d.AddProperty("visible", kPropertyBool, ObjectFieldOffset(&GameMesh::visible));
    d.AddProperty("projected", kPropertyBool, ObjectFieldOffset(&GameMesh::projected));
    d.AddProperty("blendmode", kPropertyEnum, ObjectFieldOffset(&GameMesh::blendmode));
    d.AddObjectReference("source", "point", ObjectFieldOffset(&GameMesh::source));
    d.AddProperty("order", kPropertyInt, ObjectFieldOffset(&GameMesh::order));
    d.AddProperty("tag", kPropertyString, ObjectFieldOffset(&GameMesh::tag));
    d.AddConstant("class", "mesh");
}

GameMesh::GameMesh() : EObject(&s_descriptor) { SetDefaults(); }

GameMesh::~GameMesh() { UnregisterScriptHandle(&world); }

void GameMesh::Withdraw() { UnregisterScriptHandle(&world); }

void GameMesh::SetDefaults() {
    if (ambient == 0) ambient = 0xFF000000u;
    if (diffuse == 0) diffuse = 0xFFFFFFFFu;
    if (specular == 0) specular = 0xFFFFFFFFu;
    visible = true;
    if (scaling.x == 0 && scaling.y == 0 && scaling.z == 0) scaling = {1, 1, 1};
}

void BuildMeshWorld(plat::Matrix* out, const plat::Vec3& rotation, const plat::Vec3& scaling,
                    const plat::Vec3& position, float distance) {
    plat::D3DXMatrixRotationYawPitchRoll(out, DegToRad(rotation.x), DegToRad(rotation.y), DegToRad(rotation.z));
    MatrixApplyScale(*out, scaling.x, scaling.y, scaling.z);
    out->m[3][0] = position.x * distance;
    out->m[3][1] = position.y * distance;
    out->m[3][2] = position.z * distance;
}

const char* GameMesh::ShaderName() const {
    if (diffuse == 0xFFFFFFFFu && ambient == 0xFFFFFFFFu && specularPow == 0) return "texture";
    if (specularPow == 0) return hnormal ? "diff_norm" : "diff";
    return hnormal ? "diff_norm_spec" : "diff_spec";
}

void GameMesh::OnChanged(uint32_t mask) {
    if (mask & kMeshBitMesh) {
        shader = nullptr;
        // Reloaded in place: another mesh holding the same record keeps it.
        if (hmesh) Resources().Redeclare(hmesh, hnormal ? 1 : 0);
    }
    if (mask & kMeshBitsPlacement) BuildMeshWorld(&world, rotation, scaling, position, distance);
    if (mask & kMeshBitSpecularPow) shader = nullptr;
    if (mask & kMeshBitAnimated) {
        position1 = position2 = blendWeight = 0;
        if (hmesh && hmesh->type == kResourceMesh && hmesh->object) {
            auto* data = static_cast<MeshData*>(hmesh->object);
            data->SetAnimTime(0);
            data->SetAnimTime2(0);
        }
    }
    if (!shader || (mask & (kMeshBitTexture | kMeshBitNormal))) {
        shaderName = ShaderName();
        shader = g_renderDevice ? g_renderDevice->FindShaderProgram(shaderName) : nullptr;
        shaderCheck = ShaderProgram::DestroyedCount();
    }
}

ShaderProgram* GameMesh::Program() {
    if (shader && shaderCheck != ShaderProgram::DestroyedCount()) {
        shader = g_renderDevice ? g_renderDevice->FindShaderProgram(shaderName) : nullptr;
        shaderCheck = ShaderProgram::DestroyedCount();
    }
    return shader;
}

plat::Vec3 GameMesh::WorldPosition() const { return Scaled(position, distance); }

void GameMesh::SetWorldPosition(const plat::Vec3& p) {
    const float length = Vec3Length(p);
    // At the origin the direction is kept: no division by 0.
    if (!(length > 0.0f) || !std::isfinite(length)) {
        distance = 0;
        return;
    }
    position = Scaled(p, 1.0f / length);
    distance = length;
}

void GameMesh::Render() {
    Engine* e = CurrentEngine();
    RenderDevice* device = g_renderDevice;
    if (!e || !device) return;
    device->EnableDepth(true);
    if (e->depthClearRequest) {
        device->ClearDepth();
        e->depthClearRequest = false;
    }
    DrawMesh(e, this);
    device->EnableDepth(false);
}

void GameMesh::DrawEditorOverlay() {
    Engine* e = CurrentEngine();
    if (!e || !hmesh || hmesh->type != kResourceMesh || !hmesh->object) return;
    const MeshData* data = static_cast<const MeshData*>(hmesh->object);
    if (!data->geometry) return;
    float md[3];
    e->GetMouseDirection(md);
    const plat::Vec3 m{md[0], md[1], md[2]};
    plat::Vec3 c = WorldPosition();
    c = {c.x + data->geometry->sphere_centre.x, c.y + data->geometry->sphere_centre.y,
         c.z + data->geometry->sphere_centre.z};
    const float r = data->geometry->sphere_radius;
    const bool selected = e->selectedObject == this;
    bool move = false;
    if (e->positionMode && selected) {
        move = true;
    } else if (LeftShiftDown()) {
        const float along = Vec3Dot(m, c);
        if ((e->buttonsDown & 1) && Vec3Dot(c, c) - along * along < r * r)
            e->selectedObject = this;
        else if ((e->buttonsDown & 2) && selected)
            move = true;
    }
    if (move) {
        position = m;
        OnChanged(0x3C);
        e->sceneModified = true;
    }
    int sx = 0, sy = 0;
    if (!LeftShiftDown() && e->activeCamera && e->activeCamera->Project(c, &sx, &sy)) {
        char label[300];
        std::snprintf(label, sizeof label, "%s[%d]", name ? name : "", SaturateToInt(distance));
        e->DrawText(label, sx, sy, e->selectedObject == this ? 0xFFFF0000u : 0xFF808080u);
    }
}

void GameMesh::EditorInput(int key, int wheel) {
    if (wheel) {
        distance += wheel > 0 ? 100.0f : -100.0f;
        MarkSceneModified();
        OnChanged(kMeshBitDistance);
    }
    if (key == kVkHome) {
        rotation = {0, 0, 0};
        OnChanged(kMeshBitScaling);
        MarkSceneModified();
    }
    plat::Matrix r;
    plat::D3DXMatrixRotationYawPitchRoll(&r, DegToRad(rotation.x), DegToRad(rotation.y), DegToRad(rotation.z));
    int row = -1;
    float sign = 1.0f;
    switch (key) {
        case 'D': row = 0; break;
        case 'A': row = 0, sign = -1.0f; break;
        case 'W': row = 1; break;
        case 'S': row = 1, sign = -1.0f; break;
        case 'E': row = 2; break;
        case 'Q': row = 2, sign = -1.0f; break;
        default: break;
    }
    if (row >= 0) {
        plat::Vec3 p = WorldPosition();
        p = {p.x + sign * r.m[row][0], p.y + sign * r.m[row][1], p.z + sign * r.m[row][2]};
        SetWorldPosition(p);
        OnChanged(kMeshBitsPlacement);
        MarkSceneModified();
        return;
    }
    if (key != kVkLeft && key != kVkRight) return;
    const float step = key == kVkLeft ? -10.0f : 10.0f;
    if (LeftShiftDown())
        rotation.y += step;
    else if (g_keyTable[kVkControl])
        rotation.z += step;
    else
        rotation.x += step;
    OnChanged(kMeshBitsPlacement);
    MarkSceneModified();
}

void GetLightDirection(const Engine* e, plat::Vec3* direction, plat::Vec3* position) {
    const GameScene* s = e ? e->currentScene : nullptr;
    const PointSceneObject* light = nullptr;
    if (s)
        for (const PointSceneObject* p = s->points.head; p; p = ListNext(p))
            if (p->name && EqualsNoCase(p->name, "Light")) {
                light = p;
                break;
            }
    if (!light) {
        *position = {-kFaceSize / 4, kFaceSize / 4, -kFaceSize / 4};
        *direction = *position;
        Vec3Normalize(*direction);
        return;
    }
    plat::Vec3 d{};
    if (s->viewtype == kViewCube) {
        AnglesToDirection(&d, light->x, light->y);
    } else if (const Camera* cam = e->activeCamera) {
        plat::Vec3 p0, p1;
        cam->Unproject(&p0, SaturateToInt(light->x), SaturateToInt(light->y), 0.0f);
        cam->Unproject(&p1, SaturateToInt(light->x), SaturateToInt(light->y), 1.0f);
        d = {p1.x - p0.x - cam->eye.x, p1.y - p0.y - cam->eye.y, p1.z - p0.z - cam->eye.z};
        Vec3Normalize(d);
        if (light->distance < 0) {
            const plat::Vec3 f{cam->orientation.m[2][0], cam->orientation.m[2][1], cam->orientation.m[2][2]};
            const float dot = Vec3Dot(d, f);
            d = {d.x - 2 * dot * f.x, d.y - 2 * dot * f.y, d.z - 2 * dot * f.z};
        }
    }
    *direction = d;
    // Around the viewer of a cube scene a negative distance puts the light
    // behind him; elsewhere it has mirrored the direction already.
    *position = Scaled(d, s->viewtype == kViewCube ? light->distance : std::fabs(light->distance));
}

void ProjectMeshVertices(const plat::Vec3* bind, uint32_t count, uint8_t* out, uint32_t stride,
                         const plat::Matrix& m, const plat::Vec3& direction, float scale_x, const float k[6],
                         const uint8_t* depth) {
    constexpr int n = kMeshDepthFaceSize;
    for (uint32_t i = 0; i < count; ++i) {
        const plat::Vec3 w = TransformPoint(bind[i], m);
        plat::Vec3 unit = w;
        Vec3Normalize(unit);
        int face = 0, u = 0, v = 0;
        DirectionToFacePixel(unit, n, &face, &u, &v);
        const float b = depth[(size_t(face) * n + size_t(v)) * n + size_t(u)];
        const float push = (1.0f - b / 255.0f) * 200.0f * scale_x * k[face];
        const plat::Vec3 moved{w.x + direction.x * push, w.y + direction.y * push, w.z + direction.z * push};
        auto* dst = reinterpret_cast<float*>(out + size_t(i) * stride);
        dst[0] = moved.x, dst[1] = moved.y, dst[2] = moved.z;
    }
}

void DrawMesh(Engine* e, GameMesh* m) {
    RenderDevice* device = g_renderDevice;
    if (!e || !m || !device) return;
    MeshData* data = Resources().GetMesh(m->hmesh);
    if (!data || !data->geometry || !m->visible) return;
    MeshGeometry* g = data->geometry;
    Camera* cam = e->activeCamera;
    if (!cam) return;
    MeshDrawState state{device};

    if (m->projected) {
        ProjectOntoPanorama(m, g, device);
        device->EnableDepth(false);
    } else {
        device->EnableDepth(true);
    }

    const float radius = g->sphere_radius * m->scaling.x;
    const plat::Vec3 placed = m->WorldPosition();
    const plat::Vec3 centre{g->sphere_centre.x + placed.x, g->sphere_centre.y + placed.y, g->sphere_centre.z + placed.z};
    if (!SphereInFrustum(cam->frustum, centre, radius)) return;

    plat::Vec3 light_dir, light_pos;
    GetLightDirection(e, &light_dir, &light_pos);
    plat::Vec3 eye = cam->eye;

    plat::Matrix w, inv;
    if (!m->projected) {
        w = m->world;
        plat::D3DXMatrixInverse(&inv, nullptr, &w);
        const int32_t n = SaturateToInt(std::trunc(data->anim_length));
        if (m->animated && n != 0 && !SceneWarmUpDraw()) m->position1 += 0.5f / float(n);
        data->SetAnimTime(m->position1);
        data->SetAnimTime2(m->position2);
        data->SetAnimWeight(m->blendWeight);
    }
    if (e->shadersOn) {
        light_pos = TransformPoint(light_pos, inv);
        eye = TransformPoint(eye, inv);
    }

    plat::Matrix shader_world = w;
    if (m->castShadow) {
        device->EnableDepth(false);
        plat::Vec3 l = e->shadersOn ? light_pos : TransformPoint(light_pos, inv);
        Vec3Normalize(l);
        const float s = 8.0f * radius;
        const plat::Vec4 light{l.x * s, l.y * s, l.z * s, 1.0f};
        const plat::Plane ground{0, 1, 0, g->box_max.y};
        plat::Matrix shadow, shadow_world;
        plat::D3DXMatrixShadow(&shadow, &light, &ground);
        plat::D3DXMatrixMultiply(&shadow_world, &shadow, &m->world);
        device->SetTransform(0, shadow_world);
        device->SetRenderMode(0, 0x80000000u);
        data->Update();
        shader_world = plat::Matrix{};
        device->EnableDepth(true);
    }

    float a[4];
    ColorToFloat4(a, m->ambient);
    ShaderProgram* shader = m->Program();
    if (a[3] == 0.0f || !shader) return;
    shader->SetPixelConstant(PC_AMBIENT, a);
    if (m->htexture) Resources().GetImage(m->htexture);
    if (m->blendmode != 0)
        device->SetRenderMode(0x205, 0xFFFFFFFFu);
    else
        device->SetRenderMode(5, m->ambient | 0x00FFFFFFu);
    SetMaterialConstants(*m, shader, light_pos, eye);
    shader->SetVertexConstant(VC_VIEW, &shader_world.m[0][0]);
    shader->SetVertexConstant(VC_VIEW_INVERSE, &inv.m[0][0]);

    plat::Matrix view_proj, wvp;
    plat::D3DXMatrixMultiply(&view_proj, &cam->view, &cam->projection);
    if (!m->projected) {
        plat::D3DXMatrixMultiply(&wvp, &w, &view_proj);
        shader->SetVertexConstant(VC_VIEW_PROJECTION, &wvp.m[0][0]);
        device->SetTransform(0, w);
    } else {
        shader->SetVertexConstant(VC_VIEW_PROJECTION, &view_proj.m[0][0]);
        device->SetTransform(0, plat::Matrix{});
    }
    if (e->editorMode != 0 && g_keyTable[kVkControl] && g_keyTable[kVkShift]) {
        const plat::Vec3 c{(g->box_min.x + g->box_max.x) / 2, (g->box_min.y + g->box_max.y) / 2,
                           (g->box_min.z + g->box_max.z) / 2};
        DrawWireBox(c, (g->box_max.x - g->box_min.x) / 2, (g->box_max.y - g->box_min.y) / 2,
                    (g->box_max.z - g->box_min.z) / 2, 0xFFFFFF00u);
    }
    BindMaps(device, *m);
    device->BindShaderProgram(shader);
    data->Update();
    if (m->blendmode != 0) {
        data->Update();
        data->Update();
    }
}

GameMesh* MeshFromObject(EObject* object) {
    return object && IsLiveObject(object) && IsClass(object, "mesh") ? static_cast<GameMesh*>(object) : nullptr;
}

void SetMeshDrawTint(uint32_t argb) { g_draw_tint = argb; }
