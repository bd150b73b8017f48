#pragma once
// The render device over the Direct3D-shaped GPU layer: creation and
// reset, state caches, render modes, the triangle-list batch, textures,
// render targets, buffers and the shader program list.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/gpu/direct3d.h"
#include "render/render_device.h"

class D3DShaderProgram;

class D3DRenderDevice : public RenderDevice {
public:
    static constexpr uint32_t kBatchBytes = 0x100000;
    static constexpr uint32_t kBatchVertices = 0x8000;

    D3DRenderDevice();
    ~D3DRenderDevice() override;

    int32_t Create(bool reset) override;
    void Destroy() override;
    bool BeginScene() override;
    void EndScene() override;
    void Clear(uint32_t argb) override;
    void Present() override;
    void ClearDepth() override;
    int32_t BeginRenderTarget(TextureRecord* target) override;
    int32_t EndRenderTarget() override;
    void SetRenderMode(uint32_t mode, uint32_t argb) override;
    void DrawImmediate(uint32_t count) override;
    void DrawIndexed(uint32_t first, uint32_t count) override;
    void FlushBatch() override;
    void EnableDepth(bool on) override;
    void SetTransform(int which, const plat::Matrix& m) override;
    void SetViewport(const RenderViewport& viewport) override;
    void GetViewport(RenderViewport* viewport) override;
    void SetTexture(uint32_t stage, TextureRecord* texture) override;
    void SetTextureFilter(uint32_t sampler, uint32_t which, uint32_t mode) override;
    TextureRecord* CreateTexture(int32_t width, int32_t height, int32_t kind, const void* data,
                                 uint32_t size) override;
    void ReleaseTexture(TextureRecord* texture) override;
    void LockTexture(TextureRecord* texture) override;
    void UnlockTexture(TextureRecord* texture) override;
    ShaderProgram* CreateShaderProgram(const char* name, const char* vertexSource,
                                       const char* pixelSource) override;
    ShaderProgram* FindShaderProgram(const char* name) override;
    void DeleteShaderProgram(ShaderProgram* program) override;
    void BindShaderProgram(ShaderProgram* program) override;
    VertexBufferRecord* CreateVertexBuffer(uint32_t format, uint32_t count, uint32_t flags) override;
    void LockVertexBuffer(VertexBufferRecord* buffer) override;
    void UnlockVertexBuffer(VertexBufferRecord* buffer) override;
    void SetVertexBuffer(VertexBufferRecord* buffer) override;
    void ReleaseVertexBuffer(VertexBufferRecord* buffer) override;
    IndexBufferRecord* CreateIndexBuffer(uint32_t count) override;
    void LockIndexBuffer(IndexBufferRecord* buffer) override;
    void UnlockIndexBuffer(IndexBufferRecord* buffer) override;
    void SetIndexBuffer(IndexBufferRecord* buffer) override;
    void ReleaseIndexBuffer(IndexBufferRecord* buffer) override;
    void SetGammaRamp(const uint16_t ramp[256]) override;
    void SetGamma(double red, double green, double blue) override;
    void GetGammaRamp(uint16_t ramp[256]) override;
    void SetScissor(bool on, int32_t x, int32_t y, int32_t w, int32_t h) override;
    void DrawRect(int32_t x, int32_t y, int32_t w, int32_t h, float uL, float vT, float uR, float vB) override;
    int32_t GetDisplayModeCount() override;
    void GetDisplayMode(int32_t index, int32_t* width, int32_t* height, int32_t* refresh) override;
    void GetAdapterInfo(char* out, uint32_t size) override;
    int32_t GetDeviceState() override;

    // State through the caches: the device is called only when the value changes.
    void SetRenderStateCached(uint32_t state, uint32_t value);
    void SetTextureStageStateCached(uint32_t stage, uint32_t type, uint32_t value);
    void SetSamplerStateCached(uint32_t sampler, uint32_t type, uint32_t value);

