#pragma once
// The engine's handlers for the window's input callbacks (the routing
// itself is in the Engine's OnKeyDown .. OnMouseUp, UpdateHover and
// PickHotspot).
#include "platform/gpu/d3dx/math_types.h"

class EObject;
class HotSpot;

// Installs them on the window object (display initialisation).
void InstallEngineInputCallbacks();

void EngineOnKeyDown(int key);
void EngineOnKeyUp(int key);
void EngineOnChar(int code);
void EngineOnMouseWheel(int delta);
void EngineOnMouseDown(int x, int y, int button);
void EngineOnMouseUp(int x, int y, int button);

// True while a live hotspot (found by its handle first: its address alone
// says nothing) is a member of the global list or of the current scene's.
bool IsListedHotspot(const HotSpot* hotspot);

// Picking of hotspots that stand for a mesh: true when the pointer ray
// (origin and direction in world space) meets the mesh object's bounds.
// Meshes hook their test in here; until then such hotspots are not picked.
using MeshRayTest = bool (*)(EObject* mesh, const plat::Vec3& origin, const plat::Vec3& direction);
void SetMeshRayTest(MeshRayTest fn);
