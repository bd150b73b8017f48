// Mesh, matrix and quaternion script functions, checked against values
// worked by hand and against the math library with tolerances: placement and transforms of meshes, the scratch
// matrix standing in for a missing one, rows outside the matrix, handles of
// the right kind only, and a transform handle that dies with its mesh.
#include <cmath>

#include "platform/gpu/d3dx/d3dx_math.h"
#include "scene/game_mesh.h"
#include "script/lua_host.h"
#include "scriptapi/engine_script_test.h"

using scriptapi_test::EngineScriptTest;

namespace {

class MeshFunctions : public EngineScriptTest {
protected:
    void SetUp() override {
        EngineScriptTest::SetUp();
        RegisterAllClassProperties();
        mesh = static_cast<GameMesh*>(CreateObjectByClass("mesh"));
        ScriptPushObject(L, mesh);
        lua_setglobal(L, "m");
    }
    void TearDown() override {
        delete mesh;
        FreeAllPropertyLists();
        EngineScriptTest::TearDown();
    }
    GameMesh* mesh = nullptr;
};

TEST_F(MeshFunctions, PlacementAndRotation) {
    Lua(R"(
        mesh_setposition(m, 0, 10, 0)
        local x, y, z = mesh_getposition(m)
        assert(x == 0 and y == 10 and z == 0)
        mesh_move(m, 0, -10, 0)            -- to the origin: no division
        x, y, z = mesh_getposition(m)
        assert(x == 0 and y == 0 and z == 0)
        mesh_move(m, 3, 0, 4)              -- from distance 0 the offset is the point
        x, y, z = mesh_getposition(m)
        assert(math.abs(x - 3) < 1e-5 and math.abs(z - 4) < 1e-5)
        mesh_setposition(m, 0, 0, 0)
        mesh_setrotation(m, 10, 20, 30)
        local a, b, c = mesh_getrotation(m)
        assert(a == 10 and b == 20 and c == 30)
        assert(mesh_getradius(m) == nil)   -- no mesh resource
        assert(select('#', mesh_getposition(nil)) == 0 and select('#', mesh_getrotation(12)) == 0)
        assert(mesh_collide(m, m) == nil)
    )");
    EXPECT_EQ(mesh->distance, 0.0f);
    EXPECT_NEAR(mesh->position.x, 0.6f, 1e-5);  // the direction kept
    EXPECT_FALSE(std::isnan(mesh->world.m[3][0]));
}

TEST_F(MeshFunctions, MatricesAgainstValuesWorkedByHand) {
    // Row vectors times matrices; quarter turns, so every entry is 0, 1 or
    // -1. Yaw turns about y (x to -z), pitch about x (y to z), roll about z
    // (x to y); a rotation applies roll, then pitch, then yaw.
    Lua(R"(
        local function same(mat, want)
            for row = 0, 3 do
                local v = {matrix_getrow(mat, row)}
                for c = 1, 4 do
                    assert(math.abs(v[c] - want[row * 4 + c]) < 1e-6, row .. ',' .. c)
                end
            end
        end
        local q = math.pi / 2
        local a = matrix_new()
        assert(matrix_rotation(a, q, 0, 0) == a)
        same(a, {0, 0, -1, 0,   0, 1, 0, 0,   1, 0, 0, 0,   0, 0, 0, 1})
        matrix_rotation(a, 0, q, 0)
        same(a, {1, 0, 0, 0,   0, 0, 1, 0,   0, -1, 0, 0,   0, 0, 0, 1})
        matrix_rotation(a, 0, 0, q)
        same(a, {0, 1, 0, 0,   -1, 0, 0, 0,   0, 0, 1, 0,   0, 0, 0, 1})
        -- pitch first, then yaw: x stays x under the pitch, then turns to -z
        matrix_rotation(a, q, q, 0)
        local R = {0, 0, -1, 0,   1, 0, 0, 0,   0, -1, 0, 0,   0, 0, 0, 1}
        same(a, R)
        local b = matrix_new()
        matrix_translation(b, 1, 2, 3)
        same(b, {1, 0, 0, 0,   0, 1, 0, 0,   0, 0, 1, 0,   1, 2, 3, 1})
        matrix_multiple(a, a, b)          -- out may be an input
        same(a, {0, 0, -1, 0,   1, 0, 0, 0,   0, -1, 0, 0,   1, 2, 3, 1})
        -- then a quarter turn about z (given as a vector of length 2)
        local c = matrix_new()
        matrix_rotation(c, q, q, 0)
        matrix_applyrotationaxis(c, 0, 0, 2, q)
        same(c, {0, 0, -1, 0,   0, 1, 0, 0,   1, 0, 0, 0,   0, 0, 0, 1})
        local sc = matrix_rotscale(q, q, 0, 2)
        same(sc, {0, 0, -2, 0,   2, 0, 0, 0,   0, -2, 0, 0,   0, 0, 0, 1})
        -- yaw, pitch and roll come back in degrees
        matrix_rotation(c, 0.3, -0.7, 1.1)
        local y, p, r = matrix_getyawpitchroll(c)
        assert(math.abs(y - 0.3 * 180 / 3.1415925) < 1e-3)
        assert(math.abs(p + 0.7 * 180 / 3.1415925) < 1e-3)
        assert(math.abs(r - 1.1 * 180 / 3.1415925) < 1e-3)
        -- the scratch matrix stands in for a missing first argument
        local s = matrix_translation(nil, 1, 2, 3)
        assert(select(4, matrix_getrow(s, 3)) == 1 and matrix_getrow(s, 3) == 1)
        matrix_applyscale(2)
        assert(matrix_getrow(s, 0) == 2 and select(4, matrix_getrow(s, 3)) == 1)
        matrix_applyscale(b, 3)
        assert(matrix_getrow(b, 3) == 3)
        matrix_applytranslation(nil, 1, 1, 1)
        assert(select(3, matrix_getrow(s, 3)) == 7)
        -- rows outside 0..3 do nothing
        assert(select('#', matrix_getrow(b, 4)) == 0 and select('#', matrix_getrow(b, -1)) == 0)
        matrix_setrow(b, 4, 9, 9, 9, 9)
        matrix_setrow(b, -1, 9, 9, 9, 9)
        matrix_setrow(b, 1, 5, 6, 7, 8)
        assert(select(4, matrix_getrow(b, 1)) == 8)
        -- a quaternion is no matrix, a matrix no quaternion
        local q = quaternion_new()
        assert(select('#', matrix_getrow(q, 0)) == 0 and select('#', quaternion_get(b)) == 0)
        matrix_identity(q)
        assert(select(4, quaternion_get(q)) == 1)
    )");
}

TEST_F(MeshFunctions, QuaternionsAndAngles) {
    plat::Quat qa, qb, qs;
    plat::Matrix ma, mb;
    plat::D3DXMatrixRotationYawPitchRoll(&ma, 0.2f, 0.1f, 0);
    plat::D3DXMatrixRotationYawPitchRoll(&mb, 1.4f, -0.4f, 0);
    plat::D3DXQuaternionRotationMatrix(&qa, &ma);
    plat::D3DXQuaternionRotationMatrix(&qb, &mb);
    plat::D3DXQuaternionSlerp(&qs, &qa, &qb, 0.3f);
    lua_pushnumber(L, qs.x), lua_setglobal(L, "sx");
    lua_pushnumber(L, qs.w), lua_setglobal(L, "sw");
    Lua(R"(
        local q = quaternion_new()
        local x, y, z, w = quaternion_get(q)
        assert(x == 0 and y == 0 and z == 0 and w == 1)
        local a, b, out = quaternion_new(), quaternion_new(), quaternion_new()
        quaternion_setae(a, 0.2 * 180 / 3.1415925, 0.1 * 180 / 3.1415925)
        local mat = matrix_new()
        matrix_rotation(mat, 1.4, -0.4, 0)
        quaternion_setmatrix(b, mat)
        quaternion_slerp(out, a, b, 0.3)
        x, y, z, w = quaternion_get(out)
        assert(math.abs(x - sx) < 1e-5 and math.abs(w - sw) < 1e-5)
        -- yaw and pitch back from a quaternion, wrapped into 0..360
        quaternion_setae(q, -30, 20)
        local yaw, pitch = quaternion_getae(q)
        assert(math.abs(yaw - 330) < 1e-3 and math.abs(pitch - 20) < 1e-3)
        yaw, pitch = ae_fromvec(0, 0, 1)
        assert(yaw == 0 and pitch == 0)
        yaw, pitch = ae_fromvec(0, 0, -1)
        assert(math.abs(yaw - 180) < 1e-3 and pitch == 0)
        -- matrix_fromvec turns +z towards the vector; rotation_fromvec is it
        rotation_fromvec(1, 0, 0)
        mesh_settransform(m, nil)
        local r0, r1, r2 = matrix_getrow(mesh_gettransform(m), 2)
        assert(math.abs(r0 - 1) < 1e-5 and math.abs(r2) < 1e-5)
        -- missing quaternions: nothing happens
        quaternion_set(nil, 1, 2, 3, 4)
        quaternion_slerp(out, a, nil, 1)
        quaternion_setmatrix(out, nil)
        x = quaternion_get(out)
        assert(math.abs(x - sx) < 1e-5)
    )");
}

TEST_F(MeshFunctions, TransformsThroughTheScratchAndTheMeshsOwnMatrix) {
    Lua(R"(
        matrix_rottrans(1.5707963, 0, 0, 30, 40, 0)
        mesh_settransform(m, nil)
        mesh_updatetransform(m)
        local yaw = mesh_getrotation(m)
        assert(math.abs(yaw - 90) < 1e-3)
        local x, y, z = mesh_getposition(m)
        assert(math.abs(x - 30) < 1e-4 and math.abs(y - 40) < 1e-4)
        local t = mesh_gettransform(m)
        matrix_setrow(t, 3, 0, 0, 0, 1)   -- writing through the handle moves the mesh
        mesh_updatetransform(m)           -- no translation: no division
        x, y, z = mesh_getposition(m)
        assert(x == 0 and y == 0 and z == 0)
        TRANSFORM = t
        mesh_settime(m, 0.5)
        mesh_settime(m, 0.25, nil, 'x')
    )");
    EXPECT_EQ(mesh->position1, 0.25f);
    EXPECT_EQ(mesh->position2, 0.25f);
    EXPECT_EQ(mesh->blendWeight, 0.0f);
    EXPECT_FALSE(std::isnan(mesh->position.x));
    delete mesh;
    mesh = nullptr;
    // The transform handle went with its mesh.
    Lua(R"(
        assert(select('#', matrix_getrow(TRANSFORM, 0)) == 0)
        matrix_setrow(TRANSFORM, 0, 1, 2, 3, 4)
        assert(mesh_gettransform(m) == nil)
    )");
}

}  // namespace
