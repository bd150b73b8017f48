#include "scene/cube_faces.h"

#include <new>

#include "app/engine.h"
#include "base/memory.h"
#include "media/image/image_data.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "render/camera.h"
#include "render/render_device.h"
#include "render/vector_math.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"

ClassDescriptor CubeFaces::s_descriptor;

uint32_t g_cubeFaceSize = 1024;
CubeVertex g_cubeVertices[kCubeFaceCount * 4];
uint8_t g_cubeFaceVisible[kCubeFaceCount];
void (*g_drawHotspotMapView)() = nullptr;

namespace {
CubeFaces::CubeFaces_Initializer g_cube_faces_initializer;

constexpr uint32_t kFaceMode = 0x1001;         // textured triangle strip
constexpr uint32_t kMaskedFaceMode = 0x1011;   // the same, alpha blended
constexpr uint32_t kCubeVertexStride = sizeof(CubeVertex);
static_assert(sizeof(CubeVertex) == 20, "a cube vertex is 20 bytes");

bool IsMapHotspot(const EObject* object) {
    return object && IsClass(object, "hotspot") && static_cast<const HotSpot*>(object)->hs_type == kHotspotMap;
}

uint32_t AmbientColour() {
    const Engine* e = CurrentEngine();
    return e ? e->ambientColor : 0xFFFFFFFFu;
}

void DrawFace(RenderDevice* device, int face, Texture* t) {
    const CubeVertex* v = &g_cubeVertices[face * 4];
    device->SetTexture(0, t->device_texture);
    device->SetVertexArray(&v->x, kCubeVertexStride);
    device->SetTexCoordArray(&v->u, kCubeVertexStride);
    device->DrawImmediate(4);
}

// The mask file's grey levels at the face's size, as the alpha of its
// pixels; false (the texture untouched) when either cannot be read.
bool WriteMaskAlpha(Texture* t, const ResourceRecord* mask_record) {
    ImageData pixels;
    if (!t->ReadPixels(pixels) || pixels.bits != kImageArgb) return false;
    ImageData mask;
    if (!mask_record->path || !LoadImage(mask_record->path, mask) || !mask.pixels) return false;
    mask.ToGrey();
    if (mask.bits != kImageGrey) return false;
    uint8_t* grey = ResampleGrey(mask.pixels, int32_t(mask.width), int32_t(mask.height), int32_t(pixels.width),
                                 int32_t(pixels.height));
    if (!grey) return false;
    const size_t count = size_t(pixels.width) * pixels.height;
    for (size_t i = 0; i < count; ++i) pixels.pixels[i * 4 + 3] = grey[i];
    MemFree(grey);
    return t->CreateFromImage(pixels, 0);
}
}  // namespace

CubeFaces::CubeFaces_Initializer::CubeFaces_Initializer() : EObject_Initializer(&CubeFaces::s_descriptor) {}

EObject* CubeFaces::CubeFaces_Initializer::Create() {
    void* block = CubeFaces::operator new(sizeof(CubeFaces));
    return block ? ::new (block) CubeFaces() : nullptr;
}

void CubeFaces::CubeFaces_Initializer::RegisterProperties() {
    static const char* const kFaceKeys[kCubeFaceCount] = {"front", "right", "back", "left", "top", "bottom"};
    ClassDescriptor& d = CubeFaces::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&CubeFaces::name));
    d.AddProperty("mask", kPropertyBool, ObjectFieldOffset(&CubeFaces::mask));
    const size_t faces = ObjectFieldOffset(&CubeFaces::faces);
    for (int i = 0; i < kCubeFaceCount; ++i)
        d.AddProperty(kFaceKeys[i], kPropertyImage, faces + size_t(i) * sizeof(ResourceRecord*));
    d.AddProperty("order", kPropertyInt, ObjectFieldOffset(&CubeFaces::order));
    d.AddConstant("class", "cubeface");
}

CubeFaces::CubeFaces() : EObject(&s_descriptor) {}

