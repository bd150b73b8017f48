#pragma once
// The engine's one rendering interface. Everything that draws, makes
// textures, buffers or shader programs, sets transforms or asks for display
// modes goes through it; the handles that cross it are plain records.
#include <cstdint>

#include "platform/gpu/d3dx/math_types.h"

class ShaderProgram;

// Render-mode flag word (first argument of SetRenderMode).
enum RenderModeBits : uint32_t {
    RM_TEXTURED = 0x0001,      // one texture-coordinate pair per vertex, stage-0 texture used
    RM_VERTEX_COLOR = 0x0002,  // one packed ARGB per vertex
    RM_NORMAL = 0x0004,        // normal per vertex; the colour starts from the lit vertex colour
    RM_PRETRANSFORMED = 0x0008,// screen positions x, y, z, reciprocal w
    RM_ALPHA_BLEND = 0x0010,   // source alpha, inverse source alpha, with texture alpha
    RM_ADDITIVE = 0x0100,      // one, one
    RM_DEST_COLOR = 0x0200,    // destination colour, one
    RM_NO_TEXTURE_COLOR = 0x0400,  // with RM_TEXTURED only the texture's alpha takes part
    RM_TRIANGLE_STRIP = 0x1000,
    RM_LINE_STRIP = 0x2000,    // when RM_TRIANGLE_STRIP is clear; neither: triangle list (batched)
};

// Texture kinds of CreateTexture.
enum TextureKind : int32_t {
    TEXKIND_DDS = 0,
    TEXKIND_R5G6B5 = 1,
    TEXKIND_X8R8G8B8 = 2,
    TEXKIND_A8R8G8B8 = 3,
    TEXKIND_L8 = 4,
    TEXKIND_YUY2 = 5,
    TEXKIND_DXT1 = 6,
    TEXKIND_DXT5 = 7,
    TEXKIND_CUBE = 8,
    TEXKIND_RENDER_TARGET = 9,
};

struct TextureRecord {
    int32_t kind = 0;
    void* texture = nullptr;  // the device's texture (a cube texture for kind 8)
    int32_t width = 0;        // requested width (for files: the top level's)
    int32_t height = 0;
    int32_t pitch = 0;        // bytes per row while locked, else 0
    int32_t allocatedWidth = 0;   // width of the device texture
    int32_t allocatedHeight = 0;
    int32_t levels = 1;
    void* bits = nullptr;     // locked pixels, else null
    uint32_t rescaled = 0;    // allocated size differs: coordinates scale by width / allocated width
};

struct VertexBufferRecord {
    uint32_t format = 0;      // render-mode bits 0x1, 0x4, 0x8 of the layout
    uint32_t count = 0;
    uint32_t vertexSize = 0;
    void* position = nullptr; // the three pointers are valid only while locked
    void* normal = nullptr;
    void* texCoord = nullptr;
    uint32_t positionStride = 0, normalStride = 0, texCoordStride = 0;
    uint32_t reserved = 0;
    int32_t normalOffset = -1;
    int32_t texCoordOffset = -1;
    uint32_t dynamic = 0;
    void* buffer = nullptr;   // the device's vertex buffer
};

struct IndexBufferRecord {
    uint32_t count = 0;       // 16-bit indices
    void* locked = nullptr;
    void* buffer = nullptr;
};

using RenderViewport = plat::Viewport;

class RenderDevice {
public:
    RenderDevice() = default;
    RenderDevice(const RenderDevice&) = delete;
    RenderDevice& operator=(const RenderDevice&) = delete;
    virtual ~RenderDevice() = default;

