// Script functions of 3-D rotation arithmetic: matrix_*, quaternion_*,
// matrix_fromvec (also bound as rotation_fromvec) and ae_fromvec.
#include "scriptapi/matrix_functions.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "base/memory.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/geometry.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_handles.h"

namespace {

float g_scratch[16] = {};

// Matrices and quaternions made by scripts: never freed, kept reachable.
std::vector<float*>& ScriptMade() {
    static std::vector<float*> made;
    return made;
}

plat::Matrix& AsMatrix(float* m) { return *reinterpret_cast<plat::Matrix*>(m); }
plat::Quat& AsQuat(float* q) { return *reinterpret_cast<plat::Quat*>(q); }

float* NewScriptFloats(size_t n, ScriptHandleKind kind) {
    auto* f = static_cast<float*>(MemAlloc(n * sizeof(float)));
    if (!f) return nullptr;
    ScriptMade().push_back(f);
    RegisterScriptHandle(f, kind);
    return f;
}

float* ArgQuat(lua_State* L, int i) {
    return static_cast<float*>(ScriptArgHandle(L, i, ScriptHandleKind::kQuaternion));
}

// The matrix of an optional first argument: a live matrix, the scratch
// matrix when the argument is no userdata, null for a userdata that is no
// live matrix.
float* FirstMatrixOrScratch(lua_State* L) {
    if (lua_isuserdata(L, 1)) return ScriptArgMatrix(L, 1);
    return g_scratch;
}

float Num(lua_State* L, int i) { return ScriptArgFloat(L, i); }

void YawPitchRoll(float* out, float yaw, float pitch, float roll) {
    plat::D3DXMatrixRotationYawPitchRoll(&AsMatrix(out), yaw, pitch, roll);
}

void Identity(float* m) { plat::D3DXMatrixIdentity(&AsMatrix(m)); }

void PushNumbers(lua_State* L, std::initializer_list<float> values) {
    for (float v : values) lua_pushnumber(L, v);
}

// The yaw and pitch (degrees, wrapped and clamped) that turn +z towards the
// third row of m.
void ForwardAngles(const float* m, float* yaw, float* pitch) {
    *yaw = RadToDeg(std::atan2(m[8], m[10]));
    *pitch = RadToDeg(std::atan2(-m[9], std::sqrt(m[8] * m[8] + m[10] * m[10])));
    WrapYawClampPitch(yaw, pitch);
}

int QuaternionNew(lua_State* L) {
    float* q = NewScriptFloats(4, ScriptHandleKind::kQuaternion);
    if (!q) {
        lua_pushnil(L);
        return 1;
    }
    AsQuat(q) = plat::Quat{};
    lua_pushlightuserdata(L, q);
    return 1;
}

int QuaternionSet(lua_State* L) {
    if (float* q = ArgQuat(L, 1)) AsQuat(q) = {Num(L, 2), Num(L, 3), Num(L, 4), Num(L, 5)};
    return 0;
}

int QuaternionGet(lua_State* L) {
    const float* q = ArgQuat(L, 1);
    if (!q) return 0;
    PushNumbers(L, {q[0], q[1], q[2], q[3]});
    return 4;
}

int QuaternionSetAe(lua_State* L) {
    float* q = ArgQuat(L, 1);
    if (!q) return 0;
    plat::Matrix m;
    plat::D3DXMatrixRotationYawPitchRoll(&m, DegToRad(Num(L, 2)), DegToRad(Num(L, 3)), 0.0f);
    plat::D3DXQuaternionRotationMatrix(&AsQuat(q), &m);
    return 0;
}

int QuaternionSetMatrix(lua_State* L) {
    float* q = ArgQuat(L, 1);
    float* m = ScriptArgMatrix(L, 2);
    if (q && m) plat::D3DXQuaternionRotationMatrix(&AsQuat(q), &AsMatrix(m));
    return 0;
}

int QuaternionSlerp(lua_State* L) {
    float* out = ArgQuat(L, 1);
    float* a = ArgQuat(L, 2);
    float* b = ArgQuat(L, 3);
    if (!out || !a || !b) return 0;
    plat::Quat r;
    plat::D3DXQuaternionSlerp(&r, &AsQuat(a), &AsQuat(b), Num(L, 4));
    AsQuat(out) = r;
    return 0;
}

int QuaternionGetAe(lua_State* L) {
    float* q = ArgQuat(L, 1);
    if (!q) return 0;
    plat::Matrix m;
    plat::D3DXMatrixRotationQuaternion(&m, &AsQuat(q));
    float yaw, pitch;
    ForwardAngles(&m.m[0][0], &yaw, &pitch);
    PushNumbers(L, {yaw, pitch});
    return 2;
}

int MatrixConst(lua_State* L) {
    Identity(g_scratch);
    PushScriptMatrix(L, g_scratch);
    return 1;
}

int MatrixNew(lua_State* L) {
    float* m = NewScriptFloats(16, ScriptHandleKind::kMatrix);
    if (!m) {
        lua_pushnil(L);
        return 1;
    }
    Identity(m);
    lua_pushlightuserdata(L, m);
    return 1;
}

int MatrixIdentityFn(lua_State* L) {
    if (float* m = FirstMatrixOrScratch(L)) Identity(m);
    return 0;
}

// Row index 0..3, or -1.
int RowArg(lua_State* L, int i) {
    if (lua_type(L, i) != LUA_TNUMBER) return -1;
    const int row = ScriptArgInt(L, i);
    return row >= 0 && row <= 3 ? row : -1;
}

int MatrixGetRow(lua_State* L) {
    const float* m = ScriptArgMatrix(L, 1);
    const int row = RowArg(L, 2);
    if (!m || row < 0) return 0;
    const float* r = m + row * 4;
    PushNumbers(L, {r[0], r[1], r[2], r[3]});
    return 4;
}

int MatrixSetRow(lua_State* L) {
    float* m = ScriptArgMatrix(L, 1);
    const int row = RowArg(L, 2);
    if (!m || row < 0) return 0;
    for (int c = 0; c < 4; ++c) m[row * 4 + c] = Num(L, 3 + c);
    return 0;
}

int MatrixTranslationFn(lua_State* L) {
    float* m = FirstMatrixOrScratch(L);
    if (!m) return 0;
    plat::D3DXMatrixTranslation(&AsMatrix(m), Num(L, 2), Num(L, 3), Num(L, 4));
    PushScriptMatrix(L, m);
    return 1;
}

int MatrixRotationFn(lua_State* L) {
    float* m = FirstMatrixOrScratch(L);
    if (!m) return 0;
    YawPitchRoll(m, Num(L, 2), Num(L, 3), Num(L, 4));
    PushScriptMatrix(L, m);
    return 1;
}

int MatrixApplyScaleFn(lua_State* L) {
    float* m = g_scratch;
    float s = Num(L, 1);
    if (lua_isuserdata(L, 1)) {
        m = ScriptArgMatrix(L, 1);
        s = Num(L, 2);
    }
    if (!m) return 0;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) m[r * 4 + c] *= s;
    return 0;
}

