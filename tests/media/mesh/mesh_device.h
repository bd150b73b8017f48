#pragma once
// A recording device whose vertex and index buffers live in memory, for the
// mesh reader, cache and skinning tests and the mesh fuzz targets.
#include <memory>
#include <vector>

#include "../recording_device.h"

namespace media_test {

class MeshDevice : public RecordingDevice {
public:
    struct Buffer {
        VertexBufferRecord vb;
        IndexBufferRecord ib;
        std::vector<uint8_t> bytes;
    };
    std::vector<std::unique_ptr<Buffer>> buffers;
    int live_buffers = 0;
    bool refuse = false;  // CreateVertexBuffer / CreateIndexBuffer fail
    std::vector<uint32_t> draws;  // index counts of DrawIndexed

    VertexBufferRecord* CreateVertexBuffer(uint32_t format, uint32_t count, uint32_t) override {
        if (refuse || count == 0) return nullptr;
        auto b = std::make_unique<Buffer>();
        uint32_t size = 12;
        if (format & RM_NORMAL) b->vb.normalOffset = int32_t(size), size += 12;
        if (format & RM_TEXTURED) b->vb.texCoordOffset = int32_t(size), size += 8;
        b->vb.format = format;
        b->vb.count = count;
        b->vb.vertexSize = size;
        b->bytes.assign(size_t(size) * count, 0);
        ++live_buffers;
        buffers.push_back(std::move(b));
        return &buffers.back()->vb;
    }
    void LockVertexBuffer(VertexBufferRecord* r) override {
        uint8_t* base = FindVb(r)->bytes.data();
        r->position = base;
        r->normal = r->normalOffset >= 0 ? base + r->normalOffset : nullptr;
        r->texCoord = r->texCoordOffset >= 0 ? base + r->texCoordOffset : nullptr;
        r->positionStride = r->normalStride = r->texCoordStride = r->vertexSize;
    }
    void UnlockVertexBuffer(VertexBufferRecord* r) override { r->position = r->normal = r->texCoord = nullptr; }
    void ReleaseVertexBuffer(VertexBufferRecord* r) override {
        if (r) --live_buffers;
    }
    IndexBufferRecord* CreateIndexBuffer(uint32_t count) override {
        if (refuse || count == 0) return nullptr;
        auto b = std::make_unique<Buffer>();
        b->ib.count = count;
        b->bytes.assign(size_t(count) * 2, 0);
        ++live_buffers;
        buffers.push_back(std::move(b));
        return &buffers.back()->ib;
    }
    void LockIndexBuffer(IndexBufferRecord* r) override { r->locked = FindIb(r)->bytes.data(); }
    void UnlockIndexBuffer(IndexBufferRecord* r) override { r->locked = nullptr; }
    void ReleaseIndexBuffer(IndexBufferRecord* r) override {
        if (r) --live_buffers;
    }
    void SetVertexBuffer(VertexBufferRecord* r) override { Log(r ? "vb set" : "vb none"); }
    void SetIndexBuffer(IndexBufferRecord* r) override { Log(r ? "ib set" : "ib none"); }
    void DrawIndexed(uint32_t, uint32_t count) override {
        Log("draw " + std::to_string(count));
        draws.push_back(count);
    }

    // Drops every buffer and record (between fuzz inputs).
    void Forget() {
        buffers.clear();
        calls.clear();
        draws.clear();
        live_buffers = 0;
    }

    Buffer* FindVb(VertexBufferRecord* r) {
        for (auto& b : buffers)
            if (&b->vb == r) return b.get();
        return nullptr;
    }
    Buffer* FindIb(IndexBufferRecord* r) {
        for (auto& b : buffers)
            if (&b->ib == r) return b.get();
        return nullptr;
    }
};

// Installs a mesh device as the global one while it lives.
class MeshDeviceScope {
public:
    MeshDeviceScope() : saved_(g_renderDevice) { g_renderDevice = &device; }
    ~MeshDeviceScope() { g_renderDevice = saved_; }
    MeshDevice device;

private:
    RenderDevice* saved_;
};

}  // namespace media_test
