#include "media/video/video_player.h"

#include <algorithm>
#include <cstring>

#include "base/log.h"
#include "base/text.h"
#include "media/image/draw2d.h"
#include "media/resource_manager.h"
#include "platform/gpu/direct3d.h"
#include "platform/system.h"
#include "render/d3d_render_device.h"

namespace gpu = plat::gpu;

namespace {

VideoOutput g_output;
TextureRecord* g_screenTarget = nullptr;
Rect g_screenRect;

// The D3D device behind the global render device, when it is one.
D3DRenderDevice* D3DDevice() {
    return g_d3dRenderDevice && static_cast<RenderDevice*>(g_d3dRenderDevice) == g_renderDevice &&
                   g_d3dRenderDevice->GetDevice()
               ? g_d3dRenderDevice
               : nullptr;
}

// Makes the shared output for a picture of w x h, best kind first.
bool CreateOutput(int32_t w, int32_t h) {
    RenderDevice* dev = g_renderDevice;
    if (!dev) return true;  // nothing to show on: frames are decoded only
    D3DRenderDevice* d3d = D3DDevice();
    gpu::Direct3D* api = d3d ? d3d->GetDirect3D() : nullptr;
    const bool yuy2Texture =
        !api || !gpu::Failed(api->CheckDeviceFormat(0, gpu::DeviceType::Hal, gpu::fmt::X8R8G8B8, 0,
                                                    gpu::ResourceType::Texture, gpu::fmt::YUY2));
    if (yuy2Texture) {
        g_output.texture = dev->CreateTexture(w, h, TEXKIND_YUY2, nullptr, 0);
        if (!g_output.texture) {
            ReleaseVideoOutput();
            LogPrintf("[ERROR] Can't Create D3DFMT_YUY2 Texture for movie playback");
            return false;
        }
    } else if (!gpu::Failed(api->CheckDeviceFormatConversion(0, gpu::DeviceType::Hal, gpu::fmt::YUY2,
                                                             gpu::fmt::X8R8G8B8))) {
        if (gpu::Failed(d3d->GetDevice()->CreateOffscreenPlainSurface(
                uint32_t(w), uint32_t(h), gpu::fmt::YUY2, gpu::Pool::Default, &g_output.surface))) {
            g_output.surface = nullptr;
            LogPrintf("[ERROR] Can't Create YUY2 Surface for movie playback");
            return false;
        }
    } else {
        LogPrintf("[ERROR] Coversion between YUY2 and D3DFMT_X8R8G8B8 is not supported");
        g_output.texture = dev->CreateTexture(w, h, TEXKIND_X8R8G8B8, nullptr, 0);
        if (!g_output.texture) {
            ReleaseVideoOutput();
            LogPrintf("[ERROR] Can't Create D3DFMT_X8R8G8B8 Texture for movie playback");
            return false;
        }
        LogPrintf("[WARNING] Software YUV_RGB Conversion is being used");
        g_output.software = true;
    }
    return true;
}

uint8_t Clamp255(int v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Where the picture lies in the decoded planes, checked against them.
struct PictureMap {
    int32_t w = 0, h = 0;        // picture size written
    int32_t ox = 0, oy = 0;      // picture offset in the luma plane
    int xShift = 0, yShift = 0;  // chroma subsampling
    int32_t lastX = 0;           // last luma column that may be read
};

bool MapPicture(const yuv_buffer& yuv, const theora_info& info, int32_t outW, int32_t outH, PictureMap* m) {
    if (!yuv.y || !yuv.u || !yuv.v || yuv.y_width <= 0 || yuv.y_height <= 0 || yuv.uv_width <= 0 ||
        yuv.uv_height <= 0)
        return false;
    m->ox = int32_t(std::min<uint32_t>(info.offset_x, uint32_t(yuv.y_width - 1)));
    m->oy = int32_t(std::min<uint32_t>(info.offset_y, uint32_t(yuv.y_height - 1)));
    m->w = std::min(outW, yuv.y_width - m->ox);
    m->h = std::min(outH, yuv.y_height - m->oy);
    m->xShift = yuv.uv_width < yuv.y_width ? 1 : 0;
    m->yShift = yuv.uv_height < yuv.y_height ? 1 : 0;
    m->lastX = yuv.y_width - 1;
    return m->w > 0 && m->h > 0;
}

// The luma row and chroma rows of one picture row.
struct RowPlanes {
    const uint8_t *y, *u, *v;
};
RowPlanes PlanesOfRow(const yuv_buffer& yuv, const PictureMap& m, int32_t row) {
    const int32_t ly = m.oy + row;
    const ptrdiff_t crow = ptrdiff_t(ly >> m.yShift) * yuv.uv_stride;
    return {yuv.y + ptrdiff_t(ly) * yuv.y_stride, yuv.u + crow, yuv.v + crow};
}

// One row of YUY2 pairs: Y(2i), U, Y(2i + 1), V.
void Yuy2Row(const yuv_buffer& yuv, const PictureMap& m, int32_t row, uint8_t* out) {
    const RowPlanes p = PlanesOfRow(yuv, m, row);
    for (int32_t x = 0; x < m.w; x += 2, out += 4) {
        const int32_t lx = m.ox + x;
        const int32_t cx = lx >> m.xShift;
        out[0] = p.y[lx];
        out[1] = p.u[cx];
        out[2] = p.y[std::min(lx + 1, m.lastX)];
        out[3] = p.v[cx];
    }
}

// One row of 32-bit pixels B, G, R (the fourth byte left alone).
void RgbRow(const yuv_buffer& yuv, const PictureMap& m, int32_t row, uint8_t* out) {
    const RowPlanes p = PlanesOfRow(yuv, m, row);
    for (int32_t x = 0; x < m.w; ++x, out += 4) {
        const int32_t lx = m.ox + x;
        const int32_t cx = lx >> m.xShift;
        const uint32_t rgb = ConvertYuvPixel(p.y[lx], p.u[cx], p.v[cx]);
        out[0] = uint8_t(rgb);
        out[1] = uint8_t(rgb >> 8);
        out[2] = uint8_t(rgb >> 16);
    }
}

}  // namespace

// Videos for the resource manager: buffered records get a player of their
// own, streamed ones open their path on the shared player.
const ResourceKindOps kVideoResourceOps = {
    "the video player",
    []() -> void* { return new VideoPlayer; },
    [](void* o, const ResourceRecord& r) { return static_cast<VideoPlayer*>(o)->Open(r.path, true) == 1; },
    nullptr,
    [](void* o, const ResourceRecord& r) { return static_cast<VideoPlayer*>(o)->Open(r.path, false) == 1; },
    nullptr,
    [](void* o) { delete static_cast<VideoPlayer*>(o); },
};

namespace {
const bool g_videoInstalled = (SetResourceKindOps(kResourceVideo, &kVideoResourceOps),
                               SetSharedVideoPlayer(GetSharedVideoPlayer()), true);

}  // namespace

VideoPlayer* GetSharedVideoPlayer() {
    static VideoPlayer player;
    return &player;
}

const VideoOutput& GetVideoOutput() {
    return g_output;
}

uint32_t ConvertYuvPixel(int y, int u, int v) {
    const int t = (y - 16) * 298;
    u -= 128;
    v -= 128;
    return uint32_t(Clamp255((t + 409 * v + 128) >> 8)) << 16 |
           uint32_t(Clamp255((t - 100 * u - 208 * v + 128) >> 8)) << 8 | Clamp255((t + 516 * u + 128) >> 8);
}

void ReleaseVideoOutput() {
    if (g_output.surface) g_output.surface->Release();
    if (g_output.texture && g_renderDevice) g_renderDevice->ReleaseTexture(g_output.texture);
    g_output.surface = nullptr;
    g_output.texture = nullptr;
    g_output.software = false;
}

void SetVideoScreenTarget(TextureRecord* target, const Rect& screen) {
    g_screenTarget = target;
    g_screenRect = screen;
}

void DrawVideoFrame(const Rect& rect) {
    RenderDevice* dev = g_renderDevice;
    if (!dev) return;
    if (g_output.surface) {
        D3DRenderDevice* d3d = D3DDevice();
        if (!d3d || !g_screenTarget || !g_screenTarget->texture) return;
        // Only the part of the rectangle inside the target is stretched to,
        // from the matching part of the picture.
        const int64_t tw = g_screenTarget->width, th = g_screenTarget->height;
        const int64_t l = std::max<int64_t>(rect.x, 0), t = std::max<int64_t>(rect.y, 0);
        const int64_t r = std::min<int64_t>(int64_t(rect.x) + rect.w, tw);
        const int64_t b = std::min<int64_t>(int64_t(rect.y) + rect.h, th);
        if (rect.w <= 0 || rect.h <= 0 || l >= r || t >= b) return;
        const int64_t sw = g_output.width, sh = g_output.height;
        gpu::Rect src{int32_t((l - rect.x) * sw / rect.w), int32_t((t - rect.y) * sh / rect.h),
                      int32_t((r - rect.x) * sw / rect.w), int32_t((b - rect.y) * sh / rect.h)};
        src.right = std::max(src.right, src.left + 1);
        src.bottom = std::max(src.bottom, src.top + 1);
        const gpu::Rect dst{int32_t(l), int32_t(t), int32_t(r), int32_t(b)};
        gpu::Surface* level = nullptr;
        if (gpu::Failed(static_cast<gpu::Texture*>(g_screenTarget->texture)->GetSurfaceLevel(0, &level)))
            return;
        d3d->FlushBatch();
        d3d->GetDevice()->StretchRect(g_output.surface, &src, level, &dst, gpu::tf::Linear);
        level->Release();
        dev->SetTexture(0, g_screenTarget);
        dev->SetRenderMode(kModeTexturedQuad, 0xFFFFFFFFu);
        DrawTexturedRect(g_screenRect, 0, 0, 1, 1);
    } else if (g_output.texture) {
        dev->SetTexture(0, g_output.texture);
        dev->SetRenderMode(kModeTexturedQuad, 0xFFFFFFFFu);
        DrawTexturedRect(rect, 0, 0, 1, 1);
    }
}

// ------------------------------------------------------------------ player

VideoPlayer::VideoPlayer() {
    std::memset(&sync_, 0, sizeof sync_);
    std::memset(&page_, 0, sizeof page_);
    std::memset(&theoraStream_, 0, sizeof theoraStream_);
    std::memset(&info_, 0, sizeof info_);
    std::memset(&comment_, 0, sizeof comment_);
    std::memset(&decoder_, 0, sizeof decoder_);
    std::memset(&packet_, 0, sizeof packet_);
    std::memset(&yuv_, 0, sizeof yuv_);
}

VideoPlayer::~VideoPlayer() {
    ReleaseCodec();
    bytes_.Close();
}

int VideoPlayer::Open(const char* path, bool buffered) {
    buffered_ = buffered;
    if (stream_) return 1;
    if (!path) return -1;
    if (buffered) {
        if (!bytes_.LoadFile(path)) return -1;
        stream_ = &bytes_;
    } else {
        LogPrintf("%s", path);
        if (!file_.OpenRead(path)) return -1;
        stream_ = &file_;
    }
    return 1;
}

uint32_t VideoPlayer::ReadData() {
    char* buffer = ogg_sync_buffer(&sync_, kReadSize);
    if (!buffer) return 0;
    const uint32_t n = stream_->Read(buffer, kReadSize);
    ogg_sync_wrote(&sync_, long(n));
    return n;
}

void VideoPlayer::QueuePage() {
    if (theoraHeaders_ > 0) ogg_stream_pagein(&theoraStream_, &page_);
}

void VideoPlayer::ReleaseCodec() {
    if (theoraHeaders_ > 0) ogg_stream_clear(&theoraStream_);
    if (decoderReady_) theora_clear(&decoder_);
    if (infoReady_) {
        theora_comment_clear(&comment_);
        theora_info_clear(&info_);
    }
    if (syncReady_) ogg_sync_clear(&sync_);
    theoraHeaders_ = 0;
    decoderReady_ = infoReady_ = syncReady_ = false;
    std::memset(&info_, 0, sizeof info_);
    std::memset(&yuv_, 0, sizeof yuv_);
}

bool VideoPlayer::FailStart() {
    ReleaseCodec();
    playing_ = false;
    return false;
}

bool VideoPlayer::Start() {
    // A start without a close first begins from a clean codec state.
    ReleaseCodec();
    playing_ = false;
    headersDone_ = false;
    frameReady_ = false;
    granulePos_ = -1;
    frameTime_ = 0;
    totalMs_ = frames_ = lastStepMs_ = 0;
    if (!stream_) {
        LogPrintf("[ERROR] No movie file is open");
        return false;
    }
    stream_->Rewind();
    ogg_sync_init(&sync_);
    syncReady_ = true;
    theora_info_init(&info_);
    theora_comment_init(&comment_);
    infoReady_ = true;

    // The beginning-of-stream pages: the first Theora stream is kept.
    while (!headersDone_) {
        if (ReadData() == 0) break;
        while (ogg_sync_pageout(&sync_, &page_) > 0) {
            if (!ogg_page_bos(&page_)) {
                QueuePage();
                headersDone_ = true;
                break;
            }
            ogg_stream_state test;
            ogg_stream_init(&test, ogg_page_serialno(&page_));
            ogg_stream_pagein(&test, &page_);
            const int got = ogg_stream_packetout(&test, &packet_);
            if (theoraHeaders_ == 0 && got > 0 && theora_decode_header(&info_, &comment_, &packet_) >= 0) {
                std::memcpy(&theoraStream_, &test, sizeof test);
                theoraHeaders_ = 1;
            } else {
                ogg_stream_clear(&test);
            }
        }
    }

    // The remaining two headers.
    while (theoraHeaders_ > 0 && theoraHeaders_ < 3) {
        int got;
        while (theoraHeaders_ < 3 && (got = ogg_stream_packetout(&theoraStream_, &packet_)) != 0) {
            if (got < 0 || theora_decode_header(&info_, &comment_, &packet_) < 0) {
                LogPrintf("Error parsing Theora stream headers; corrupt stream?\n");
                return FailStart();
            }
            ++theoraHeaders_;
        }
        if (theoraHeaders_ == 3) break;
        if (ogg_sync_pageout(&sync_, &page_) > 0) {
            QueuePage();
        } else if (ReadData() == 0) {
            LogPrintf("End of file while searching for codec headers.\n");
            return FailStart();
        }
    }
    if (theoraHeaders_ == 0) {
        LogPrintf("[ERROR] No Theora stream in the movie");
        return FailStart();
    }
    if (info_.width == 0 || info_.height == 0 || info_.width > kMaxFrameSide ||
        info_.height > kMaxFrameSide || info_.frame_width == 0 || info_.frame_height == 0) {
        LogPrintf("[ERROR] Movie frame size %ux%u is not supported", unsigned(info_.width),
                  unsigned(info_.height));
        return FailStart();
    }
    if (theora_decode_init(&decoder_, &info_) != 0) {
        LogPrintf("Error parsing Theora stream headers; corrupt stream?\n");
        return FailStart();
    }
    decoderReady_ = true;
    while (ogg_sync_pageout(&sync_, &page_) > 0) QueuePage();

    const int32_t w = GetWidth(), h = GetHeight();
    if (g_output.width != w || g_output.height != h) {
        LogPrintf("Video Size: %dx%d", w, h);
        ReleaseVideoOutput();
    }
    if (!g_output.surface && !g_output.texture && !CreateOutput(w, h)) return FailStart();
    g_output.width = w;
    g_output.height = h;
    playing_ = true;
    return true;
}

bool VideoPlayer::Update() {
    if (!playing_ || !decoderReady_) return false;
    const int64_t start = plat::PerfCounter();
    while (!frameReady_) {
        if (ogg_stream_packetout(&theoraStream_, &packet_) > 0) {
            // A packet the decoder refuses is passed over.
            if (theora_decode_packetin(&decoder_, &packet_) < 0) continue;
            granulePos_ = decoder_.granulepos;
            frameTime_ = theora_granule_time(&decoder_, granulePos_);
            frameReady_ = true;
        } else {
            if (ReadData() == 0) {
                playing_ = false;
                return false;
            }
            while (ogg_sync_pageout(&sync_, &page_) > 0) QueuePage();
        }
    }
    if (theora_decode_YUVout(&decoder_, &yuv_) == 0) Upload();
    const int64_t freq = plat::PerfFrequency();
    lastStepMs_ = freq > 0 ? float(double(plat::PerfCounter() - start) * 1000.0 / double(freq)) : 0.0f;
    totalMs_ += lastStepMs_;
    frames_ += 1;
    frameReady_ = false;
    return true;
}

void VideoPlayer::Upload() {
    PictureMap m;
    if (!MapPicture(yuv_, info_, g_output.width, g_output.height, &m)) return;
    if (g_output.surface) {
        gpu::LockedRect lr;
        if (gpu::Failed(g_output.surface->LockRect(&lr, nullptr, 0))) return;
        for (int32_t row = 0; row < m.h; ++row)
            Yuy2Row(yuv_, m, row, static_cast<uint8_t*>(lr.bits) + ptrdiff_t(row) * lr.pitch);
        g_output.surface->UnlockRect();
        return;
    }
    TextureRecord* tex = g_output.texture;
    RenderDevice* dev = g_renderDevice;
    if (!tex || !dev) return;
    dev->LockTexture(tex);
    if (!tex->bits) return;
    auto* bits = static_cast<uint8_t*>(tex->bits);
    const int32_t rows = std::min(m.h, tex->height);
    for (int32_t row = 0; row < rows; ++row) {
        uint8_t* out = bits + ptrdiff_t(row) * tex->pitch;
        if (g_output.software)
            RgbRow(yuv_, m, row, out);
        else
            Yuy2Row(yuv_, m, row, out);
    }
    dev->UnlockTexture(tex);
}

void VideoPlayer::Close() {
    playing_ = false;
    ReleaseCodec();
    if (!buffered_ && stream_ == &file_) {
        file_.Close();
        stream_ = nullptr;
    }
    // Without frames (or time) the averages are reported as 0.
    const float average = frames_ > 0 ? totalMs_ / frames_ : 0.0f;
    const float fps = totalMs_ > 0 ? frames_ * 1000.0f / totalMs_ : 0.0f;
    LogPrintf("Average Movie Frame Process Time: %f millisecs all (%f FPS MAX)", double(average),
              double(fps));
}

float VideoPlayer::GetFrameRate() const {
    if (info_.fps_denominator == 0) return 0.0f;
    return float(info_.fps_numerator) / float(info_.fps_denominator);
}