    // The GPU device, for the few callers that need a call of their own
    // (video surfaces, wire boxes); null before Create.
    plat::gpu::Device* GetDevice() const { return device_; }
    plat::gpu::Direct3D* GetDirect3D() const { return d3d_; }
    // Warning lines of the last creation, each ending "\r\n".
    const std::string& GetWarnings() const { return warnings_; }
    TextureRecord* GetBoundTexture(uint32_t stage) const { return stage < 8 ? boundTextures_[stage] : nullptr; }
    VertexBufferRecord* GetBoundVertexBuffer() const { return boundVertexBuffer_; }
    IndexBufferRecord* GetBoundIndexBuffer() const { return boundIndexBuffer_; }
    uint32_t GetBatchFill() const { return batchFill_; }
    bool EnlargesTextures() const { return enlarge_; }

    // Settings stored by the window object and the display binding before Create.
    const char* windowTitle = nullptr;
    void* window = nullptr;  // the window's SDL_Window*, or null for a hidden one
    uint8_t fullScreen = 0;
    int32_t width = 640, height = 480;
    int32_t bitsPerPixel = 32;
    int32_t refreshRate = 0;
    int32_t requestedMultisample = 0;
    // Results of Create.
    const char* errorText = "";
    uint32_t vertexShaderVersion = 0;
    uint32_t pixelShaderVersion = 0;
    uint32_t capabilityBits = 0;

private:
    friend class D3DShaderProgram;
    void PrimeCaches();
    void DrawStrip(const uint8_t* vertices, uint32_t count, uint32_t stride);
    void AppendToBatch(const uint8_t* vertices, uint32_t count, uint32_t stride);
    void ForgetTarget();
    void ReleaseDeviceObjects();

    plat::gpu::Direct3D* d3d_ = nullptr;
    plat::gpu::Device* device_ = nullptr;
    plat::gpu::Surface* targetSurface_ = nullptr;  // level 0 of the target being drawn into
    plat::gpu::Surface* lockSurface_ = nullptr;    // level 0 of the render target being locked
    plat::gpu::Surface* copySurface_ = nullptr;    // memory copy of a locked render target, kept for the next
    plat::gpu::Surface* savedTarget_ = nullptr;
    plat::gpu::Surface* savedDepth_ = nullptr;
    bool targetOpenedScene_ = false;
    bool sceneOpen_ = false;

    uint32_t renderStates_[256] = {};
    uint32_t stageStates_[8][33] = {};
    uint32_t samplerStates_[8][16] = {};
    TextureRecord* boundTextures_[8] = {};
    uint32_t renderMode_ = 0;
    uint32_t renderColor_ = 0xFFFFFFFFu;
    uint32_t vertexFormat_ = 0xFFFFFFFFu;
    uint32_t vertexSize_ = 0;
    uint8_t depthEnabled_ = 1;
    VertexBufferRecord* boundVertexBuffer_ = nullptr;
    IndexBufferRecord* boundIndexBuffer_ = nullptr;
    uint32_t primitiveKind_ = 4;  // 5 triangle strip, 3 line strip, 4 triangle list
    D3DShaderProgram* programs_ = nullptr;
    plat::gpu::PresentParameters params_;
    plat::gpu::AdapterIdentifier adapter_;
    uint16_t gamma_[3][256] = {};
    uint32_t batchFill_ = 0;
    VertexBufferRecord* batchBuffer_ = nullptr;
    std::unique_ptr<uint8_t[]> batch_;
    uint32_t batchStride_ = 0;  // stride stream 0 was bound with for the batch
    bool conditionalNonPow2_ = false;
    bool pow2Only_ = false;
    bool enlarge_ = false;
    std::string warnings_;
    uint32_t backBufferFormat_ = 0;
};

// The device as the shader programs see it (set by the constructor).
extern D3DRenderDevice* g_d3dRenderDevice;
