#pragma once
// Scene nodes and the change from one to another: switch requests, the
// walk, dissolve and zoom transitions run one frame at a time, the node
// switch with its script callbacks, the loading of a scene's files, saving a
// scene, deleting objects, and the list helpers of the engine's lists.
#include <cstddef>
#include <cstdint>

#include "base/object_list.h"

struct Engine;
class EObject;
class GameScene;
class Stream;

// Added to the eye by the camera while a walk runs.
extern float g_walkOffset[3];
// The look angles in degrees (ge_look).
extern float g_lookYaw;
extern float g_lookPitch;

// The depth map of the current cube scene, read from "zbuffer.bin".
constexpr size_t kDepthBufferBytes = 98304;
// The buffer (allocated on first use; null when memory runs out).
uint8_t* DepthBuffer();
// Reads up to kDepthBufferBytes from the stream into out; whatever the
// stream does not hold is 0xFF. Returns the bytes read.
size_t ReadDepthBuffer(Stream& stream, uint8_t* out);
// Frees the depth buffer and the hotspot-map image (shut-down).
void FreeSceneBuffers();

// One frame's milliseconds: 1000 / the display's refresh rate.
float SceneFrameMs();

// The fade of a dissolve or page turn: min(elapsed, duration) * 255 /
// duration in 64 bits, clamped to 0..255; 255 when duration <= 0.
int32_t TransitionAlpha(int64_t elapsed, int64_t duration);

// The node switch: leave, exit and init callbacks along the node tree, the
// new scene loaded and the enter callbacks. A null or empty name switches
// to no scene. A running page turn ends.
// Switch, dissolve and walk requests that its scripts make while their kind
// of transition runs are refused with a warning naming the target; so is a
// walk asked for by any script while a dissolve runs.
void NodeSwitch(const char* name, bool run_leave_handlers);
// Loads the engine's current scene.
void LoadScene();
// True while a node switch, a scene load or the scene's drawing runs (and
// with them the scene scripts and handlers they call).
bool SceneChangeRunning();
// Moves a running page turn on by one frame (2-D scene rendering calls it);
// the turn ends once its time exceeds Gameplay.pagefxtime. A warm-up draw
// leaves it where it is.
void AdvancePageTurn(Engine* e);

// The scene name lower-cased on a copy and interned in the common pool;
// null for a null or empty name, and (logged) for one of 256 bytes or more.
const char* InternSceneName(const char* name);

// "<DIR_STAGES>/<scene>/<file>".
void SceneFilePath(char* out, size_t size, const char* scene, const char* file);

// Rebuilding the render list belongs to scene rendering, which installs it;
// until then the list is left empty.
using RenderListBuilder = void (*)(Engine* e);
void SetRenderListBuilder(RenderListBuilder fn);
void RebuildRenderList(Engine* e);

// Draws the current scene to the bound target (the frame, captures). Scene
// rendering installs its own; the default draws the current page or the
// cube faces from the look angles.
using SceneRenderer = void (*)(Engine* e);
void SetSceneRenderer(SceneRenderer fn);
void RenderCurrentScene(Engine* e);
// True while a node switch draws its new scene once off screen to warm the
// GL driver. That draw changes nothing a script or a later picture can see:
// the scene's drawing callbacks are not called, the editor overlays are not
// drawn, and no object moves on (patch time, particle steps and their
// random draws, flare opacity, surface scroll and frames, mesh animation,
// page turns); each object's drawing asks this before it advances.
bool SceneWarmUpDraw();

// Frame step: a requested dissolve capture renders the scene into the
// dissolve buffer (through the post-effect chain when effects ran in the
// last frame) and moves the dissolve on to its switch. True when it did.
bool CaptureDissolve(Engine* e);

// Deletes a scene object: every engine pointer into it is cleared first, and
// its script handle leaves the live registry.
void FreeSceneObject(EObject* object);
// Deletes every object of the scene (and its camera), then the scene.
void DestroySceneObjects(GameScene* scene);
// Deletes every object of the scene (and its camera); the scene stays.
void ClearSceneObjects(GameScene* scene);
// Unlinks the scene from the list, then deletes it with its objects.
void DestroyScene(ObjectList<GameScene>& list, GameScene* scene);
// Deletes every scene of the engine's list with all their objects.
void DeleteAllScenes(Engine* e);

// The index-th member, 0-based; null past the end or for a negative index.
template <class T>
T* ListAt(const ObjectList<T>& list, int index) {
    if (index < 0) return nullptr;
    T* o = list.head;
    for (; o && index > 0; --index) o = ListNext(o);
    return o;
}

// Deletes every member (FreeSceneObject) and empties the list. Each member
// leaves the list before it is freed, so what runs while it is freed (the
// hotspot link clean-up walks the list) meets only live members.
template <class T>
void ListDeleteAll(ObjectList<T>& list) {
    while (T* o = list.head) {
        ListRemove(list, o);
        FreeSceneObject(o);
    }
}

GameScene* ListFindGameSceneByName(const ObjectList<GameScene>& list, const char* name);
GameScene* ListAppendNewGameScene(ObjectList<GameScene>& list);
GameScene* ListFindOrAddGameScene(ObjectList<GameScene>& list, const char* name);

// A chain of records whose first word is the link.
struct SceneObjectRecord {
    SceneObjectRecord* link;
    size_t size;
    void* self;
    void* handle;  // the object's script handle
};
struct SceneObjectChain {
    SceneObjectRecord* head = nullptr;
    SceneObjectRecord* tail = nullptr;
};
// Unlinks a record from the chain, fixing head and tail.
void ChainRemove(SceneObjectChain& chain, SceneObjectRecord* record);
// Frees the chain's records; for a scene appends one record per object of
// its hotspot, point, fx, patch, mesh, surface, cube-face and page lists.
void CollectSceneObjects(GameScene* scene, SceneObjectChain& chain);
void FreeSceneObjectChain(SceneObjectChain& chain);
