#pragma once
// What the HLSL compiler hands to the device: GLSL text for one stage, its
// varyings by semantic, its samplers by texture unit and the layout of its
// constants, whose values live in a store shared with the constant table.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gpu/resources.h"

namespace plat::gpu::hlsl {

enum class Stage { Vertex, Pixel };

enum class ConstantClass : uint32_t { Scalar = 0, Vector = 1, MatrixRows = 2, MatrixColumns = 3, Object = 4 };

struct ConstantInfo {
    std::string name;
    ConstantClass cls = ConstantClass::Scalar;
    uint32_t offset = 0;        // bytes into the stage's constant block
    uint32_t rows = 1;          // as written in the source: float4x3 has 4 rows, 3 columns
    uint32_t columns = 1;
    uint32_t elements = 1;      // array length
    uint32_t arrayStride = 0;   // bytes between elements
    uint32_t matrixStride = 0;  // bytes between the stored vectors of a matrix
    bool rowsContiguous = true; // a matrix stores each source row as one vector
    uint32_t bytes = 0;         // size of the whole constant in the block
    bool integer = false;       // int or bool: values are stored as 32-bit integers
    std::vector<float> defaults;  // from the source; empty when it gives none
};

struct ConstantStore {
    std::vector<uint8_t> bytes;
    uint32_t version = 1;
};

struct Varying {
    std::string semantic;  // normalised: POSITION, COLOR0, TEXCOORD3, ...
    uint32_t components = 4;
};

struct SamplerBinding {
    std::string glslName;
    uint32_t unit = 0;
    bool cube = false;
};

// GLSL names the device relies on.
constexpr const char* kVertexBlockName = "QVSGlobals";
constexpr const char* kPixelBlockName = "QPSGlobals";
constexpr const char* kPixelScaleUniform = "qd_pixel";
std::string VaryingName(const std::string& semantic);  // the linked varying, "qv_" + semantic
std::string StageVarName(const std::string& semantic); // the stage's own copy, "qs_" + semantic
// Attribute location of a vertex input semantic.
uint32_t AttributeLocation(const std::string& semantic);

class ShaderCode : public Unknown {
public:
    Stage stage = Stage::Vertex;
    // Pixel stage: complete GLSL. Vertex stage: the text up to the closing
    // brace of main; the device appends the varying copies and the brace.
    std::string glsl;
    std::vector<Varying> inputs;   // vertex: attributes; pixel: varyings read
    std::vector<Varying> outputs;  // vertex: varyings written (POSITION among them)
    std::vector<SamplerBinding> samplers;
    std::vector<ConstantInfo> constants;
    std::shared_ptr<ConstantStore> store;  // sized to the block, may be empty
};

}  // namespace plat::gpu::hlsl
