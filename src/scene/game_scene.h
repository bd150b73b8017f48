#pragma once
// A scene node (class word "scene"): a panoramic node of six cube faces and
// a hotspot map of view directions (view type 2), or a 2-D node of pages
// (view type 1). It owns the lists of its objects, hangs in the node tree by
// its "/"-separated name, has the resource manager load and unload what its
// objects name, and writes itself back as a scene file.
#include <cstdint>
#include <string>

#include "base/object_list.h"
#include "platform/gpu/d3dx/math_types.h"
#include "script/object_model.h"

class Camera;
class CubeFaces;
class GameFx;
class GameMesh;
class HotSpot;
class Patch;
class PointSceneObject;
class ScenePage;
class Stream;
class SurfaceEffect;
struct ResourceRecord;

// View types.
enum SceneViewType : int32_t {
    kViewNone = 0,
    kViewPage = 1,   // 2-D page node
    kViewCube = 2,   // panoramic node
};

// Change-mask bits of the scene's properties, in registration order.
enum GameSceneBits : uint32_t {
    kSceneBitName = 0x1,
    kSceneBitFullname = 0x2,
    kSceneBitCubeFaces = 0x4,
    kSceneBitCubeMasks = 0x8,
    kSceneBitCurrentPage = 0x10,
    kSceneBitViewtype = 0x20,
    kSceneBitCached = 0x40,
    kSceneBitNearDistance = 0x80,
    kSceneBitFarDistance = 0x100,
    kSceneBitSndStep = 0x200,
    kSceneBitSndDoor = 0x400,
};

// Names are built in buffers of this size: at most 255 characters.
constexpr size_t kSceneNameBuffer = 256;

class GameScene : public EObject {
public:
    class GameScene_Initializer : public EObject_Initializer {
    public:
        GameScene_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    GameScene();

    // Re-applies the cube masks when cubeFaces or cubeMasks changed.
    void OnChanged(uint32_t mask) override;
    // The scene file: frame, pages or cube face lines and the hotspot map
    // file, every object's entry, the scene entry.
    void Save(Stream* stream) override;

    // Links the child under this node (nothing when the child is this
    // node's own parent).
    void AddChildNode(GameScene* child);
    // Places the scene in the node tree from its name; a scene that already
    // has a parent is left as it is.
    void AttachToNodeTree();
    // Acquires every resource the scene's objects name; sets resourcesLoaded.
    void LoadResources();
    // Unloads them again (the records stay); clears resourcesLoaded.
    void UnloadResources();

    // The hotspot map cell under the pointer's view direction; 0 for a page
    // node.
    uint32_t HotspotAtView() const;
    // The hotspot's 1-based place in the hotspot list and the centre of its
    // region (degrees), or 0.
    int32_t GetHotspotDirection(const HotSpot* hotspot, float* yaw, float* pitch) const;

    // The hotspot at 1-based place `place` left the hotspot list. Map
    // values are list places: the map in memory (when this is the current
    // scene) and the translation of the scene's "hotspots.bin" (read again
    // at every load, while the list is made once) both follow.
    void HotspotLeftList(uint32_t place);
    // Brings a map just read from the scene's file to the list's present
    // places.
    void RenumberLoadedHotspotMap() const;
    // The file and the list agree again (the map was written, or the
    // objects are made again from the scene files).
    void ResetHotspotMapPlaces() { hotspotMapRenumbered = false; }

    // The scene's part of the per-scene file name: "<DIR_STAGES>/<name>/<file>".
    // False (and out empty) for a nameless scene.
    bool ScenePath(const char* file, std::string* out) const;

    // Unlinks an object from whichever of the scene's lists holds it; false
    // when it is in none. The references into it (cubeFaces, cubeMasks,
    // currentPage, nextPage, camera) are cleared.
    bool UnlinkObject(EObject* object);
    // Deletes every object of the eight lists and the camera, and clears the
    // references; forget (when given) runs for each object just before it
    // is freed, so the engine can drop its pointers into it. Global
    // hotspots lose their links into the scene's hotspots.
    void FreeObjects(void (*forget)(EObject* object) = nullptr);

