#pragma once
// The rendering device: Direct3D 9 in shape, OpenGL 3.3 core inside.
// Render targets are framebuffer objects with row 0 at the top, so pixel
// coordinates, viewports, scissors and read-backs match Direct3D without
// flipping; only Present flips onto the window.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "platform/gpu/gpu_types.h"
#include "platform/gpu/resources.h"

namespace plat::gpu {

class Direct3D;
struct FfpProgram;

class Device : public Unknown {
public:
    // Frame and presentation.
    Result TestCooperativeLevel();
    Result Reset(PresentParameters* params);
    Result Present(const Rect* source, const Rect* dest, void* overrideWindow, const void* dirtyRegion);
    Result GetDeviceCaps(Caps* caps) const;
    Result GetDisplayMode(uint32_t swapChain, DisplayMode* mode) const;
    Result BeginScene();
    Result EndScene();
    Result Clear(uint32_t count, const Rect* rects, uint32_t flags, uint32_t color, float z,
                 uint32_t stencil);
    void SetGammaRamp(uint32_t swapChain, uint32_t flags, const GammaRamp* ramp);
    void GetGammaRamp(uint32_t swapChain, GammaRamp* ramp) const;

    // States.
    Result SetRenderState(uint32_t state, uint32_t value);
    Result GetRenderState(uint32_t state, uint32_t* value) const;
    Result SetTextureStageState(uint32_t stage, uint32_t type, uint32_t value);
    Result GetTextureStageState(uint32_t stage, uint32_t type, uint32_t* value) const;
    Result SetSamplerState(uint32_t sampler, uint32_t type, uint32_t value);
    Result GetSamplerState(uint32_t sampler, uint32_t type, uint32_t* value) const;
    Result SetTexture(uint32_t stage, BaseTexture* texture);
    Result GetTexture(uint32_t stage, BaseTexture** texture) const;
    Result SetTransform(TransformState which, const Matrix* matrix);
    Result GetTransform(TransformState which, Matrix* matrix) const;
    Result SetViewport(const Viewport* viewport);
    Result GetViewport(Viewport* viewport) const;
    Result SetScissorRect(const Rect* rect);
    Result GetScissorRect(Rect* rect) const;
    Result SetMaterial(const Material* material);
    Result GetMaterial(Material* material) const;
    Result SetLight(uint32_t index, const Light* light);
    Result GetLight(uint32_t index, Light* light) const;
    Result LightEnable(uint32_t index, bool enable);
    Result GetLightEnable(uint32_t index, bool* enable) const;

    // Geometry.
    Result SetFVF(uint32_t fvf);
    Result GetFVF(uint32_t* fvf) const;
    Result SetStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t offset, uint32_t stride);
    Result SetIndices(IndexBuffer* buffer);
    Result DrawPrimitive(PrimitiveType type, uint32_t startVertex, uint32_t primitiveCount);
    Result DrawIndexedPrimitive(PrimitiveType type, int32_t baseVertex, uint32_t minIndex,
                                uint32_t numVertices, uint32_t startIndex, uint32_t primitiveCount);
    Result DrawPrimitiveUP(PrimitiveType type, uint32_t primitiveCount, const void* vertices, uint32_t stride);
    Result DrawIndexedPrimitiveUP(PrimitiveType type, uint32_t minIndex, uint32_t numVertices,
                                  uint32_t primitiveCount, const void* indices, uint32_t indexFormat,
                                  const void* vertices, uint32_t stride);

