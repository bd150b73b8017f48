#pragma once
// Initial values written on global declarations of HLSL source
// ("float4 fvAmbient = float4(0.3, 0.3, 0.3, 1.0);"), which the compilers
// drop: read straight from the text.
#include <map>
#include <string>
#include <vector>

namespace plat::gpu::hlsl {

// Name -> the numbers of its initializer in order. Static globals are
// skipped: they are not constants.
std::map<std::string, std::vector<float>> ReadSourceDefaults(const std::string& source);

// Name -> sampler register N of "register(sN)".
std::map<std::string, unsigned> ReadSamplerRegisters(const std::string& source);

}  // namespace plat::gpu::hlsl
