#include "platform/gpu/ffp_program.h"

#include <cstring>

#include "platform/gpu/gpu_types.h"

namespace plat::gpu {

uint64_t FfpKey::Pack() const {
    uint64_t v = 0;
    auto put = [&v](uint64_t x, int bits) { v = (v << bits) | (x & ((1ull << bits) - 1)); };
    put(pretransformed, 1);
    put(hasNormal, 1);
    put(hasDiffuse, 1);
    put(hasSpecular, 1);
    put(hasTexCoord, 1);
    put(lighting, 1);
    put(lightOn, 1);
    put(lightType, 2);
    put(specular, 1);
    put(localViewer, 1);
    put(normalize, 1);
    put(colorOp, 5);
    put(colorArg1, 6);
    put(colorArg2, 6);
    put(alphaOp, 5);
    put(alphaArg1, 6);
    put(alphaArg2, 6);
    put(textureBound, 1);
    put(textureCube, 1);
    put(alphaTest, 1);
    put(alphaFunc, 4);
    return v;
}

namespace {

const char* kVertexHeader = R"(#version 330
layout(location = 0) in vec4 a_pos;
layout(location = 1) in vec3 a_normal;
layout(location = 2) in vec4 a_diffuse;
layout(location = 3) in vec4 a_specular;
layout(location = 4) in vec4 a_tex0;
uniform mat4 u_worldView;
uniform mat4 u_proj;
uniform mat3 u_normalMatrix;
uniform vec4 u_viewport;  // x, y, width, height of the target viewport
vec4 Position() {
)";

std::string PositionCode(bool pretransformed) {
    if (pretransformed) {
        return R"(    float w = a_pos.w == 0.0 ? 1.0 : 1.0 / a_pos.w;
    vec2 ndc = (a_pos.xy + 0.5 - u_viewport.xy) / u_viewport.zw * 2.0 - 1.0;
    return vec4(ndc * w, (2.0 * a_pos.z - 1.0) * w, w);
}
)";
    }
    return R"(    vec4 p = u_proj * (u_worldView * vec4(a_pos.xyz, 1.0));
    return vec4(p.x + p.w / u_viewport.z, -p.y + p.w / u_viewport.w, 2.0 * p.z - p.w, p.w);
}
)";
}

std::string Arg(uint8_t arg, bool alpha) {
    std::string base;
    switch (arg & ta::SelectMask) {
        case ta::Diffuse:
        case ta::Current: base = "v_diffuse"; break;
        case ta::Texture: base = "tex"; break;
        case ta::TFactor: base = "u_tfactor"; break;
        case ta::Specular: base = "v_specular"; break;
        default: base = "vec4(0.0)"; break;
    }
    if (arg & ta::AlphaReplicate) base = "vec4(" + base + ".a)";
    if (arg & ta::Complement) base = "(vec4(1.0) - " + base + ")";
    return base + (alpha ? ".a" : ".rgb");
}

std::string Op(uint8_t op, const std::string& a, const std::string& b) {
    switch (op) {
        case top::SelectArg1: return a;
        case top::SelectArg2: return b;
        case top::Modulate: return a + " * " + b;
        case top::Modulate2x: return "2.0 * " + a + " * " + b;
        case top::Modulate4x: return "4.0 * " + a + " * " + b;
        case top::Add: return a + " + " + b;
        case top::AddSigned: return a + " + " + b + " - 0.5";
        case top::AddSigned2x: return "2.0 * (" + a + " + " + b + " - 0.5)";
        case top::Subtract: return a + " - " + b;
        default: return a;
    }
}

const char* CompareCode(uint8_t func) {
    switch (func) {
        case cmp::Never: return "false";
        case cmp::Less: return "a < u_alphaRef";
        case cmp::Equal: return "a == u_alphaRef";
        case cmp::LessEqual: return "a <= u_alphaRef";
        case cmp::Greater: return "a > u_alphaRef";
        case cmp::NotEqual: return "a != u_alphaRef";
        case cmp::GreaterEqual: return "a >= u_alphaRef";
        default: return "true";
    }
}

}  // namespace