    virtual int32_t Create(bool reset) = 0;
    virtual void Destroy() = 0;
    virtual bool BeginScene() = 0;
    virtual void EndScene() = 0;
    virtual void Clear(uint32_t argb) = 0;
    virtual void Present() = 0;
    virtual void ClearDepth() = 0;
    virtual int32_t BeginRenderTarget(TextureRecord* target);
    virtual int32_t EndRenderTarget();
    virtual void SetRenderMode(uint32_t mode, uint32_t argb) = 0;
    virtual void DrawImmediate(uint32_t count) = 0;
    virtual void DrawIndexed(uint32_t first, uint32_t count) = 0;
    virtual void FlushBatch() = 0;
    virtual void SetVertexArray(const void* data, uint32_t stride);
    virtual void SetVertexArray2(const void* data, uint32_t stride);
    virtual void SetTexCoordArray(const void* data, uint32_t stride);
    virtual void SetVertexArray4(const void* data, uint32_t stride);
    virtual void EnableDepth(bool on) = 0;
    virtual void SetTransform(int which, const plat::Matrix& m) = 0;
    virtual void SetViewport(const RenderViewport& viewport) = 0;
    virtual void GetViewport(RenderViewport* viewport) = 0;
    virtual void SetTexture(uint32_t stage, TextureRecord* texture) = 0;
    virtual void SetTextureFilter(uint32_t sampler, uint32_t which, uint32_t mode) = 0;
    virtual TextureRecord* CreateTexture(int32_t width, int32_t height, int32_t kind, const void* data,
                                         uint32_t size) = 0;
    virtual void ReleaseTexture(TextureRecord* texture) = 0;
    virtual void LockTexture(TextureRecord* texture) = 0;
    virtual void UnlockTexture(TextureRecord* texture) = 0;
    virtual ShaderProgram* CreateShaderProgram(const char* name, const char* vertexSource,
                                               const char* pixelSource) = 0;
    virtual ShaderProgram* FindShaderProgram(const char* name) = 0;
    virtual void DeleteShaderProgram(ShaderProgram* program) = 0;
    virtual void BindShaderProgram(ShaderProgram* program) = 0;
    virtual VertexBufferRecord* CreateVertexBuffer(uint32_t format, uint32_t count, uint32_t flags) = 0;
    virtual void LockVertexBuffer(VertexBufferRecord* buffer) = 0;
    virtual void UnlockVertexBuffer(VertexBufferRecord* buffer) = 0;
    virtual void SetVertexBuffer(VertexBufferRecord* buffer) = 0;
    virtual void ReleaseVertexBuffer(VertexBufferRecord* buffer) = 0;
    virtual IndexBufferRecord* CreateIndexBuffer(uint32_t count) = 0;
    virtual void LockIndexBuffer(IndexBufferRecord* buffer) = 0;
    virtual void UnlockIndexBuffer(IndexBufferRecord* buffer) = 0;
    virtual void SetIndexBuffer(IndexBufferRecord* buffer) = 0;
    virtual void ReleaseIndexBuffer(IndexBufferRecord* buffer) = 0;
    virtual void SetGammaRamp(const uint16_t ramp[256]) = 0;
    virtual void SetGamma(double red, double green, double blue) = 0;
    virtual void GetGammaRamp(uint16_t ramp[256]) = 0;
    virtual void SetScissor(bool on, int32_t x, int32_t y, int32_t w, int32_t h) = 0;
    virtual void DrawRect(int32_t x, int32_t y, int32_t w, int32_t h, float uL, float vT, float uR, float vB) = 0;
    virtual int32_t GetDisplayModeCount() = 0;
    virtual void GetDisplayMode(int32_t index, int32_t* width, int32_t* height, int32_t* refresh) = 0;
    virtual void GetAdapterInfo(char* out, uint32_t size) = 0;
    virtual int32_t GetDeviceState() = 0;

protected:
    // The immediate vertex arrays: one interleaved block, the others point into it.
    const void* vertexArray_ = nullptr;
    uint32_t vertexStride_ = 0;
    const void* vertexArray2_ = nullptr;
    uint32_t vertexStride2_ = 0;
    const void* texCoordArray_ = nullptr;
    uint32_t texCoordStride_ = 0;
    const void* colorArray_ = nullptr;
    uint32_t colorStride_ = 0;
};

// The process's one device, created by the window object or the first
// display-mode query.
extern RenderDevice* g_renderDevice;
