#pragma once
// A shader program of the render device: HLSL vertex and pixel stages with
// their constant tables, or, on cards below shader model 2.0 (or with
// shaders switched off), fixed-function light 0 and a material fed by the
// same constant calls.
#include <cstdint>

#include "platform/gpu/gpu_types.h"
#include "platform/gpu/hlsl/constant_table.h"
#include "platform/gpu/resources.h"
#include "render/shader_program.h"

class D3DShaderProgram : public ShaderProgram {
public:
    // name is not copied: the caller's text must outlive the program.
    explicit D3DShaderProgram(const char* name);
    ~D3DShaderProgram() override;

    bool Compile(const char* vertexSource, const char* pixelSource) override;
    void Bind() override;
    void Unbind() override;
    void SetPixelConstant(uint32_t index, const float* value) override;
    void SetPixelConstantByName(const char* name, const float* value, uint32_t kind) override;
    void SetVertexConstant(uint32_t index, const float* value) override;
    void SetVertexConstantByName(const char* name, const float* value, uint32_t kind) override;

    const char* Name() const { return name_; }
    bool UsesFixedFunction() const { return vertexShader_ == nullptr; }
    const plat::gpu::Material& GetMaterial() const { return material_; }
    const plat::gpu::Light& GetLight() const { return light_; }

private:
    friend class D3DRenderDevice;
    void SetByKind(plat::gpu::hlsl::ConstantTable* table, plat::gpu::hlsl::ConstantHandle handle, const float* value,
                   uint32_t kind, bool matrixAllowed);

    const char* name_;
    plat::gpu::hlsl::ConstantTable* vertexTable_ = nullptr;
    plat::gpu::hlsl::ConstantTable* pixelTable_ = nullptr;
    plat::gpu::VertexShader* vertexShader_ = nullptr;
    plat::gpu::PixelShader* pixelShader_ = nullptr;
    plat::gpu::hlsl::ConstantHandle vertexHandles_[5] = {};
    plat::gpu::hlsl::ConstantHandle pixelHandles_[4] = {};
    plat::gpu::Light light_;
    plat::gpu::Material material_;
    D3DShaderProgram* next_ = nullptr;
};