    // Resources.
    Result CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, uint32_t format,
                         Pool pool, Texture** texture);
    Result CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage, uint32_t format, Pool pool,
                             CubeTexture** texture);
    Result CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, Pool pool, VertexBuffer** buffer);
    Result CreateIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, Pool pool, IndexBuffer** buffer);
    Result CreateOffscreenPlainSurface(uint32_t width, uint32_t height, uint32_t format, Pool pool,
                                       Surface** surface);
    Result CreateDepthStencilSurface(uint32_t width, uint32_t height, uint32_t format, Surface** surface);

    // Targets and copies.
    Result GetBackBuffer(uint32_t swapChain, uint32_t index, Surface** surface);
    Result SetRenderTarget(uint32_t index, Surface* surface);
    Result GetRenderTarget(uint32_t index, Surface** surface);
    Result SetDepthStencilSurface(Surface* surface);
    Result GetDepthStencilSurface(Surface** surface);
    Result GetRenderTargetData(Surface* target, Surface* destination);
    Result GetFrontBufferData(uint32_t swapChain, Surface* destination);
    Result StretchRect(Surface* source, const Rect* sourceRect, Surface* dest, const Rect* destRect,
                       uint32_t filter);

    // Shaders.
    Result CreateVertexShader(const hlsl::ShaderCode* code, VertexShader** shader);
    Result CreatePixelShader(const hlsl::ShaderCode* code, PixelShader** shader);
    // Compiles and links the GL program of a vertex and pixel stage pair now
    // rather than at its first draw; fails (LastError says why) when the GL
    // refuses it.
    Result LinkShaders(VertexShader* vs, PixelShader* ps);
    Result SetVertexShader(VertexShader* shader);
    Result SetPixelShader(PixelShader* shader);
    VertexShader* GetVertexShader() const { return vertexShader_; }
    PixelShader* GetPixelShader() const { return pixelShader_; }

    // Text of the last failure the device saw (a GL program that would not link).
    const std::string& LastError() const { return lastError_; }

    // Counts of GL calls issued for state and draws, for measuring caches,
    // and of the vertex and index bytes handed to GL.
    struct Stats {
        uint64_t stateCalls = 0, drawCalls = 0, programBinds = 0, textureBinds = 0, uploadBytes = 0;
        uint64_t programLinks = 0;  // GL programs compiled and linked
    };
    const Stats& GetStats() const { return stats_; }
    void ResetStats() { stats_ = {}; }

    // GL state was changed behind the device's back (a caller of its own on
    // the same context): every shadowed setting is dropped and set again at
    // the next draw.
    void ForgetGlState();

    // Internal: the GL context must be current for GL work.
    void MakeCurrent();
    void Track(DeviceChild* child) { children_.insert(child); }
    void CountUpload(uint64_t bytes) { stats_.uploadBytes += bytes; }
    void Untrack(DeviceChild* child) { children_.erase(child); }
    void ForgetTexture(BaseTexture* texture);
    void ForgetShader(Shader* shader);

private:
    friend class Direct3D;
    friend class Surface;
    friend class BaseTexture;
    struct Gl;  // GL objects and shadowed GL state

    Device(Direct3D* d3d, const PresentParameters& params);
    ~Device() override;
    Result Init(std::string* error);
    Result CreateBackBuffer();
    void DestroyBackBuffer();
    void ResetStates();
    bool PrepareDraw(uint32_t stride, uint32_t glBuffer, uintptr_t base);
    uintptr_t StreamUpload(bool indices, const void* data, size_t bytes);
    void ApplyFramebuffer();
    void ApplyRenderStates();
    void BindTextures(uint32_t units);
    void SetupAttributes(uint32_t fvf, uint32_t stride, uintptr_t base);
    uint32_t SelectProgram(uint32_t fvf);  // texture units the program samples, ~0u on failure
    uint32_t LinkShaderPair(VertexShader* vs, PixelShader* ps, uint32_t fvf);
    FfpProgram* FindOrLinkPair(VertexShader* vs, PixelShader* ps, uint32_t fvf, uint32_t variant);
    void UploadShaderConstants(Shader* shader, uint32_t binding);
    void FlushDepthClear();

    Direct3D* d3d_;
    PresentParameters params_;
    std::unique_ptr<Gl> gl_;
    void* window_ = nullptr;  // SDL_Window*
    void* context_ = nullptr; // SDL_GLContext
    bool ownWindow_ = false;
    bool inScene_ = false;
    bool lostSeen_ = false;
    std::string lastError_;
    Stats stats_;
    std::unordered_set<DeviceChild*> children_;

    uint32_t renderStates_[rs::Count] = {};
    uint32_t stageStates_[kMaxStages][tss::Count] = {};
    uint32_t samplerStates_[kMaxStages][ss::Count] = {};
    BaseTexture* textures_[kMaxStages] = {};
    Matrix world_, view_, projection_;
    Viewport viewport_;
    Rect scissor_;
    Material material_;
    Light light0_;
    bool light0Enabled_ = false;
    uint32_t fvf_ = 0;
    VertexBuffer* stream_ = nullptr;
    uint32_t streamOffset_ = 0, streamStride_ = 0;
    IndexBuffer* indices_ = nullptr;
    VertexShader* vertexShader_ = nullptr;
    PixelShader* pixelShader_ = nullptr;
    Surface* renderTarget_ = nullptr;
    Surface* depthStencil_ = nullptr;
    Surface* backBuffer_ = nullptr;
    Surface* autoDepth_ = nullptr;
    // A whole-viewport depth and stencil clear not made yet. It is made at
    // the first draw that tests depth, before the target or the depth
    // surface changes, or before another depth clear that does not cover
    // it; a frame that never tests depth (a page, a 2-D panel) never pays
    // for filling the depth buffer.
    struct PendingDepthClear {
        bool active = false;
        uint32_t bits = 0;  // GL clear bits: depth, stencil
        float z = 1.0f;
        uint32_t stencil = 0;
        int32_t left = 0, top = 0, right = 0, bottom = 0;
    } pendingDepth_;
    GammaRamp gamma_;
    uint32_t nextShaderId_ = 1;
};

}  // namespace plat::gpu