void CubeFaces::OnChanged(uint32_t changed) {
    int face = -1;
    for (int i = 0; i < kCubeFaceCount; ++i)
        if (changed == (kCubeBitFront << i)) face = i;
    if (face < 0) return;
    // Declared again in place: other holders of the same image keep a live
    // record and simply load it anew.
    if (faces[face]) Resources().Redeclare(faces[face], mask ? kMaskImageFlags : kFaceImageFlags);

    Engine* e = CurrentEngine();
    GameScene* s = e ? e->currentScene : nullptr;
    if (!s) return;
    if (this == s->cubeMasks && s->cubeFaces) s->cubeFaces->ApplyMask(this, face);
    if (this == s->cubeFaces && s->cubeMasks) ApplyMask(s->cubeMasks, face);
}

void CubeFaces::Render() {
    if (mask) return;
    Engine* e = CurrentEngine();
    GameScene* s = e ? e->currentScene : nullptr;
    if (!e || !s) return;
    if (e->renderList && e->renderList[0] && e->renderList[0] == s->cubeFaces) return;
    if (e->selectedObject && IsClass(e->selectedObject, "hotspot")) return;
    DrawFaces(2);
}

void CubeFaces::DrawFaces(int mode) {
    Engine* e = CurrentEngine();
    if (e && IsMapHotspot(e->selectedObject)) {
        if (g_drawHotspotMapView) g_drawHotspotMapView();
        return;
    }
    RenderDevice* device = g_renderDevice;
    if (!device) return;
    const uint32_t ambient = AmbientColour();
    // pass 0: masked faces only (or all in mode 0); pass 1: unmasked faces.
    auto pass = [&](uint32_t render_mode, int which) {
        device->SetRenderMode(render_mode, ambient);
        for (int i = 0; i < kCubeFaceCount; ++i) {
            if (!g_cubeFaceVisible[i]) continue;
            Texture* t = Resources().GetImage(faces[i]);
            if (!t || !t->device_texture) continue;
            const bool masked = (t->flags & kFaceMasked) != 0;
            if (which == 1 && !masked) continue;
            if (which == 2 && masked) continue;
            DrawFace(device, i, t);
        }
    };
    switch (mode) {
        case 0: pass(kFaceMode, 0); break;
        case 1: pass(kFaceMode, 1); break;
        case 2:
            pass(kMaskedFaceMode, 1);
            pass(kFaceMode, 2);
            break;
        default: break;
    }
}

void CubeFaces::ApplyMask(CubeFaces* mask_set, int face) {
    if (face >= kCubeFaceCount) return;
    const bool single = face >= 0;
    for (int i = single ? face : 0; i < kCubeFaceCount; ++i) {
        Texture* t = Resources().GetImage(faces[i]);
        if (!t) continue;
        ResourceRecord* mask_record = mask_set ? mask_set->faces[i] : nullptr;
        if (mask_record && mask_record->type != kResourceImage) mask_record = nullptr;  // removed for good
        if (mask_record) {
            // Flagged as masked only once the alpha is really in the texture.
            if (WriteMaskAlpha(t, mask_record))
                t->flags |= kFaceMasked;
            else
                t->flags &= ~kFaceMasked;
            if (single) return;
        } else {
            t->flags &= ~kFaceMasked;
        }
    }
}

void BuildCubeGeometry(uint32_t face_size) {
    const float g = float(face_size > 2 ? face_size : 3);
    BuildCubeVertices(g_cubeVertices, (g - 2.0f) / 2.0f, 1.0f / g, 1.0f / g, 1.0f - 1.0f / g, 1.0f - 1.0f / g);
}

void CullCubeFaces() {
    const Engine* e = CurrentEngine();
    const Camera* camera = e ? (e->activeCamera ? e->activeCamera : e->defaultCamera) : nullptr;
    for (int f = 0; f < kCubeFaceCount; ++f) {
        if (!camera) {
            g_cubeFaceVisible[f] = 1;
            continue;
        }
        plat::Vec3 corners[4];
        for (int c = 0; c < 4; ++c) {
            const CubeVertex& v = g_cubeVertices[f * 4 + c];
            corners[c] = {v.x, v.y, v.z};
        }
        g_cubeFaceVisible[f] = PointsInFrustum(camera->frustum, corners, 4) ? 1 : 0;
    }
}
