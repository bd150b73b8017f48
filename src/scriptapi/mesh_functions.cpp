// Script functions that place, transform, animate and draw scene meshes:
// mesh_*. (mesh_remove is the registry's empty function.)
#include <cmath>

#include "app/engine.h"
#include "base/text.h"
#include "media/mesh/mesh_data.h"
#include "media/resource_manager.h"
#include "render/geometry.h"
#include "render/vector_math.h"
#include "scene/game_mesh.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_handles.h"
#include "scriptapi/matrix_functions.h"
#include "scriptapi/rect_functions.h"

namespace {

GameMesh* ArgMesh(lua_State* L, int i) { return static_cast<GameMesh*>(ScriptArgObject(L, i, "mesh")); }

float Num(lua_State* L, int i) { return ScriptArgFloat(L, i); }

// The geometry of a mesh whose resource is loaded (never loads it).
const MeshGeometry* LoadedGeometry(const GameMesh* m) {
    const ResourceRecord* r = m ? m->hmesh : nullptr;
    if (!r || r->type != kResourceMesh || !r->object) return nullptr;
    return static_cast<const MeshData*>(r->object)->geometry;
}

// The tint is read before the mesh is taken: turning a number into text may
// run a finaliser that frees the mesh.
int MeshDraw(lua_State* L) {
    uint32_t tint = 0xFF808080u;
    if (const char* text = ScriptArgText(L, 3)) tint = ParseHexColor(text, 0xFFFFFFFFu);
    GameMesh* m = ArgMesh(L, 1);
    const Rect* rect = ScriptArgRect(L, 2);
    Engine* e = CurrentEngine();
    if (!m || !rect || !e) return 0;
    SetMeshDrawTint(tint);
    e->DrawMeshWithCamera(m, rect->x, rect->y, rect->w, rect->h);
    SetMeshDrawTint(0xFFFFFFFFu);
    return 0;
}

int MeshSetPosition(lua_State* L) {
    GameMesh* m = ArgMesh(L, 1);
    if (!m) return 0;
    m->SetWorldPosition({Num(L, 2), Num(L, 3), Num(L, 4)});
    m->OnChanged(kMeshBitPosition);
    return 0;
}

int MeshMove(lua_State* L) {
    GameMesh* m = ArgMesh(L, 1);
    if (!m) return 0;
    const plat::Vec3 p = m->WorldPosition();
    m->SetWorldPosition({p.x + Num(L, 2), p.y + Num(L, 3), p.z + Num(L, 4)});
    m->OnChanged(kMeshBitRotation);
    return 0;
}

int MeshGetPosition(lua_State* L) {
    const GameMesh* m = ArgMesh(L, 1);
    if (!m) return 0;
    const plat::Vec3 p = m->WorldPosition();
    lua_pushnumber(L, p.x);
    lua_pushnumber(L, p.y);
    lua_pushnumber(L, p.z);
    return 3;
}

int MeshSetRotation(lua_State* L) {
    GameMesh* m = ArgMesh(L, 1);
    if (!m) return 0;
    m->rotation = {Num(L, 2), Num(L, 3), Num(L, 4)};
    m->OnChanged(kMeshBitRotation);
    return 0;
}

int MeshGetRotation(lua_State* L) {
    const GameMesh* m = ArgMesh(L, 1);
    if (!m) return 0;
    lua_pushnumber(L, m->rotation.x);
    lua_pushnumber(L, m->rotation.y);
    lua_pushnumber(L, m->rotation.z);
    return 3;
}

int MeshGetRadius(lua_State* L) {
    if (const MeshGeometry* g = LoadedGeometry(ArgMesh(L, 1)))
        lua_pushnumber(L, g->sphere_radius);
    else
        lua_pushnil(L);
    return 1;
}

int MeshUpdate(lua_State* L) {
    if (GameMesh* m = ArgMesh(L, 1)) m->OnChanged(0x3C);
    return 0;
}

int MeshSetTransform(lua_State* L) {
    GameMesh* m = ArgMesh(L, 1);
    if (!m) return 0;
    const float* source = lua_isuserdata(L, 2) ? ScriptArgMatrix(L, 2) : ScriptScratchMatrix();
    if (source) m->world = *reinterpret_cast<const plat::Matrix*>(source);
    return 0;
}

int MeshGetTransform(lua_State* L) {
    GameMesh* m = ArgMesh(L, 1);
    if (!m) {
        lua_pushnil(L);
        return 1;
    }
    PushScriptMatrix(L, &m->world.m[0][0]);
    return 1;
}

int MeshUpdateTransform(lua_State* L) {
    GameMesh* m = ArgMesh(L, 1);
    if (!m) return 0;
    const float* w = &m->world.m[0][0];
    m->SetWorldPosition({w[12], w[13], w[14]});
    float yaw, pitch, roll;
    MatrixToYawPitchRoll(w, &yaw, &pitch, &roll);
    m->rotation = {RadToDeg(yaw), RadToDeg(pitch), RadToDeg(roll)};
    return 0;
}

int MeshSetTime(lua_State* L) {
    GameMesh* m = ArgMesh(L, 1);
    if (!m) return 0;
    const float t = Num(L, 2);
    m->position1 = t;
    m->position2 = lua_type(L, 3) == LUA_TNUMBER ? Num(L, 3) : t;
    m->blendWeight = lua_type(L, 4) == LUA_TNUMBER ? Num(L, 4) : 0.0f;
    return 0;
}

int MeshCollide(lua_State* L) {
    const GameMesh* a = ArgMesh(L, 1);
    const GameMesh* b = ArgMesh(L, 2);
    const MeshGeometry* ga = LoadedGeometry(a);
    const MeshGeometry* gb = LoadedGeometry(b);
    if (!ga || !gb) return 0;
    const plat::Vec3 d{a->position.x - b->position.x, a->position.y - b->position.y, a->position.z - b->position.z};
    lua_pushboolean(L, ga->sphere_radius + gb->sphere_radius > 2.0f * Vec3Length(d));
    return 1;
}

ScriptFunctionRecord s_mesh_draw("mesh_draw", MeshDraw);
ScriptFunctionRecord s_mesh_setposition("mesh_setposition", MeshSetPosition);
ScriptFunctionRecord s_mesh_move("mesh_move", MeshMove);
ScriptFunctionRecord s_mesh_getposition("mesh_getposition", MeshGetPosition);
ScriptFunctionRecord s_mesh_setrotation("mesh_setrotation", MeshSetRotation);
ScriptFunctionRecord s_mesh_getrotation("mesh_getrotation", MeshGetRotation);
ScriptFunctionRecord s_mesh_getradius("mesh_getradius", MeshGetRadius);
ScriptFunctionRecord s_mesh_update("mesh_update", MeshUpdate);
ScriptFunctionRecord s_mesh_settransform("mesh_settransform", MeshSetTransform);
ScriptFunctionRecord s_mesh_gettransform("mesh_gettransform", MeshGetTransform);
ScriptFunctionRecord s_mesh_updatetransform("mesh_updatetransform", MeshUpdateTransform);
ScriptFunctionRecord s_mesh_settime("mesh_settime", MeshSetTime);
ScriptFunctionRecord s_mesh_collide("mesh_collide", MeshCollide);

}  // namespace
