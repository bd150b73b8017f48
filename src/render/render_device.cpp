#include "render/render_device.h"

RenderDevice* g_renderDevice = nullptr;

int32_t RenderDevice::BeginRenderTarget(TextureRecord*) { return 0; }
int32_t RenderDevice::EndRenderTarget() { return 0; }

void RenderDevice::SetVertexArray(const void* data, uint32_t stride) {
    vertexArray_ = data;
    vertexStride_ = stride;
}

void RenderDevice::SetVertexArray2(const void* data, uint32_t stride) {
    vertexArray2_ = data;
    vertexStride2_ = stride;
}

void RenderDevice::SetTexCoordArray(const void* data, uint32_t stride) {
    texCoordArray_ = data;
    texCoordStride_ = stride;
}

void RenderDevice::SetVertexArray4(const void* data, uint32_t stride) {
    colorArray_ = data;
    colorStride_ = stride;
}