int MatrixApplyTranslation(lua_State* L) {
    float* m = FirstMatrixOrScratch(L);
    if (!m) return 0;
    m[12] += Num(L, 2);
    m[13] += Num(L, 3);
    m[14] += Num(L, 4);
    return 0;
}

// m = m x r, through a temporary.
void MultiplyInto(float* m, const plat::Matrix& r) {
    plat::Matrix out;
    plat::D3DXMatrixMultiply(&out, &AsMatrix(m), &r);
    AsMatrix(m) = out;
}

int MatrixApplyRotation(lua_State* L) {
    float* m = FirstMatrixOrScratch(L);
    if (!m) return 0;
    plat::Matrix r;
    plat::D3DXMatrixRotationYawPitchRoll(&r, Num(L, 2), Num(L, 3), Num(L, 4));
    MultiplyInto(m, r);
    return 0;
}

int MatrixApplyRotationAxis(lua_State* L) {
    float* m = ScriptArgMatrix(L, 1);
    if (!m) return 0;
    const plat::Vec3 axis{Num(L, 2), Num(L, 3), Num(L, 4)};
    plat::Matrix r;
    plat::D3DXMatrixRotationAxis(&r, &axis, Num(L, 5));
    MultiplyInto(m, r);
    return 0;
}

int MatrixGetYawPitchRoll(lua_State* L) {
    const float* m = FirstMatrixOrScratch(L);
    if (!m) return 0;
    float yaw, pitch, roll;
    MatrixToYawPitchRoll(m, &yaw, &pitch, &roll);
    PushNumbers(L, {RadToDeg(yaw), RadToDeg(pitch), RadToDeg(roll)});
    return 3;
}

int MatrixMultiple(lua_State* L) {
    float* out = ScriptArgMatrix(L, 1);
    float* a = ScriptArgMatrix(L, 2);
    float* b = ScriptArgMatrix(L, 3);
    if (!out || !a || !b) return 0;
    plat::Matrix r;
    plat::D3DXMatrixMultiply(&r, &AsMatrix(a), &AsMatrix(b));
    AsMatrix(out) = r;
    return 0;
}

