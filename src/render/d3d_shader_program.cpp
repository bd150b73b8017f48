#include "render/d3d_shader_program.h"

#include <cstring>
#include <string>

#include "base/log.h"
#include "platform/gpu/hlsl/hlsl_compiler.h"
#include "platform/system.h"
#include "render/d3d_render_device.h"

using namespace plat::gpu;

namespace {

const char* const kVertexNames[5] = {"matView", "matViewInverse", "matViewProjection", "fvLightPosition",
                                     "fvEyePosition"};
const uint32_t kVertexKinds[5] = {SHADER_MATRIX, SHADER_MATRIX, SHADER_MATRIX, SHADER_VECTOR, SHADER_VECTOR};
const char* const kPixelNames[4] = {"fvAmbient", "fvSpecular", "fvDiffuse", "fSpecularPower"};
const uint32_t kPixelKinds[4] = {SHADER_VECTOR, SHADER_VECTOR, SHADER_VECTOR, SHADER_FLOAT};

}  // namespace

D3DShaderProgram::D3DShaderProgram(const char* name) : name_(name) {
    light_.type = LightType::Point;
    light_.diffuse = light_.specular = light_.ambient = {1, 1, 1, 1};
    light_.range = 10000.0f;
    light_.attenuation0 = 1.0f;
}

D3DShaderProgram::~D3DShaderProgram() {
    if (vertexTable_) vertexTable_->Release();
    if (pixelTable_) pixelTable_->Release();
    if (vertexShader_) vertexShader_->Release();
    if (pixelShader_) pixelShader_->Release();
}

bool D3DShaderProgram::Compile(const char* vertexSource, const char* pixelSource) {
    D3DRenderDevice* dev = g_d3dRenderDevice;
    if (!dev || dev->vertexShaderVersion < 0x200 || dev->pixelShaderVersion < 0x200) return true;
    Device* device = dev->GetDevice();
    if (!device) return false;
    const char* shown = name_ ? name_ : "";

    hlsl::ShaderCode* code = nullptr;
    std::string messages;
    const char* vs = vertexSource ? vertexSource : "";
    hlsl::CompileShader(vs, std::strlen(vs), "vs_main", "vs_2_0", 0, &code, &messages, &vertexTable_);
    if (!messages.empty()) LogPrintf("VS - %s:\r\n%s", shown, messages.c_str());
    if (!code) return false;
    Result r = device->CreateVertexShader(code, &vertexShader_);
    code->Release();
    if (Failed(r)) {
        vertexShader_ = nullptr;
        plat::MessageBox(shown, "Error Creating Vertex Shader");
        return false;
    }

    const char* ps = pixelSource ? pixelSource : "";
    messages.clear();
    hlsl::CompileShader(ps, std::strlen(ps), "ps_main", "ps_2_0", 0, &code, &messages, &pixelTable_);
    if (!messages.empty()) LogPrintf("PS - %s:\r\n%s", shown, messages.c_str());
    if (!code) return false;
    r = device->CreatePixelShader(code, &pixelShader_);
    code->Release();
    if (Failed(r)) {
        pixelShader_ = nullptr;
        plat::MessageBox(shown, "Error Creating Pixel Shader");
        return false;
    }
    // The GL program is built now, where the declaration can hear of a
    // failure, rather than at the first draw (a frame's hitch).
    if (Failed(device->LinkShaders(vertexShader_, pixelShader_))) {
        LogPrintf("PS - %s:\r\n%s", shown, device->LastError().c_str());
        return false;
    }
    for (int i = 0; i < 5; ++i) vertexHandles_[i] = vertexTable_->GetConstantByName(nullptr, kVertexNames[i]);
    for (int i = 0; i < 4; ++i) pixelHandles_[i] = pixelTable_->GetConstantByName(nullptr, kPixelNames[i]);
    return true;
}

void D3DShaderProgram::Bind() {
    D3DRenderDevice* dev = g_d3dRenderDevice;
    if (!dev || !dev->GetDevice()) return;
    Device* device = dev->GetDevice();
    if (vertexShader_) {
        if (vertexTable_) vertexTable_->SetDefaults(device);
        if (pixelTable_) pixelTable_->SetDefaults(device);
        device->SetVertexShader(vertexShader_);
        device->SetPixelShader(pixelShader_);
    } else {
        device->SetMaterial(&material_);
        device->SetLight(0, &light_);
        device->LightEnable(0, true);
        dev->SetRenderStateCached(rs::Lighting, 1);
    }
}

void D3DShaderProgram::Unbind() {
    D3DRenderDevice* dev = g_d3dRenderDevice;
    if (!dev || !dev->GetDevice()) return;
    if (vertexShader_) {
        dev->GetDevice()->SetVertexShader(nullptr);
        dev->GetDevice()->SetPixelShader(nullptr);
    } else {
        dev->SetRenderStateCached(rs::Lighting, 0);
        dev->SetRenderStateCached(rs::SpecularEnable, 0);
    }
}

void D3DShaderProgram::SetByKind(hlsl::ConstantTable* table, hlsl::ConstantHandle h, const float* value,
                                 uint32_t kind, bool matrixAllowed) {
    if (!table || !h || !value) return;
    Device* device = g_d3dRenderDevice ? g_d3dRenderDevice->GetDevice() : nullptr;
    switch (kind) {
        case SHADER_FLOAT: table->SetFloat(device, h, value[0]); break;
        case SHADER_FLOAT2: table->SetFloatArray(device, h, value, 2); break;
        case SHADER_VECTOR: {
            const plat::Vec4 v{value[0], value[1], value[2], value[3]};
            table->SetVector(device, h, &v);
            break;
        }
        case SHADER_MATRIX:
            if (matrixAllowed) {
                plat::Matrix m;
                std::memcpy(m.m, value, sizeof m.m);
                table->SetMatrix(device, h, &m);
            }
            break;
        default: break;
    }
}

void D3DShaderProgram::SetVertexConstant(uint32_t index, const float* value) {
    if (index >= 5 || !value) return;
    if (vertexTable_) {
        SetByKind(vertexTable_, vertexHandles_[index], value, kVertexKinds[index], true);
    } else if (index == VC_LIGHT_POSITION) {
        light_.position = {value[0], value[1], value[2]};
    }
}

void D3DShaderProgram::SetPixelConstant(uint32_t index, const float* value) {
    if (index >= 4 || !value) return;
    if (pixelTable_) {
        SetByKind(pixelTable_, pixelHandles_[index], value, kPixelKinds[index], true);
        return;
    }
    ColorValue c;
    if (index != PC_SPECULAR_POWER) c = {value[0], value[1], value[2], value[3]};
    switch (index) {
        case PC_AMBIENT: material_.ambient = c; break;
        case PC_SPECULAR: material_.specular = c; break;
        case PC_DIFFUSE: material_.diffuse = c; break;
        case PC_SPECULAR_POWER:
            material_.power = value[0];
            if (g_d3dRenderDevice) g_d3dRenderDevice->SetRenderStateCached(rs::SpecularEnable, value[0] > 0.0f);
            break;
        default: break;
    }
}

void D3DShaderProgram::SetPixelConstantByName(const char* name, const float* value, uint32_t kind) {
    if (!pixelTable_ || !name) return;
    SetByKind(pixelTable_, pixelTable_->GetConstantByName(nullptr, name), value, kind, false);
}

void D3DShaderProgram::SetVertexConstantByName(const char* name, const float* value, uint32_t kind) {
    if (!vertexTable_ || !name) return;
    SetByKind(vertexTable_, vertexTable_->GetConstantByName(nullptr, name), value, kind, true);
}
