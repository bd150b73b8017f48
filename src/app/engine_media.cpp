#include "app/engine_media.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

extern "C" {
#include <lua.h>
}

#include "app/app_window.h"
#include "app/engine.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/string_pool.h"
#include "base/text.h"
#include "media/image/draw2d.h"
#include "media/image/image_data.h"
#include "media/image/jpeg_codec.h"
#include "media/resource_manager.h"
#include "media/sound/sound.h"
#include "media/image/tga_codec.h"
#include "media/video/video_player.h"
#include "render/render_device.h"
#include "scene/game_scene.h"
#include "scene/game_video.h"
#include "script/engine_work.h"
#include "script/lua_host.h"

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
    // Every byte is written below.
    auto* pixels = static_cast<uint8_t*>(MemAllocUncleared(size_t(w) * size_t(h) * 3));
    if (!pixels) return false;
    uint8_t level[256];
    bool identity = true;
    for (int i = 0; i < 256; ++i) {
        level[i] = uint8_t(ramp[i] >> 8);
        identity = identity && level[i] == i;
    }
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = static_cast<const uint8_t*>(target.bits) + size_t(y) * size_t(target.pitch);
        uint8_t* dst = pixels + size_t(y) * size_t(w) * 3;
        if (identity) {
            // The usual ramp: a plain swizzle the compiler can widen.
            for (int32_t x = 0; x < w; ++x) {
                dst[x * 3 + 0] = src[x * 4 + 2];
                dst[x * 3 + 1] = src[x * 4 + 1];
                dst[x * 3 + 2] = src[x * 4 + 0];
            }
            continue;
        }
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

// ------------------------------------------------------------------ sounds

namespace {

int32_t BoundChannel(int32_t channel) { return channel > int32_t(kSoundChannels) ? int32_t(kSoundChannels) : channel; }

bool Is3D(const ResourceRecord* r) { return (r->flags & kSound3D) != 0; }

// The record again with new declaration bits; the record stays, so whoever
// holds it loads the sound anew with them.
ResourceRecord* Redeclared(ResourceRecord* r, uint32_t flags) {
    Resources().Redeclare(r, flags & ~kResourceLoadTried);
    return r;
}

}  // namespace

uint32_t SoundDeclarationFlags(bool streamed, int32_t channel, bool is3d) {
    uint32_t flags = (streamed ? kSoundStreamed : 0) | (is3d ? kSound3D : 0);
    if (channel > 0) flags |= uint32_t(channel - 1) << kSoundChannelShift;
    return flags;
}

ResourceRecord* Engine::DeclareSound(const char* name, int32_t channel, bool is3d) {
    if (!name || !*name) return nullptr;
    // Scene files and scripts give the channel: only 1..8 exist.
    channel = BoundChannel(channel);
    ResourceRecord* existing = Resources().FindByName(name);
    if (existing && existing->type != kResourceSound) existing = nullptr;
    if (existing && channel <= 0) {
        if (Is3D(existing) == is3d) return existing;
        return Redeclared(existing, (existing->flags & ~(kResourceLoadTried | kSound3D)) | (is3d ? kSound3D : 0));
    }
    if (existing && channel > 0 && (existing->flags & kSoundStreamed) &&
        (existing->flags >> kSoundChannelShift) == uint32_t(channel - 1)) {
        if (Is3D(existing) == is3d) return existing;
        return Redeclared(existing, (existing->flags & ~kSound3D) | (is3d ? kSound3D : 0));
    }
    bool streamed;
    FileStream file;
    const std::string path = std::string(name) + ".ogg";
    if (file.OpenRead(path.c_str())) {
        streamed = file.Size() > soundStreamThreshold;
        if (streamed && channel <= 0) channel = 1;
        if (!streamed) channel = 0;
        file.Close();
    } else {
        streamed = channel > 0;
    }
    const uint32_t flags = SoundDeclarationFlags(streamed, channel, is3d);
    if (existing) return Redeclared(existing, flags);
    return Resources().DeclareSound(name, flags);
}

void Engine::PlaySound(ResourceRecord* record, bool loop, int32_t start) {
    Sound* sound = Resources().GetSound(record);
    if (!sound) return;
    if (sound->streamed) streamChannelSounds[sound->channel_index % kSoundChannels] = record;
    sound->Play(loop, start);
}

ResourceRecord* ScriptArgSound(lua_State* L, const char* key, int index, int32_t channel, bool is3d) {
    if (!L) return nullptr;
    const char* name = nullptr;
    if (key) {
        if (lua_istable(L, -1)) {
            lua_getfield(L, -1, key);
            if (lua_type(L, -1) == LUA_TSTRING) name = CommonStrings().Intern(lua_tostring(L, -1));
            lua_pop(L, 1);
        }
    } else if (lua_type(L, index) == LUA_TSTRING) {
        name = lua_tostring(L, index);
    }
    Engine* e = CurrentEngine();
    if (name && *name) return e ? e->DeclareSound(name, channel, is3d) : nullptr;
    const void* p = nullptr;
    if (lua_type(L, index) == LUA_TLIGHTUSERDATA) p = lua_touserdata(L, index);
    else if (lua_type(L, index) == LUA_TUSERDATA) p = lua_touserdata(L, index);
    if (!p) return nullptr;
    // Only a live sound record is used; anything else counts as missing.
    for (ResourceRecord* r = Resources().First(); r; r = r->next)
        if (r == p) return r->type == kResourceSound ? r : nullptr;
    return nullptr;
}

// ------------------------------------------------------------------- video

