#pragma once
// A 3-D mesh placed in a scene (class word "mesh"): a mesh resource drawn
// with a shader program chosen from its maps and material values, lit by
// the scene's point named "Light", optionally casting a planar shadow,
// animated, or projected onto the depth of the panorama around the viewer.
// A mesh is placed by a view direction and a distance from the viewer.
#include <cstdint>

#include "platform/gpu/d3dx/math_types.h"
#include "script/object_model.h"

class PointSceneObject;
class ShaderProgram;
struct Engine;
struct ResourceRecord;

// Change-mask bits of the mesh's properties, in registration order.
enum GameMeshBits : uint32_t {
    kMeshBitName = 0x1,
    kMeshBitPosition = 0x2,
    kMeshBitRotation = 0x4,
    kMeshBitScaling = 0x8,
    kMeshBitDistance = 0x10,
    kMeshBitAmbient = 0x20,
    kMeshBitDiffuse = 0x40,
    kMeshBitSpecular = 0x80,
    kMeshBitSpecularPow = 0x100,
    kMeshBitTexture = 0x200,
    kMeshBitNormal = 0x400,
    kMeshBitMesh = 0x800,
    kMeshBitCastShadow = 0x1000,
    kMeshBitAnimated = 0x2000,
    kMeshBitVisible = 0x4000,
    kMeshBitProjected = 0x8000,
    kMeshBitBlendmode = 0x10000,
    kMeshBitSource = 0x20000,
    kMeshBitOrder = 0x40000,
    kMeshBitTag = 0x80000,
    // Position, rotation, scaling and distance: the world matrix is rebuilt.
    kMeshBitsPlacement = 0x1E,
};

// The side of the per-face depth map of projected meshes.
constexpr int kMeshDepthFaceSize = 128;

class GameMesh : public EObject {
public:
    class GameMesh_Initializer : public EObject_Initializer {
    public:
        GameMesh_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    GameMesh();
    // The world matrix stops being a script handle with the mesh: when it
    // is deleted (Withdraw), whenever its memory goes.
    ~GameMesh() override;
    void Withdraw() override;

    // Ambient opaque black, diffuse and specular white when 0; visible;
    // scaling (1, 1, 1) when all three are 0.
    void SetDefaults() override;
    // A new mesh record, the world matrix, the animation reset and the
    // shader choice, by the bits that changed.
    void OnChanged(uint32_t mask) override;
    void Render() override;
    // Label, picking and dragging with the left Shift key.
    void DrawEditorOverlay() override;
    // Wheel: nearer or farther; Home: no rotation; D/A, W/S, E/Q: one unit
    // along the mesh's own axes; Left/Right: turn by 10 degrees.
    void EditorInput(int key, int wheel) override;

    // The mesh's place in the scene: position x distance.
    plat::Vec3 WorldPosition() const;
    // Stores the point as a direction and a length; a point at the origin
    // keeps the direction and gives distance 0.
    void SetWorldPosition(const plat::Vec3& p);
    // The name of the shader program the mesh's values call for.
    const char* ShaderName() const;
    // The program the mesh draws with: the one chosen when its values last
    // changed, found again by its name once any program has been destroyed
    // since (a shader declared again, shaders switched, the display reset);
    // null when there is none of that name.
    ShaderProgram* Program();

    plat::Vec3 position;  // unit view direction
    plat::Vec3 rotation;  // yaw, pitch, roll in degrees
    plat::Vec3 scaling;
    float distance = 0;
    float position1 = 0, position2 = 0, blendWeight = 0;
    plat::Matrix world;
    ResourceRecord* hmesh = nullptr;
    ResourceRecord* htexture = nullptr;
    ResourceRecord* hnormal = nullptr;
    bool castShadow = false;
    bool projected = false;
    bool visible = false;
    bool animated = false;
    int32_t blendmode = 0;
    const char* tag = nullptr;  // interned
    uint32_t ambient = 0;
    uint32_t diffuse = 0;
    uint32_t specular = 0;
    float specularPow = 0;
    ShaderProgram* shader = nullptr;
    PointSceneObject* source = nullptr;
    const char* shaderName = nullptr;  // the name shader was found by (static text)
    uint32_t shaderCheck = 0;          // ShaderProgram::DestroyedCount() when shader was found
};

// The world matrix of yaw, pitch, roll (degrees), scaled per column, with
// the translation p x distance.
void BuildMeshWorld(plat::Matrix* out, const plat::Vec3& rotation, const plat::Vec3& scaling,
                    const plat::Vec3& position, float distance);

// The light of the current scene: its direction and position (see the
// scene's point named "Light").
void GetLightDirection(const Engine* e, plat::Vec3* direction, plat::Vec3* position);

// Draws a mesh into the current scene with the active camera; leaves the
// world transform identity, no program bound and depth off.
void DrawMesh(Engine* e, GameMesh* mesh);

// Moves each vertex of a projected mesh out along its direction onto the
// panorama's depth: positions (count, stride bytes apart) are written from
// the bind positions transformed by m. depth holds 6 x 128 x 128 bytes.
void ProjectMeshVertices(const plat::Vec3* bind, uint32_t count, uint8_t* out, uint32_t stride,
                         const plat::Matrix& m, const plat::Vec3& direction, float scale_x, const float k[6],
                         const uint8_t* depth);

// The colour that multiplies a mesh's ambient colour when it is drawn alone
// (Engine::DrawMeshWithCamera); 0xFFFFFFFF leaves it as it is.
void SetMeshDrawTint(uint32_t argb);

// The object as a live mesh, or null.
GameMesh* MeshFromObject(EObject* object);
