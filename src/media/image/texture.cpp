#include "media/image/texture.h"

#include <cstring>
#include <new>

#include "base/byte_stream.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/text.h"
#include "media/image/image_data.h"
#include "media/resource_manager.h"
#include "render/render_device.h"

namespace {

// Device format codes that need no blending.
bool IsOpaqueKind(int32_t kind) {
    return kind == TEXKIND_X8R8G8B8 || kind == TEXKIND_DXT1;
}

bool LoadDds(Texture* t, const char* path, uint32_t flags) {
    t->Release();
    RenderDevice* device = g_renderDevice;
    ByteStream file;
    if (!device || !file.LoadFile(path)) return false;
    bool cube = (flags & (kTextureCube | kTextureSpecial)) != 0;
    TextureRecord* rec =
        device->CreateTexture(0, 0, cube ? TEXKIND_CUBE : TEXKIND_DDS, file.Data(), file.Size());
    if (!rec) return false;
    t->device_texture = rec;
    if (cube) {
        t->flags = 0;
        t->width = t->height = 0;
    } else {
        t->width = rec->width;
        t->height = rec->height;
        t->flags = IsOpaqueKind(rec->kind) ? 0 : kTextureAlpha;
    }
    return true;
}

// Copies rows between a tight block and a locked texture of another pitch.
void CopyRows(uint8_t* dst, size_t dst_pitch, const uint8_t* src, size_t src_pitch, size_t row_bytes,
              size_t rows) {
    if (dst_pitch == row_bytes && src_pitch == row_bytes) {
        std::memcpy(dst, src, row_bytes * rows);
        return;
    }
    for (size_t y = 0; y < rows; ++y) std::memcpy(dst + y * dst_pitch, src + y * src_pitch, row_bytes);
}

}  // namespace

Texture* Texture::New() {
    void* block = ObjectPool::Alloc(sizeof(Texture));
    return block ? new (block) Texture() : nullptr;
}

void Texture::Delete(Texture* texture) {
    if (!texture) return;
    texture->Release();
    ObjectPool::Free(texture, sizeof(Texture));
}

void Texture::Release() {
    if (device_texture && g_renderDevice) g_renderDevice->ReleaseTexture(device_texture);
    device_texture = nullptr;
    flags = 0;
}

uint32_t Texture::ByteSize() const {
    if (!device_texture) return 0;
    return TextureByteSize(device_texture->kind, device_texture->width, device_texture->height);
}

bool Texture::CreateFromImage(const ImageData& image, uint32_t creation_flags) {
    if (device_texture) creation_flags = flags;
    TexturePixels px;
    if (!ConvertImageForTexture(image, creation_flags, px)) return false;
    RenderDevice* device = g_renderDevice;
    if (!device) return false;
    size_t row_bytes = size_t(image.width) * (px.grey ? 1 : 4);
    if (device_texture) {
        if (device_texture->kind == px.kind && device_texture->width == int32_t(image.width) &&
            device_texture->height == int32_t(image.height)) {
            device->LockTexture(device_texture);
            bool locked = device_texture->bits != nullptr && size_t(device_texture->pitch) >= row_bytes;
            if (locked)
                CopyRows(static_cast<uint8_t*>(device_texture->bits), size_t(device_texture->pitch), px.data,
                         row_bytes, row_bytes, image.height);
            device->UnlockTexture(device_texture);
            return locked;
        }
        // Another size or format: a new texture, never a copy that does not fit.
        device->ReleaseTexture(device_texture);
        device_texture = nullptr;
    }
    TextureRecord* rec =
        device->CreateTexture(int32_t(image.width), int32_t(image.height), px.kind, px.data, px.bytes);
    if (!rec) {
        flags = 0;
        return false;
    }
    device_texture = rec;
    width = int32_t(image.width);
    height = int32_t(image.height);
    flags = px.flags;
    return true;
}

bool Texture::ReadPixels(ImageData& out) {
    out.Free();
    RenderDevice* device = g_renderDevice;
    if (!device_texture || !device) return false;
    int32_t kind = device_texture->kind;
    if (kind != TEXKIND_X8R8G8B8 && kind != TEXKIND_A8R8G8B8 && kind != TEXKIND_L8) return false;
    int32_t w = device_texture->width, h = device_texture->height;
    if (w <= 0 || h <= 0) return false;
    size_t bpp = kind == TEXKIND_L8 ? 1 : 4;
    size_t row_bytes = size_t(w) * bpp;
    out.pixels = static_cast<uint8_t*>(MemAlloc(row_bytes * size_t(h)));
    if (!out.pixels) return false;
    device->LockTexture(device_texture);
    bool locked = device_texture->bits != nullptr && size_t(device_texture->pitch) >= row_bytes;
    if (locked)
        CopyRows(out.pixels, row_bytes, static_cast<const uint8_t*>(device_texture->bits),
                 size_t(device_texture->pitch), row_bytes, size_t(h));
    device->UnlockTexture(device_texture);
    if (!locked) {
        out.Free();
        return false;
    }
    out.width = uint32_t(w);
    out.height = uint32_t(h);
    out.bits = bpp == 1 ? kImageGrey : kImageArgb;
    return true;
}

bool LoadTexture(Texture* texture, const char* name, uint32_t creation_flags) {
    if (!texture) return false;
    TextureFile file = ResolveTextureName(name);
    if (file.path.empty()) return false;
    if (file.dds) return LoadDds(texture, file.path.c_str(), creation_flags);
    ImageData image;
    if (!LoadImage(file.path.c_str(), image) || !image.pixels) return false;
    return texture->CreateFromImage(image, creation_flags);
}

void DrawTextureRect(Texture* t, float x, float y, float w, float h, uint32_t colour, uint32_t draw_flags) {
    RenderDevice* device = g_renderDevice;
    if (!t || !t->device_texture || !device) return;
    bool one_to_one =
        t->width > 0 && t->height > 0 && w / float(t->width) == 1.0f && h / float(t->height) == 1.0f;
    device->SetRenderMode(t->flags | draw_flags | 0x1009, colour);
    device->SetTexture(0, t->device_texture);
    if (one_to_one) {
        device->SetTextureFilter(0, 0, 0);
        device->SetTextureFilter(0, 1, 0);
    }
    device->DrawRect(SaturateToInt(x), SaturateToInt(y), SaturateToInt(w), SaturateToInt(h), 0.0f, 0.0f, 1.0f,
                     1.0f);
    device->SetTextureFilter(0, 0, 1);
    device->SetTextureFilter(0, 1, 1);
}

void Texture::DrawInRect(const Rect& rect, uint32_t colour, uint32_t draw_flags) {
    DrawTextureRect(this, float(rect.x), float(rect.y), float(rect.w), float(rect.h), colour, draw_flags);
}

void Texture::DrawAt(int32_t x, int32_t y, uint32_t colour, uint32_t draw_flags) {
    DrawInRect(Rect(x, y, width, height), colour, draw_flags);
}

void Texture::DrawAtDefault(int32_t x, int32_t y) {
    DrawAt(x, y, 0xFFFFFFFFu, flags);
}

const ResourceKindOps kTextureResourceOps = {
    "the texture loader",
    []() -> void* { return Texture::New(); },
    [](void* o, const ResourceRecord& r) {
        auto* t = static_cast<Texture*>(o);
        t->flags = r.parameter;
        return LoadTexture(t, r.path, r.parameter);
    },
    nullptr,
    nullptr,
    [](void* o) { return static_cast<Texture*>(o)->ByteSize(); },
    [](void* o) { Texture::Delete(static_cast<Texture*>(o)); },
};