void FitVideoRect(int32_t video_w, int32_t video_h, int32_t screen_w, int32_t screen_h, int32_t rect[4]) {
    rect[0] = 0;
    rect[2] = screen_w;
    // A stream without a picture size (not Theora) fills the screen.
    rect[3] = video_w > 0 ? int32_t(int64_t(video_h) * screen_w / video_w) : screen_h;
    rect[1] = (screen_h - rect[3]) / 2;
    if (rect[1] < 0) {
        rect[1] = 0;
        rect[3] = screen_h;
    }
}

namespace {

VideoPlayer* PlayerOf(GameVideo* v) { return v ? Resources().GetVideo(v->hvideo) : nullptr; }

// Ends a video at once, without its fade or the closing call.
void DropVideo(Engine* e) {
    GameVideo* v = e->currentVideo;
    if (!v) return;
    if (VideoPlayer* p = PlayerOf(v)) p->Close();
    if (Sound* s = Resources().GetSound(v->hstream)) s->Stop();
    if (e->window) e->window->SetFrameLimit(0);
    e->currentVideo = nullptr;
    e->videoPlaying = 0;
    e->videoFade = 0;
}

}  // namespace

void Engine::PlayVideo(const char* name, bool not_skippable) {
    GameVideo* video = nullptr;
    for (GameVideo* v = videos.head; v && name; v = ListNext(v))
        if (v->name && EqualsNoCase(v->name, name)) {
            video = v;
            break;
        }
    if (!video) {
        LogPrintf("[ERROR] Video Not Found: %s", name ? name : "");
        return;
    }
    // One video at a time: a running one ends first.
    DropVideo(this);
    // A video whose file was never found (declared without it) plays
    // nothing and no closing call follows; the log names it, as a game
    // waiting for it would otherwise wait without a word.
    if (!video->hvideo) {
        LogPrintf("[ERROR] Video File Not Found: %s", video->name ? video->name : "");
        return;
    }
    // A movie that cannot play (no picture stream, a file gone) still runs
    // its course: no picture, its sound until the stream starts, then the
    // fade and "OnGameVideoClosed", so that a game waiting for it goes on.
    VideoPlayer* player = PlayerOf(video);
    if (!player || !player->Start()) LogPrintf("[ERROR] Video Not Playable: %s", video->name);
    currentVideo = video;
    const int32_t width = player ? player->GetWidth() : 0, height = player ? player->GetHeight() : 0;
    if (!video->fixedRect) FitVideoRect(width, height, screenRect.w, screenRect.h, video->rect);
    if (window) window->SetFrameLimit(player ? player->GetFrameRate() : 0.0f);
    if (Sound* sound = Resources().GetSound(video->hstream)) sound->Play(false, 0);
    videoFade = 0;
    videoPlaying = 0;
    videoClock = 0;
    videoNotSkippable = not_skippable;
}

void Engine::UpdateVideo() {
    if (!currentVideo || videoFade != 0) return;
    videoPlaying = 0;
    // The frames do not wait for the video's sound: a stream plays from the
    // moment it is asked to, so by the first update the sound runs, or it
    // could not be read (or was stopped), and then the frames go on without
    // it rather than wait for ever.
    VideoPlayer* player = PlayerOf(currentVideo);
    // A movie slower than the longest frame the window holds: the frames go
    // on at that period and the picture advances only once its own time has
    // come on the video clock (frame n at n / rate seconds).
    if (player && player->IsPlaying() && player->FramesDecoded() > 0) {
        const float rate = player->GetFrameRate();
        if (rate > 0 && 1000.0f / rate > float(AppWindow::kLongestFrameMs) &&
            double(videoClock) < double(player->FramesDecoded()) * 1000.0 / double(rate)) {
            videoPlaying = 1;
            return;
        }
    }
    if (player && player->Update())
        videoPlaying = 1;
    else
        StopVideo();
}

void Engine::StopVideo() {
    if (!currentVideo || videoFade != 0) return;
    if (VideoPlayer* p = PlayerOf(currentVideo)) p->Close();
    if (Sound* s = Resources().GetSound(currentVideo->hstream)) s->Stop();
    if (window) window->SetFrameLimit(0);
    videoFade = 1;
    statementReady = false;
}

void DrawVideoStep(Engine* e) {
    GameVideo* v = e->currentVideo;
    if (!v) return;
    EngineWork work;
    VideoPlayer* player = PlayerOf(v);
    if (player && player->IsPlaying()) DrawVideoFrame(Rect(v->rect[0], v->rect[1], v->rect[2], v->rect[3]));
    // The borders around the picture; a script may give any rectangle, so
    // its far edges are summed wide and held to the int range.
    const int32_t x = v->rect[0], y = v->rect[1], w = v->rect[2], h = v->rect[3];
    const int32_t sw = e->screenRect.w, sh = e->screenRect.h;
    const int64_t right = int64_t(x) + w, bottom = int64_t(y) + h;
    if (y > 0) FillRect(0, 0, sw, y, v->bgcolor);
    if (bottom < sh) FillRect(0, SaturateToInt(bottom), sw, SaturateToInt(sh - bottom), v->bgcolor);
    if (x > 0) FillRect(0, y, x, h, v->bgcolor);
    if (right < sw) FillRect(SaturateToInt(right), y, SaturateToInt(sw - right), h, v->bgcolor);
    if (e->videoFade == 0) return;
    e->videoFade = std::min<uint32_t>(e->videoFade + 10, 255);
    FillRect(0, 0, sw, sh, e->videoFade << 24);
    if (e->videoFade < 255) return;
    // The state is cleared before the handler runs, so that it may start
    // another video.
    const char* name = v->name;
    e->videoClock = 0;
    e->currentVideo = nullptr;
    e->videoPlaying = 0;
    e->videoFade = 0;
    e->statementReady = true;
    ScriptCall("OnGameVideoClosed(%s)", name);
}
