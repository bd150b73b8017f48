#include "platform/gpu/hlsl/shader_code.h"

namespace plat::gpu::hlsl {

std::string VaryingName(const std::string& semantic) { return "qv_" + semantic; }
std::string StageVarName(const std::string& semantic) { return "qs_" + semantic; }

uint32_t AttributeLocation(const std::string& semantic) {
    if (semantic == "POSITION") return 0;
    if (semantic == "NORMAL0") return 1;
    if (semantic == "COLOR0") return 2;
    if (semantic == "COLOR1") return 3;
    if (semantic.rfind("TEXCOORD", 0) == 0 && semantic.size() == 9 && semantic[8] >= '0' && semantic[8] <= '7')
        return 4 + uint32_t(semantic[8] - '0');
    if (semantic == "TANGENT0") return 12;
    if (semantic == "BINORMAL0") return 13;
    if (semantic == "BLENDWEIGHT0") return 14;
    return 15;
}

}  // namespace plat::gpu::hlsl
