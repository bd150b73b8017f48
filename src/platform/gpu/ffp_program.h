#pragma once
// GLSL for the fixed-function pipeline, generated per combination of the
// states that change the code: vertex layout, lighting and the stage-0
// colour and alpha operations. Internal to the device.
#include <cstdint>
#include <string>

namespace plat::gpu {

struct FfpKey {
    uint8_t pretransformed = 0, hasNormal = 0, hasDiffuse = 0, hasSpecular = 0, hasTexCoord = 0;
    uint8_t lighting = 0, lightOn = 0, lightType = 1, specular = 0, localViewer = 0, normalize = 0;
    uint8_t colorOp = 0, colorArg1 = 0, colorArg2 = 0, alphaOp = 0, alphaArg1 = 0, alphaArg2 = 0;
    uint8_t textureBound = 0, textureCube = 0, alphaTest = 0, alphaFunc = 0;

    uint64_t Pack() const;
};

// Attribute locations shared by generated code and compiled shaders.
constexpr uint32_t kAttrPosition = 0, kAttrNormal = 1, kAttrDiffuse = 2, kAttrSpecular = 3, kAttrTex0 = 4;

std::string FfpVertexSource(const FfpKey& key);
std::string FfpFragmentSource(const FfpKey& key);

// A vertex stage that feeds a compiled pixel stage from the flexible vertex
// data: pre-transformed or transformed by the fixed matrices. inputs are
// the pixel stage's varyings as semantic:components pairs.
struct PassInput {
    std::string semantic;
    uint32_t components;
};
std::string PassThroughVertexSource(bool pretransformed, bool hasDiffuse, bool hasSpecular, bool hasTexCoord,
                                    const PassInput* inputs, size_t count);

}  // namespace plat::gpu
