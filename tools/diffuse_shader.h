#pragma once
// A shader program of diffuse lighting from a point light given in the
// mesh's space: the ambient colour plus the diffuse colour by the cosine of
// the light's angle. Shared by the mesh pixel tests and benchmarks.

inline constexpr const char* kDiffuseVs = R"(
float4x4 matViewProjection;
float3 fvLightPosition;
struct VS_INPUT { float4 Position : POSITION0; float3 Normal : NORMAL0; };
struct VS_OUTPUT { float4 Position : POSITION0; float3 Normal : TEXCOORD1; float3 Light : TEXCOORD2; };
VS_OUTPUT vs_main(VS_INPUT Input) {
    VS_OUTPUT Output;
    Output.Position = mul(Input.Position, matViewProjection);
    Output.Normal = Input.Normal;
    Output.Light = fvLightPosition - Input.Position.xyz;
    return Output;
}
)";

inline constexpr const char* kDiffusePs = R"(
float4 fvAmbient;
float4 fvDiffuse;
float4 ps_main(float3 normal : TEXCOORD1, float3 light : TEXCOORD2) : COLOR0 {
    float lit = saturate(dot(normalize(normal), normalize(light)));
    return float4(fvAmbient.rgb + fvDiffuse.rgb * lit, 1.0);
}
)";
