#pragma once
// The six face images of a panoramic node (class word "cubeface"), or, with
// its mask flag, six mask images whose brightness becomes the alpha of the
// shown faces, so that parts of a face can be drawn after the objects in
// front of them. Also the shared cube geometry: the vertex table of the
// current panoramic scene and the face visibility table.
#include <cstdint>

#include "render/geometry.h"
#include "script/object_model.h"

struct ResourceRecord;

enum CubeFacesBits : uint32_t {
    kCubeBitName = 0x1,
    kCubeBitMask = 0x2,
    kCubeBitFront = 0x4,
    kCubeBitRight = 0x8,
    kCubeBitBack = 0x10,
    kCubeBitLeft = 0x20,
    kCubeBitTop = 0x40,
    kCubeBitBottom = 0x80,
    kCubeBitOrder = 0x100,
};

constexpr int kCubeFaceCount = 6;
// Texture flag of a face that carries mask alpha.
constexpr uint32_t kFaceMasked = 16;
// Creation flags of face images: mask images without alpha, faces with.
constexpr uint32_t kMaskImageFlags = 32;
constexpr uint32_t kFaceImageFlags = 16;

class CubeFaces : public EObject {
public:
    class CubeFaces_Initializer : public EObject_Initializer {
    public:
        CubeFaces_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    CubeFaces();

    // A single changed face (bits 0x4 .. 0x80) is loaded again with the
    // creation flags of its set and masked again.
    void OnChanged(uint32_t mask) override;
    // A shown set draws its faces in its place in the render list (mode 2).
    void Render() override;

    // Draws the visible faces: mode 0 all, 1 the masked ones, 2 the masked
    // ones blended and then the others.
    void DrawFaces(int mode);
    // Rebuilds face textures with (mask set given) or without mask alpha,
    // from the face (all when negative); with a face index the walk stops
    // at the first face it masks.
    void ApplyMask(CubeFaces* mask_set, int face);

    bool mask = false;
    ResourceRecord* faces[kCubeFaceCount] = {};  // front, right, back, left, top, bottom
};

// The side of a cube face in texels.
extern uint32_t g_cubeFaceSize;
// The current panoramic scene's cube: 6 faces x 4 vertices {x, y, z, u, v}.
extern CubeVertex g_cubeVertices[kCubeFaceCount * 4];
// One flag per face: some of it lies in the active camera's view.
extern uint8_t g_cubeFaceVisible[kCubeFaceCount];

// Builds the vertex table for faces of the given size: half-extent
// (size - 2) / 2, texture coordinates 1 / size .. 1 - 1 / size.
void BuildCubeGeometry(uint32_t face_size);
// Recomputes the visibility table for the engine's active camera.
void CullCubeFaces();

// What CubeFaces::DrawFaces draws instead of the faces while a map hotspot
// is selected: the editor's view of the hotspot map (null: nothing).
extern void (*g_drawHotspotMapView)();
