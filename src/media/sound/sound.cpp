#include "media/sound/sound.h"

#include <algorithm>
#include <vector>

#include "base/log.h"
#include "media/sound/sound_device.h"
#include "media/sound/stream_channel.h"
#include "media/sound/vorbis_source.h"

float g_sfx_volume = 1.0f;
uint8_t g_software_buffers = 1;
Sound* g_playing_sounds = nullptr;

namespace {

bool InPlayingList(const Sound* s) {
    for (Sound* p = g_playing_sounds; p; p = p->next_playing)
        if (p == s) return true;
    return false;
}

void Unlink(Sound* s) {
    for (Sound** link = &g_playing_sounds; *link; link = &(*link)->next_playing) {
        if (*link == s) {
            *link = s->next_playing;
            s->next_playing = nullptr;
            return;
        }
    }
}

bool LoadStatic(Sound& sound, VorbisSource& source, bool is3d, const char* name) {
    const int channels = source.Channels();
    const int64_t total = source.TotalFrames();
    // Saturated: damaged granule positions announce any length.
    const int64_t bytes = total > INT64_MAX / (channels * 2) ? INT64_MAX : total * channels * 2;
    if (total < 0 || bytes > kMaxStaticSoundBytes) {
        LogPrintf("[ERROR] - SOUND : %s decodes to %lld bytes (at most %lld)", name,
                  static_cast<long long>(bytes), static_cast<long long>(kMaxStaticSoundBytes));
        return false;
    }
    const int out_channels = is3d ? 1 : std::min(channels, 2);
    // Grows as it decodes, never past what the stream announced.
    std::vector<int16_t> pcm;
    const uint32_t chunk = 16384;
    uint64_t frames = 0;
    while (frames < static_cast<uint64_t>(total)) {
        uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(chunk, total - frames));
        pcm.resize((frames + want) * out_channels);
        uint32_t got = source.Decode(pcm.data() + frames * out_channels, want, out_channels);
        frames += got;
        if (got < want) break;
    }
    pcm.resize(frames * out_channels);
    plat::WaveFormat format;
    format.channels = static_cast<uint16_t>(out_channels);
    format.samples_per_sec = source.Rate();
    format.bits_per_sample = 16;
    format.block_align = static_cast<uint16_t>(out_channels * 2);
    format.avg_bytes_per_sec = format.block_align * format.samples_per_sec;
    uint32_t flags = g_software_buffers ? plat::kBufferLocSoftware : 0;
    if (is3d) flags |= plat::kBufferCtrl3D;
    uint32_t kept = static_cast<uint32_t>(pcm.size() * 2);
    int32_t r = g_sound_device.CreateStaticBuffer(pcm.data(), kept, format, flags, &sound.buffer);
    if (plat::SoundFailed(r)) {
        LogPrintf("[ERROR] - SOUND : %s: no buffer (0x%08X)", name, static_cast<unsigned>(r));
        return false;
    }
    if (is3d && !plat::SoundFailed(sound.buffer->Query3D(&sound.buffer3d))) {
        sound.buffer3d->SetMode(plat::kMode3DNormal, plat::kApplyImmediate);
        sound.buffer3d->SetMinDistance(1.0f, plat::kApplyImmediate);
        sound.buffer3d->SetMaxDistance(10.0f, plat::kApplyImmediate);
    }
    sound.streamed = false;
    sound.size = kept;
    return true;
}

}  // namespace

bool Sound::Load(const char* path, bool is3d) {
    Release();
    VorbisSource source;
    return source.OpenFile(path, false) && LoadStatic(*this, source, is3d, path);
}

bool Sound::LoadFromMemory(const uint8_t* data, uint32_t bytes, bool is3d, const char* name) {
    Release();
    VorbisSource source;
    return source.OpenMemory(data, bytes, false, name) &&
           LoadStatic(*this, source, is3d, name ? name : "(memory)");
}

bool Sound::BindStream(uint32_t index, const char* path) {
    if (index >= kStreamChannelCount) {
        LogPrintf("[ERROR] - SOUND : stream channel %u out of range for %s", index, path ? path : "(null)");
        return false;
    }
    streamed = true;
    source_path = path;
    channel_index = index;
    channel.store(&g_stream_channels[index]);
    return true;
}

bool Sound::Play(bool loop, int32_t start) {
    if (streamed) {
        StreamChannel* ch = channel.load();
        if (ch) StreamPlay(*ch, this, loop, start);
        return false;
    }
    if (!buffer) return false;
    if (!InPlayingList(this)) {
        next_playing = g_playing_sounds;
        g_playing_sounds = this;
    }
    looping = loop;
    buffer->SetVolume(volume * g_sfx_volume);
    if (start >= 0) buffer->SetPosition(static_cast<uint32_t>(start));
    return !plat::SoundFailed(buffer->Play(0, loop ? plat::kPlayLooping : 0));
}

void Sound::Stop() {
    if (streamed) {
        if (StreamChannel* ch = channel.load()) StreamStop(*ch, this);
        return;
    }
    Unlink(this);
    if (buffer) {
        buffer->Stop();
        buffer->SetPosition(0);
    }
}

void Sound::SetVolume(float v) {
    volume = v;
    if (streamed) {
        if (StreamChannel* ch = channel.load()) StreamSetVolume(*ch, this, v);
    } else if (buffer) {
        buffer->SetVolume(v * g_sfx_volume);
    }
}

void Sound::SetPosition(float x, float y, float z) {
    position[0] = x;
    position[1] = y;
    position[2] = z;
    if (streamed) {
        if (StreamChannel* ch = channel.load()) StreamSetPosition(*ch, this, position);
    } else if (buffer3d) {
        buffer3d->SetPosition(x, y, z, plat::kApplyImmediate);
    }
}

bool Sound::IsPlaying() {
    if (streamed) {
        StreamChannel* ch = channel.load();
        return ch && StreamIsPlaying(*ch, this);
    }
    return buffer && buffer->IsPlaying();
}

void Sound::Release() {
    if (streamed) {
        StreamForget(this);
        channel.store(nullptr);
        streamed = false;
    }
    Unlink(this);  // never leave a freed sound in the playing list
    if (buffer3d) buffer3d->Release();
    buffer3d = nullptr;
    if (buffer) {
        buffer->Stop();
        buffer->Release();
    }
    buffer = nullptr;
    size = 0;
}

void SetSfxVolume(float v) {
    g_sfx_volume = v;
    for (Sound** link = &g_playing_sounds; *link;) {
        Sound* s = *link;
        if (s->buffer && s->buffer->IsPlaying()) {
            s->buffer->SetVolume(s->volume * v);
            link = &s->next_playing;
        } else {
            *link = s->next_playing;
            s->next_playing = nullptr;
        }
    }
}