    // Properties.
    const char* fullname = nullptr;  // interned
    CubeFaces* cubeFaces = nullptr;
    CubeFaces* cubeMasks = nullptr;
    ScenePage* currentPage = nullptr;
    int32_t viewtype = kViewNone;
    bool cached = false;
    float nearDistance = 0;
    float farDistance = 0;
    ResourceRecord* snd_step = nullptr;
    ResourceRecord* snd_door = nullptr;

    // Not properties.
    uint32_t handlerBits = 0;
    bool resourcesLoaded = false;
    bool listenerFollowsView = false;
    bool dataLoaded = false;
    // Its "data" script stopped at an error part way: the scene holds only
    // what came before, and saving it would lose the rest of the file.
    bool dataIncomplete = false;
    bool rotated = false;  // set by the editor scripts (setscenerotated)
    ResourceRecord* cursor = nullptr;
    ObjectList<HotSpot> hotspots;
    ObjectList<GameMesh> meshes;
    ObjectList<PointSceneObject> points;  // point objects and particle sources
    ObjectList<GameFx> fx;
    ObjectList<Patch> patches;
    ObjectList<SurfaceEffect> surfaces;
    ObjectList<ScenePage> pages;
    ObjectList<CubeFaces> cubeFaceSets;
    ScenePage* nextPage = nullptr;  // the page being turned to
    // The face set a scripted cube transition blends towards, and how far.
    CubeFaces* transitionFaces = nullptr;
    float transitionValue = 0;
    Camera* camera = nullptr;
    int32_t depth = 0;
    GameScene* parent = nullptr;
    // File value -> present list place (0: gone), in use once a hotspot
    // left the list after the file was written.
    uint8_t hotspotMapPlaces[256] = {};
    bool hotspotMapRenumbered = false;
};

// The root of the node tree: a scene in no list, without a name, depth 0.
GameScene* SceneRootNode();

// The object kinds of a scene whose classes live in their own files. Each
// kind's code hooks in through SetSceneKindOps; until then the scene walks
// its list without touching resources.
enum SceneObjectKind : int {
    kSceneKindMeshes = 0,
    kSceneKindPoints = 1,
    kSceneKindFx = 2,
    kSceneKindPatches = 3,
    kSceneKindSurfaces = 4,
    kSceneKindCount = 5,
};

struct SceneKindOps {
    // Acquires every resource the object names, in the order of the scene's
    // resource steps (meshes: mesh, htexture, hnormal; fx: image and lens
    // frames; patches: image, sounds, frames; surfaces: texture, frames;
    // points: sound).
    void (*load_resources)(EObject* object);
    // The same records, each unloaded (ResourceManager::Remove, erase false).
    void (*unload_resources)(EObject* object);
    // Points: the sound record, the position in scene units (direction of
    // yaw and pitch times distance) and the unit direction; false when the
    // object has no sound.
    bool (*sound)(EObject* object, ResourceRecord** record, plat::Vec3* position, plat::Vec3* direction);
    // Meshes: the position in the scene; false when it has none.
    bool (*position)(EObject* object, plat::Vec3* position);
};
void SetSceneKindOps(SceneObjectKind kind, const SceneKindOps* ops);
const SceneKindOps* GetSceneKindOps(SceneObjectKind kind);

// Lists of the object kinds, as objects (the list order; null when empty).
// Every scene-object class is a single-inheritance chain from EObject, so a
// member and its EObject share one address (as ObjectFieldOffset assumes).
EObject* SceneKindFirst(const GameScene& scene, SceneObjectKind kind);
inline EObject* SceneListNext(const EObject* object) { return static_cast<EObject*>(object->list_next); }

// The scene lists in the order CollectSceneObjects and deletions visit them:
// hotspots, points, fx, patches, meshes, surfaces, cube face sets, pages.
enum SceneList : int {
    kSceneListHotspots = 0,
    kSceneListPoints,
    kSceneListFx,
    kSceneListPatches,
    kSceneListMeshes,
    kSceneListSurfaces,
    kSceneListCubeFaces,
    kSceneListPages,
    kSceneListCount,
};
EObject* SceneListFirst(const GameScene& scene, SceneList list);
