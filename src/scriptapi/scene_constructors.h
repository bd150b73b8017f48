#pragma once
// The scene being loaded: the scene on which the scene-file constructors
// (page, cubefaces, view, mesh, ...) act. beginscene sets it, endscene
// clears it, and scene loading holds it while a scene's "data" script runs.
#include <cstdint>

#include "base/object_list.h"
#include "platform/gpu/d3dx/math_types.h"
#include "scriptapi/list_name_index.h"

class ConstructorFields;
class EObject;
class GameScene;
struct ResourceRecord;
struct lua_State;

GameScene* SceneBeingLoaded();
void SetSceneBeingLoaded(GameScene* scene);

// A sound named in a scene file (channel 0, not 3-D): the record of that
// name when one without the 3-D bit exists, else a new declaration; null
// for a null or empty name.
ResourceRecord* DeclareSceneSound(const char* name);

// The field readers the constructors share. An image named by a string
// field, declared with the flags (its path variables expanded first when
// asked); null for a missing or empty name.
ResourceRecord* DeclareImageField(const ConstructorFields& t, const char* key, uint32_t flags, bool expand);
// "%f,%f,%f" of a string field (or the fallback) into v; parts that are not
// given keep their values.
void ReadVectorField(const ConstructorFields& t, const char* key, const char* fallback, plat::Vec3& v);
// "%f,%f" of a string field (or the fallback) into range[0..1], the same way.
void ReadRangeField(const ConstructorFields& t, const char* key, const char* fallback, float range[2]);
// Pushes the object's handle.
void PushHandle(lua_State* L, EObject* object);

// The member of that name; none for an empty name.
template <class T>
T* FindNamed(const ObjectList<T>& list, const char* name) {
    return name && *name ? IndexedFindByName(list, name) : nullptr;
}

// A new object of the class appended, with its defaults.
template <class T>
T* AppendNew(ObjectList<T>& list) {
    T* o = ListAppendNew(list);
    o->SetDefaults();
    return o;
}

// A new object of the class with its defaults, appended under the name.
template <class T>
T* AppendNewNamed(ObjectList<T>& list, const char* name) {
    T* o = new T();
    o->SetDefaults();
    IndexedAppend(list, o, name);
    return o;
}

// The member of that name, or a new one given the name.
template <class T>
T* FindOrAppend(ObjectList<T>& list, const char* name) {
    if (!name) return nullptr;
    if (T* found = IndexedFindByName(list, name)) return found;
    return AppendNewNamed(list, name);
}
