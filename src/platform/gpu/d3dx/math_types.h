#pragma once
// The plain math records shared by the device layer and the engine: row
// vectors, matrices stored row by row, left-handed conventions.
#include <cstdint>

namespace plat {

struct Vec2 {
    float x = 0, y = 0;
};

struct Vec3 {
    float x = 0, y = 0, z = 0;
};

struct Vec4 {
    float x = 0, y = 0, z = 0, w = 0;
};

struct Quat {
    float x = 0, y = 0, z = 0, w = 1;
};

// m[row][col]; a point p transforms as p * M (row vector on the left), so
// the translation lives in row 3.
struct Matrix {
    float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
};

// The rectangle and depth range that normalised device coordinates map to.
struct Viewport {
    uint32_t x = 0, y = 0, width = 0, height = 0;
    float minZ = 0.0f, maxZ = 1.0f;
};

struct Plane {
    float a = 0, b = 0, c = 0, d = 0;
};

}  // namespace plat
