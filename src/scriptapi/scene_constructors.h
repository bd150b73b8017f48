#pragma once
// The scene being loaded: the scene on which the scene-file constructors
// (page, cubefaces, view, mesh, ...) act. beginscene sets it, endscene
// clears it, and scene loading holds it while a scene's "data" script runs.
class GameScene;
struct ResourceRecord;

GameScene* SceneBeingLoaded();
void SetSceneBeingLoaded(GameScene* scene);

// A sound named in a scene file (channel 0, not 3-D): the record of that
// name when one without the 3-D bit exists, else a new declaration; null
// for a null or empty name.
ResourceRecord* DeclareSceneSound(const char* name);
