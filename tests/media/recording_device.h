#pragma once
// A RenderDevice that records the calls the 2-D drawing and the textures
// make, and keeps texture pixels in memory, for checking call orders.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "render/render_device.h"

namespace media_test {

class RecordingDevice : public RenderDevice {
public:
    struct Texture {
        TextureRecord record;
        std::vector<uint8_t> pixels;
    };
    std::vector<std::string> calls;
    std::vector<Texture*> textures;  // every texture made, live or not
    int live = 0;
    int32_t dds_kind = TEXKIND_DXT1;            // what a DDS file "contains"
    std::vector<std::vector<float>> immediate;  // vertex data of each immediate draw

    ~RecordingDevice() override {
        for (Texture* t : textures) delete t;
    }
    void Log(const std::string& s) { calls.push_back(s); }
    std::string Joined() const {
        std::string s;
        for (const auto& c : calls) s += c + ";";
        return s;
    }

    int32_t Create(bool) override { return 0; }
    void Destroy() override {}
    bool BeginScene() override { return true; }
    void EndScene() override {}
    void Clear(uint32_t) override {}
    void Present() override {}
    void ClearDepth() override {}
    void SetRenderMode(uint32_t mode, uint32_t argb) override {
        char t[64];
        std::snprintf(t, sizeof t, "mode %x %08x", mode, argb);
        Log(t);
    }
    void DrawImmediate(uint32_t count) override {
        Log("immediate " + std::to_string(count));
        const auto* f = static_cast<const float*>(vertexArray_);
        immediate.emplace_back(f, f + count * vertexStride_ / sizeof(float));
    }
    void DrawIndexed(uint32_t, uint32_t) override {}
    void FlushBatch() override {}
    void EnableDepth(bool) override {}
    void SetTransform(int, const plat::Matrix&) override {}
    void SetViewport(const RenderViewport&) override {}
    void GetViewport(RenderViewport*) override {}
    void SetTexture(uint32_t stage, TextureRecord* t) override {
        Log("texture " + std::to_string(stage) + (t ? " set" : " none"));
    }
    void SetTextureFilter(uint32_t sampler, uint32_t which, uint32_t mode) override {
        Log("filter " + std::to_string(sampler) + " " + std::to_string(which) + " " + std::to_string(mode));
    }
    TextureRecord* CreateTexture(int32_t w, int32_t h, int32_t kind, const void* data,
                                 uint32_t size) override {
        Log("create " + std::to_string(kind) + " " + std::to_string(w) + "x" + std::to_string(h) + " " +
            std::to_string(size));
        auto* t = new Texture;
        textures.push_back(t);
        ++live;
        t->record.kind = kind;
        t->record.width = w;
        t->record.height = h;
        if (kind == TEXKIND_DDS || kind == TEXKIND_CUBE) {
            t->record.width = t->record.height = 8;  // as if the file said so
            if (kind == TEXKIND_DDS) t->record.kind = dds_kind;
            return &t->record;
        }
        t->pixels.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        return &t->record;
    }
    void ReleaseTexture(TextureRecord* r) override {
        if (!r) return;
        Log("release");
        --live;
    }
    void LockTexture(TextureRecord* r) override {
        Log("lock");
        Texture* t = Find(r);
        r->bits = t->pixels.data();
        r->pitch = r->height ? int32_t(t->pixels.size() / r->height) : 0;
    }
    void UnlockTexture(TextureRecord* r) override {
        Log("unlock");
        r->bits = nullptr;
        r->pitch = 0;
    }
    ShaderProgram* CreateShaderProgram(const char*, const char*, const char*) override { return nullptr; }
    ShaderProgram* FindShaderProgram(const char*) override { return nullptr; }
    void DeleteShaderProgram(ShaderProgram*) override {}
    void BindShaderProgram(ShaderProgram*) override {}
    VertexBufferRecord* CreateVertexBuffer(uint32_t, uint32_t, uint32_t) override { return nullptr; }
    void LockVertexBuffer(VertexBufferRecord*) override {}
    void UnlockVertexBuffer(VertexBufferRecord*) override {}
    void SetVertexBuffer(VertexBufferRecord*) override {}
    void ReleaseVertexBuffer(VertexBufferRecord*) override {}
    IndexBufferRecord* CreateIndexBuffer(uint32_t) override { return nullptr; }
    void LockIndexBuffer(IndexBufferRecord*) override {}
    void UnlockIndexBuffer(IndexBufferRecord*) override {}
    void SetIndexBuffer(IndexBufferRecord*) override {}
    void ReleaseIndexBuffer(IndexBufferRecord*) override {}
    void SetGammaRamp(const uint16_t*) override {}
    void SetGamma(double, double, double) override {}
    void GetGammaRamp(uint16_t*) override {}
    void SetScissor(bool, int32_t, int32_t, int32_t, int32_t) override {}
    void DrawRect(int32_t x, int32_t y, int32_t w, int32_t h, float uL, float vT, float uR,
                  float vB) override {
        char t[128];
        std::snprintf(t, sizeof t, "rect %d %d %d %d %g %g %g %g", x, y, w, h, uL, vT, uR, vB);
        Log(t);
    }
    int32_t GetDisplayModeCount() override { return 0; }
    void GetDisplayMode(int32_t, int32_t*, int32_t*, int32_t*) override {}
    void GetAdapterInfo(char*, uint32_t) override {}
    int32_t GetDeviceState() override { return 0; }

    Texture* Find(TextureRecord* r) {
        for (Texture* t : textures)
            if (&t->record == r) return t;
        return nullptr;
    }
};

// Installs a recording device as the global one while it lives.
class DeviceScope {
public:
    DeviceScope() : saved_(g_renderDevice) { g_renderDevice = &device; }
    ~DeviceScope() { g_renderDevice = saved_; }
    RecordingDevice device;

private:
    RenderDevice* saved_;
};

}  // namespace media_test
