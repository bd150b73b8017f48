#pragma once
// HLSL source to GLSL for the device: glslang's HLSL front end in its
// DirectX 9 compatible mode makes SPIR-V, SPIRV-Cross writes GLSL 330, and
// the varyings, constant blocks and samplers are renamed and mapped so the
// stages link and take their constants by name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/gpu/gpu_types.h"
#include "platform/gpu/hlsl/constant_table.h"
#include "platform/gpu/hlsl/shader_code.h"

namespace plat::gpu::hlsl {

// profile: "vs_1_1" to "vs_3_0" or "ps_1_1" to "ps_3_0". On success *code
// and *table (when asked for) hold one reference each. messages receives the
// compiler's errors and warnings (empty when there are none).
Result CompileShader(const char* source, size_t length, const char* entry, const char* profile, uint32_t flags,
                     ShaderCode** code, std::string* messages, ConstantTable** table);

}  // namespace plat::gpu::hlsl