int MatrixRotScale(lua_State* L) {
    YawPitchRoll(g_scratch, Num(L, 1), Num(L, 2), Num(L, 3));
    if (lua_type(L, 4) == LUA_TNUMBER) {
        const float s = Num(L, 4);
        plat::Matrix scale, out;
        plat::D3DXMatrixScaling(&scale, s, s, s);
        plat::D3DXMatrixMultiply(&out, &scale, &AsMatrix(g_scratch));
        AsMatrix(g_scratch) = out;
    }
    PushScriptMatrix(L, g_scratch);
    return 1;
}

int MatrixRotTrans(lua_State* L) {
    YawPitchRoll(g_scratch, Num(L, 1), Num(L, 2), Num(L, 3));
    g_scratch[12] += Num(L, 4);
    g_scratch[13] += Num(L, 5);
    g_scratch[14] += Num(L, 6);
    PushScriptMatrix(L, g_scratch);
    return 1;
}

int MatrixFromVec(lua_State* L) {
    const float x = Num(L, 1), y = Num(L, 2), z = Num(L, 3);
    YawPitchRoll(g_scratch, std::atan2(x, z), std::atan2(-y, std::sqrt(x * x + z * z)), 0.0f);
    return 0;
}

int AeFromVec(lua_State* L) {
    float yaw = 0, pitch = 0;
    DirectionToAngles(plat::Vec3{Num(L, 1), Num(L, 2), Num(L, 3)}, &yaw, &pitch);
    WrapYawClampPitch(&yaw, &pitch);
    PushNumbers(L, {yaw, pitch});
    return 2;
}

ScriptFunctionRecord s_quaternion_new("quaternion_new", QuaternionNew);
ScriptFunctionRecord s_quaternion_setae("quaternion_setae", QuaternionSetAe);
ScriptFunctionRecord s_quaternion_setmatrix("quaternion_setmatrix", QuaternionSetMatrix);
ScriptFunctionRecord s_quaternion_set("quaternion_set", QuaternionSet);
ScriptFunctionRecord s_quaternion_slerp("quaternion_slerp", QuaternionSlerp);
ScriptFunctionRecord s_quaternion_get("quaternion_get", QuaternionGet);
ScriptFunctionRecord s_quaternion_getae("quaternion_getae", QuaternionGetAe);
ScriptFunctionRecord s_matrix_const("matrix_const", MatrixConst);
ScriptFunctionRecord s_matrix_new("matrix_new", MatrixNew);
ScriptFunctionRecord s_matrix_getrow("matrix_getrow", MatrixGetRow);
ScriptFunctionRecord s_matrix_setrow("matrix_setrow", MatrixSetRow);
ScriptFunctionRecord s_matrix_identity("matrix_identity", MatrixIdentityFn);
ScriptFunctionRecord s_matrix_translation("matrix_translation", MatrixTranslationFn);
ScriptFunctionRecord s_matrix_rotation("matrix_rotation", MatrixRotationFn);
ScriptFunctionRecord s_matrix_applyscale("matrix_applyscale", MatrixApplyScaleFn);
ScriptFunctionRecord s_matrix_applytranslation("matrix_applytranslation", MatrixApplyTranslation);
ScriptFunctionRecord s_matrix_getyawpitchroll("matrix_getyawpitchroll", MatrixGetYawPitchRoll);
ScriptFunctionRecord s_matrix_applyrotation("matrix_applyrotation", MatrixApplyRotation);
ScriptFunctionRecord s_matrix_applyrotationaxis("matrix_applyrotationaxis", MatrixApplyRotationAxis);
ScriptFunctionRecord s_matrix_multiple("matrix_multiple", MatrixMultiple);
ScriptFunctionRecord s_matrix_rotscale("matrix_rotscale", MatrixRotScale);
ScriptFunctionRecord s_matrix_rottrans("matrix_rottrans", MatrixRotTrans);
ScriptFunctionRecord s_matrix_fromvec("matrix_fromvec", MatrixFromVec);
ScriptFunctionRecord s_ae_fromvec("ae_fromvec", AeFromVec);

}  // namespace

float* ScriptScratchMatrix() {
    RegisterScriptHandle(g_scratch, ScriptHandleKind::kMatrix);
    return g_scratch;
}

float* ScriptArgMatrix(lua_State* L, int i) {
    return static_cast<float*>(ScriptArgHandle(L, i, ScriptHandleKind::kMatrix));
}

void PushScriptMatrix(lua_State* L, float* m) {
    RegisterScriptHandle(m, ScriptHandleKind::kMatrix);
    lua_pushlightuserdata(L, m);
}

void MatrixToYawPitchRoll(const float* m, float* yaw, float* pitch, float* roll) {
    *yaw = std::atan2(m[8], m[10]);
    *pitch = std::atan2(-m[9], std::sqrt(m[8] * m[8] + m[10] * m[10]));
    *roll = std::atan2(m[1], m[5]);
}
