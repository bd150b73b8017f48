#pragma once
// A named pair of vertex and pixel stages with the constants the engine
// sets by standard index or by name.
#include <cstdint>

// Value kinds of the constant calls.
enum ShaderValueKind : uint32_t {
    SHADER_FLOAT = 1,
    SHADER_FLOAT2 = 2,
    SHADER_VECTOR = 4,
    SHADER_MATRIX = 16,
};

// Standard vertex constants: matView, matViewInverse, matViewProjection,
// fvLightPosition, fvEyePosition.
enum StandardVertexConstant : uint32_t {
    VC_VIEW = 0,
    VC_VIEW_INVERSE = 1,
    VC_VIEW_PROJECTION = 2,
    VC_LIGHT_POSITION = 3,
    VC_EYE_POSITION = 4,
    VC_COUNT = 5,
};

// Standard pixel constants: fvAmbient, fvSpecular, fvDiffuse, fSpecularPower.
enum StandardPixelConstant : uint32_t {
    PC_AMBIENT = 0,
    PC_SPECULAR = 1,
    PC_DIFFUSE = 2,
    PC_SPECULAR_POWER = 3,
    PC_COUNT = 4,
};

class ShaderProgram {
public:
    ShaderProgram() = default;
    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;
    virtual ~ShaderProgram() { ++s_destroyed; }

    // Programs destroyed so far (deleted, replaced by a declaration of their
    // name, or gone with the device). Whoever keeps a program across frames
    // notes this count with it, and finds its program again by name when the
    // count has moved.
    static uint32_t DestroyedCount() { return s_destroyed; }

    virtual bool Compile(const char* vertexSource, const char* pixelSource) = 0;
    virtual void Bind() = 0;
    virtual void Unbind() = 0;
    virtual void SetPixelConstant(uint32_t index, const float* value) = 0;
    virtual void SetPixelConstantByName(const char* name, const float* value, uint32_t kind) = 0;
    virtual void SetVertexConstant(uint32_t index, const float* value) = 0;
    virtual void SetVertexConstantByName(const char* name, const float* value, uint32_t kind) = 0;

private:
    inline static uint32_t s_destroyed = 0;
};
