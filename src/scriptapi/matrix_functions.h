#pragma once
// Matrix and quaternion script functions: matrices are 16 floats row by
// row (row vectors, translation in elements 12, 13, 14), quaternions 4
// floats x, y, z, w, both handed to scripts as registered handles of their
// own kinds. One scratch matrix, all zeros until a function writes it,
// stands in where a script passes no matrix.
extern "C" {
#include <lua.h>
}

// The scratch matrix (16 floats), registered as a matrix handle.
float* ScriptScratchMatrix();
// Argument i as a live matrix handle; null otherwise.
float* ScriptArgMatrix(lua_State* L, int i);
// Registers the 16 floats as a matrix handle and pushes it.
void PushScriptMatrix(lua_State* L, float* m);
// Yaw = atan2(m[8], m[10]), pitch = atan2(-m[9], sqrt(m[8]^2 + m[10]^2)),
// roll = atan2(m[1], m[5]), radians.
void MatrixToYawPitchRoll(const float* m, float* yaw, float* pitch, float* roll);
