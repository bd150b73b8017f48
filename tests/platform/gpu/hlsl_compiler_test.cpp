#include "platform/gpu/hlsl/hlsl_compiler.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/gpu/hlsl/source_defaults.h"

namespace {

using namespace plat::gpu;
using namespace plat::gpu::hlsl;

const char* kPs = R"(
// a comment with = signs; float4 fake = 3;
float4 fvAmbient < string UIName = "fvAmbient"; string UIWidget = "Color"; > = float4( 0.25, -0.5, 1.0e0, 1.0f );
float fSpecularPower = 25;
static float hidden = 7;
float4x4 matColor;
bool flag = true;
sampler2D baseMap : register( s2 );
sampler2D other;
float4 ps_main(float2 tex : TEXCOORD0, float4 col : COLOR0) : COLOR0 {
    return tex2D(baseMap, tex) * fvAmbient * fSpecularPower + tex2D(other, tex) + mul(col, matColor) + (flag ? 1 : 0);
}
)";

TEST(HlslCompiler, ReflectsConstantsDefaultsSamplersAndVaryings) {
    ShaderCode* code = nullptr;
    ConstantTable* table = nullptr;
    std::string messages;
    ASSERT_EQ(CompileShader(kPs, std::strlen(kPs), "ps_main", "ps_2_0", 0, &code, &messages, &table), kOk) << messages;
    ConstantHandle amb = table->GetConstantByName(nullptr, "fvAmbient");
    ConstantHandle pow = table->GetConstantByName(nullptr, "fSpecularPower");
    ConstantHandle mat = table->GetConstantByName(nullptr, "matColor");
    ASSERT_NE(amb, nullptr);
    ASSERT_NE(pow, nullptr);
    ASSERT_NE(mat, nullptr);
    EXPECT_EQ(table->GetConstantByName(nullptr, "hidden"), nullptr);
    EXPECT_EQ(table->GetConstantByName(nullptr, "nope"), nullptr);
    EXPECT_EQ(amb->cls, ConstantClass::Vector);
    EXPECT_EQ(pow->cls, ConstantClass::Scalar);
    EXPECT_EQ(mat->rows, 4u);
    ASSERT_EQ(amb->defaults.size(), 4u);
    EXPECT_FLOAT_EQ(amb->defaults[1], -0.5f);
    EXPECT_FLOAT_EQ(amb->defaults[2], 1.0f);
    // The store starts with the defaults in place.
    float v[4];
    std::memcpy(v, code->store->bytes.data() + amb->offset, 16);
    EXPECT_FLOAT_EQ(v[0], 0.25f);
    float p;
    std::memcpy(&p, code->store->bytes.data() + pow->offset, 4);
    EXPECT_FLOAT_EQ(p, 25.0f);
    // Explicit register 2; the other sampler takes the lowest free unit.
    ASSERT_EQ(code->samplers.size(), 2u);
    for (const auto& s : code->samplers) EXPECT_EQ(s.unit, s.glslName == "qt_baseMap" ? 2u : 0u);
    ASSERT_EQ(code->inputs.size(), 2u);
    EXPECT_EQ(code->inputs[0].semantic, "TEXCOORD0");
    EXPECT_EQ(code->inputs[1].semantic, "COLOR0");
    EXPECT_NE(code->glsl.find("in vec4 qv_TEXCOORD0;"), std::string::npos);
    table->Release();
    code->Release();
}

TEST(HlslCompiler, ErrorsComeBackAsText) {
    ShaderCode* code = nullptr;
    std::string messages;
    const char* bad = "float4 ps_main() : COLOR0 { return undefinedThing; }";
    EXPECT_NE(CompileShader(bad, std::strlen(bad), "ps_main", "ps_2_0", 0, &code, &messages, nullptr), kOk);
    EXPECT_EQ(code, nullptr);
    EXPECT_NE(messages.find("undefinedThing"), std::string::npos);
    const char* noPosition = "float4 vs_main(float4 p : POSITION) : TEXCOORD0 { return p; }";
    EXPECT_NE(CompileShader(noPosition, std::strlen(noPosition), "vs_main", "vs_2_0", 0, &code, &messages, nullptr),
              kOk);
    EXPECT_NE(CompileShader("", 0, "main", "gs_4_0", 0, &code, &messages, nullptr), kOk);
}

TEST(SourceDefaults, SkipsBodiesAnnotationsAndStatics) {
    auto d = ReadSourceDefaults(
        "struct S { float a = 1; };\n#define X = 3\nstatic const float k = 2;\n"
        "float3 dir : DIRECTION = {1, -2, .5};\nfloat f() { float local = 9; return local; }\nfloat last=-4;");
    EXPECT_EQ(d.count("a"), 0u);
    EXPECT_EQ(d.count("k"), 0u);
    EXPECT_EQ(d.count("local"), 0u);
    ASSERT_EQ(d["dir"].size(), 3u);
    EXPECT_FLOAT_EQ(d["dir"][1], -2.0f);
    EXPECT_FLOAT_EQ(d["dir"][2], 0.5f);
    ASSERT_EQ(d["last"].size(), 1u);
    EXPECT_FLOAT_EQ(d["last"][0], -4.0f);
}

}  // namespace
