#pragma once
// Updating and drawing the current scene once per frame: the render list of
// the scene's objects sorted by their order, the scene's update handlers,
// the page or cube drawing, where the pointer looks in a panoramic node and
// the editor overlays; and the engine operations around the render list and
// the screen (object lookup and selection, pointer directions, virtual
// screen conversion, one-line text, one mesh drawn alone, the editor's view
// of the hotspot map).
#include <cstdint>

#include "platform/gpu/d3dx/math_types.h"

struct Engine;
class EObject;
class GameScene;

// Default orders of the scene lists, given to objects whose order is 0 when
// the render list is built.
enum RenderListDefaultOrder : int32_t {
    kOrderCubeFaces = 1,
    kOrderPages = 2,
    kOrderHotspots = 3,
    kOrderPoints = 4,
    kOrderFx = 5,
    kOrderPatches = 6,
    kOrderMeshes = 7,
    kOrderSurfaces = 8,
};

// The render list's exchange sort by order over count entries (equal
// orders are not kept stable; Engine::BuildRenderList uses it).
void SortRenderList(EObject** list, uint32_t count);

// Updates and draws a scene: page scenes (view type 1) call
// "On2DSceneUpdate(%f)" and render the list; cube scenes (2) work out the
// pointer's direction, call "On3DSceneUpdate(%f)" and draw faces and list;
// any other view type is a flat 0xFF208020 screen and nothing else. Then
// "OnSceneAfterRender(%s)", the editor overlays and "OnSceneRender(%s)".
// False only for a null scene.
bool RenderScene(GameScene* scene);

// Pointer yaw and pitch (degrees) of the ray from near to far; false (both
// unchanged) for a ray of zero length.
bool RayToPointerAngles(const plat::Vec3& near_point, const plat::Vec3& far_point, float* yaw, float* pitch);

// Draws one mesh object alone in a screen rectangle. Meshes hook their
// drawing in here; until then nothing is drawn.
using MeshCameraDrawer = void (*)(Engine* e, EObject* mesh, int32_t x, int32_t y, int32_t w, int32_t h);
void SetMeshCameraDrawer(MeshCameraDrawer fn);
// The animation time of a mesh drawn alone: ((frame counter / 2) modulo
// frame count) / frame count as a fraction; 0 without frames.
float MeshAnimationTime(uint32_t frame_counter, uint32_t frame_count);

// Hooks the scene renderer, the render-list builder and the hotspot-map view
// into the frame (done once at start; tests call it again after swapping).
void InstallSceneRenderer();
