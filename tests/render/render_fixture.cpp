#include "render/render_fixture.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "support/test_support.h"

namespace render_test {

std::vector<uint32_t> RenderTest::Read(TextureRecord* target) {
    using namespace plat::gpu;
    Device* d = dev->GetDevice();
    d->EndScene();  // not needed by GL, but read-back happens between frames
    d->BeginScene();
    dev->FlushBatch();
    Surface* s = nullptr;
    if (target)
        static_cast<Texture*>(target->texture)->GetSurfaceLevel(0, &s);
    else
        d->GetRenderTarget(0, &s);
    SurfaceDesc desc;
    s->GetDesc(&desc);
    Surface* mem = nullptr;
    d->CreateOffscreenPlainSurface(desc.width, desc.height, fmt::X8R8G8B8, Pool::SystemMem, &mem);
    EXPECT_EQ(d->GetRenderTargetData(s, mem), kOk);
    LockedRect lr;
    mem->LockRect(&lr, nullptr, 0);
    std::vector<uint32_t> px(size_t(desc.width) * desc.height);
    for (uint32_t y = 0; y < desc.height; ++y)
        std::memcpy(&px[size_t(y) * desc.width], static_cast<uint8_t*>(lr.bits) + size_t(y) * lr.pitch, desc.width * 4);
    mem->UnlockRect();
    mem->Release();
    s->Release();
    return px;
}

std::string SaveFramePng(const std::vector<uint32_t>& px, int w, int h, const std::string& name) {
    std::vector<uint8_t> raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        for (int x = 0; x < w; ++x) {
            uint32_t p = px[size_t(y) * w + x];
            raw.push_back(uint8_t(p >> 16));
            raw.push_back(uint8_t(p >> 8));
            raw.push_back(uint8_t(p));
        }
    }
    uLongf zlen = compressBound(uLong(raw.size()));
    std::vector<uint8_t> z(zlen);
    compress2(z.data(), &zlen, raw.data(), uLong(raw.size()), 6);
    z.resize(zlen);
    std::string out;
    auto be32 = [&](std::string& s, uint32_t v) {
        for (int i = 3; i >= 0; --i) s += char((v >> (8 * i)) & 255);
    };
    auto chunk = [&](const char* type, const std::string& data) {
        be32(out, uint32_t(data.size()));
        std::string body = std::string(type, 4) + data;
        out += body;
        be32(out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    };
    out = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    be32(ihdr, uint32_t(w));
    be32(ihdr, uint32_t(h));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);
    chunk("IHDR", ihdr);
    chunk("IDAT", std::string(z.begin(), z.end()));
    chunk("IEND", "");
    // Beside the test program, in the build folder, wherever it is run from.
    std::error_code ec;
    const std::filesystem::path folder = quild_test::BuildOutputPath("frames");
    std::filesystem::create_directories(folder, ec);
    std::string path = (folder / (name + ".png")).string();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(out.data(), 1, out.size(), f);
        std::fclose(f);
    }
    return path;
}

TextureRecord* SolidTexture(D3DRenderDevice* dev, int w, int h, uint32_t argb, int kind) {
    std::vector<uint32_t> px(size_t(w) * h, argb);
    return dev->CreateTexture(w, h, kind, px.data(), uint32_t(px.size() * 4));
}

}  // namespace render_test