std::string FfpVertexSource(const FfpKey& k) {
    std::string s = kVertexHeader;
    s += PositionCode(k.pretransformed);
    s += R"(uniform vec4 u_matDiffuse, u_matAmbient, u_matSpecular, u_matEmissive;
uniform float u_matPower;
uniform vec4 u_globalAmbient;
uniform vec3 u_lightPos, u_lightDir;
uniform vec4 u_lightDiffuse, u_lightSpecular, u_lightAmbient;
uniform vec4 u_lightAtten;  // constant, linear, quadratic, range
out vec4 v_diffuse;
out vec4 v_specular;
out vec2 v_tex;
void main() {
    gl_Position = Position();
)";
    s += k.hasTexCoord ? "    v_tex = a_tex0.xy;\n" : "    v_tex = vec2(0.0);\n";
    if (k.lighting) {
        s += "    vec3 P = (u_worldView * vec4(a_pos.xyz, 1.0)).xyz;\n";
        s += k.hasNormal ? "    vec3 N = u_normalMatrix * a_normal;\n" : "    vec3 N = vec3(0.0);\n";
        if (k.normalize && k.hasNormal) s += "    N = normalize(N);\n";
        s += "    vec3 ambient = u_matAmbient.rgb * u_globalAmbient.rgb;\n";
        s += "    vec3 diffuse = vec3(0.0);\n    vec3 shine = vec3(0.0);\n";
        if (k.lightOn) {
            if (k.lightType == uint8_t(LightType::Directional)) {
                s += "    vec3 L = normalize(-u_lightDir);\n    float att = 1.0;\n";
            } else {
                s += R"(    vec3 toLight = u_lightPos - P;
    float dist = length(toLight);
    vec3 L = dist > 0.0 ? toLight / dist : vec3(0.0, 0.0, -1.0);
    float att = dist > u_lightAtten.w ? 0.0
        : 1.0 / max(u_lightAtten.x + u_lightAtten.y * dist + u_lightAtten.z * dist * dist, 1e-6);
)";
            }
            s += R"(    float ndl = max(dot(N, L), 0.0);
    ambient += u_matAmbient.rgb * u_lightAmbient.rgb * att;
    diffuse = u_matDiffuse.rgb * u_lightDiffuse.rgb * ndl * att;
)";
            if (k.specular) {
                s += k.localViewer ? "    vec3 V = normalize(-P);\n" : "    vec3 V = vec3(0.0, 0.0, 1.0);\n";
                s += R"(    vec3 H = normalize(V + L);
    float sp = (ndl > 0.0 && u_matPower > 0.0) ? pow(max(dot(N, H), 0.0), u_matPower) : 0.0;
    shine = u_matSpecular.rgb * u_lightSpecular.rgb * sp * att;
)";
            }
        }
        s += "    v_diffuse = vec4(clamp(u_matEmissive.rgb + ambient + diffuse, 0.0, 1.0), u_matDiffuse.a);\n";
        s += "    v_specular = vec4(clamp(shine, 0.0, 1.0), 0.0);\n";
    } else {
        s += k.hasDiffuse ? "    v_diffuse = a_diffuse;\n" : "    v_diffuse = vec4(1.0);\n";
        s += k.hasSpecular ? "    v_specular = a_specular;\n" : "    v_specular = vec4(0.0);\n";
    }
    s += "}\n";
    return s;
}

std::string FfpFragmentSource(const FfpKey& k) {
    std::string s = "#version 330\n";
    s += k.textureCube ? "uniform samplerCube u_tex0;\n" : "uniform sampler2D u_tex0;\n";
    s += R"(uniform vec4 u_tfactor;
uniform float u_alphaRef;
in vec4 v_diffuse;
in vec4 v_specular;
in vec2 v_tex;
out vec4 o_color;
void main() {
)";
    if (k.textureBound)
        s += k.textureCube ? "    vec4 tex = texture(u_tex0, vec3(v_tex, 1.0));\n"
                           : "    vec4 tex = texture(u_tex0, v_tex);\n";
    else
        s += "    vec4 tex = vec4(1.0);\n";
    if (k.colorOp == top::Disable || k.colorOp == 0) {
        s += "    vec3 c = v_diffuse.rgb;\n    float a = v_diffuse.a;\n";
    } else {
        s += "    vec3 c = " + Op(k.colorOp, Arg(k.colorArg1, false), Arg(k.colorArg2, false)) + ";\n";
        if (k.alphaOp == top::Disable || k.alphaOp == 0)
            s += "    float a = v_diffuse.a;\n";
        else
            s += "    float a = " + Op(k.alphaOp, Arg(k.alphaArg1, true), Arg(k.alphaArg2, true)) + ";\n";
    }
    if (k.specular) s += "    c += v_specular.rgb;\n";
    s += "    c = clamp(c, 0.0, 1.0);\n    a = clamp(a, 0.0, 1.0);\n";
    if (k.alphaTest) s += std::string("    if (!(") + CompareCode(k.alphaFunc) + ")) discard;\n";
    s += "    o_color = vec4(c, a);\n}\n";
    return s;
}

std::string PassThroughVertexSource(bool pretransformed, bool hasDiffuse, bool hasSpecular, bool hasTexCoord,
                                    const PassInput* inputs, size_t count) {
    std::string s = kVertexHeader;
    s += PositionCode(pretransformed);
    for (size_t i = 0; i < count; ++i) s += "out vec4 qv_" + inputs[i].semantic + ";\n";
    s += "void main() {\n    gl_Position = Position();\n";
    for (size_t i = 0; i < count; ++i) {
        const std::string& sem = inputs[i].semantic;
        std::string value = "vec4(0.0, 0.0, 0.0, 1.0)";
        if (sem == "COLOR0")
            value = hasDiffuse ? "a_diffuse" : "vec4(1.0)";
        else if (sem == "COLOR1")
            value = hasSpecular ? "a_specular" : "vec4(0.0)";
        else if (sem == "TEXCOORD0" && hasTexCoord)
            value = "vec4(a_tex0.xy, 0.0, 1.0)";
        s += "    qv_" + sem + " = " + value + ";\n";
    }
    s += "}\n";
    return s;
}

}  // namespace plat::gpu
