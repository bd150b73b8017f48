#include "app/engine_media.h"

#include <algorithm>
#include <cstring>

#include "app/engine.h"
#include "base/log.h"
#include "base/memory.h"
#include "media/image_data.h"
#include "media/jpeg_codec.h"
#include "media/tga_codec.h"
#include "render/render_device.h"
#include "scene/game_scene.h"

bool ResolveScreenshotSize(int32_t width, int32_t height, int32_t screen_width, int32_t screen_height,
                           int32_t* out_width, int32_t* out_height) {
    int32_t w = width > 0 ? width : screen_width;
    int32_t h = height > 0 ? height : screen_height;
    if (w > int32_t(kMaxImageSide) || h > int32_t(kMaxImageSide) || uint64_t(std::max(w, 0)) * uint64_t(std::max(h, 0)) * 4 > kMaxImageBytes)
        return false;
    if (out_width) *out_width = w;
    if (out_height) *out_height = h;
    return true;
}

void ScreenshotFileName(const char* name, std::string* file, std::string* extension) {
    std::string n = name ? name : "";
    size_t base = n.find_last_of("/\\");
    size_t dot = n.rfind('.');
    std::string ext;
    if (dot == std::string::npos || (base != std::string::npos && dot < base)) {
        n += ".jpg";
        ext = "jpg";
    } else {
        ext = n.substr(dot + 1);
        for (char& c : ext)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    if (file) *file = n;
    if (extension) *extension = ext;
}

bool CaptureScreenshotPixels(const TextureRecord& target, int32_t width, int32_t height, const uint16_t ramp[256],
                             ImageData& image) {
    image.Free();
    if (!target.bits || target.pitch <= 0) return false;
    // Never read beyond the target: a 2-D scene is 1024 x 768 while the
    // screen (and so the target) may be smaller.
    const int32_t w = std::min(width, target.width), h = std::min(height, target.height);
    if (w <= 0 || h <= 0 || target.pitch < w * 4) return false;
    auto* pixels = static_cast<uint8_t*>(MemAlloc(size_t(w) * size_t(h) * 3));
    if (!pixels) return false;
    uint8_t level[256];
    for (int i = 0; i < 256; ++i) level[i] = uint8_t(ramp[i] >> 8);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = static_cast<const uint8_t*>(target.bits) + size_t(y) * size_t(target.pitch);
        uint8_t* dst = pixels + size_t(y) * size_t(w) * 3;
        for (int32_t x = 0; x < w; ++x, src += 4, dst += 3) {
            dst[0] = level[src[2]];
            dst[1] = level[src[1]];
            dst[2] = level[src[0]];
        }
    }
    image.width = uint32_t(w);
    image.height = uint32_t(h);
    image.bits = kImageRgb;
    image.pixels = pixels;
    return true;
}

int Engine::SaveScreenshot(TextureRecord* target, const char* name, int quality) {
    if (!name || !*name || quality < 1) return -1;
    std::string file, extension;
    ScreenshotFileName(name, &file, &extension);
    const bool jpeg = extension == "jpg", tga = extension == "tga";
    if (!jpeg && !tga) {
        // Nothing is captured or written.
        LogPrintf("[SAVESHOT] Unsupported Format: %s", extension.c_str());
        return -1;
    }
    RenderDevice* device = g_renderDevice;
    if (!device || !target) return -1;
    device->LockTexture(target);
    if (!target->bits) return -1;

    int32_t w = screenRect.w, h = screenRect.h;
    if (currentScene && currentScene->viewtype == kViewPage) {
        w = virtualRect.w > 0 ? virtualRect.w : 1024;
        h = virtualRect.h > 0 ? virtualRect.h : 768;
    }
    uint16_t ramp[256];
    device->GetGammaRamp(ramp);
    ImageData image;
    bool captured = CaptureScreenshotPixels(*target, w, h, ramp, image);
    device->UnlockTexture(target);
    if (!captured) return -1;

    // The image is written at the size captured, 24 bits a pixel, through a
    // temporary file in the per-user folder.
    const bool written = jpeg ? SaveJpeg(image, file.c_str(), quality) : SaveTga(image, file.c_str());
    if (!written) return -1;
    LogPrintf("[SAVESHOT] : %s", file.c_str());
    return 0;
}
