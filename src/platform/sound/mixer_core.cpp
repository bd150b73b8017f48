#include "platform/sound/mixer_core.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/system.h"

namespace plat {

namespace {

constexpr uint32_t kBlockFrames = 512;

inline float Sample(const uint8_t* frame, int channel, int bits) {
    if (bits == 8) return (static_cast<float>(frame[channel]) - 128.0f) * 256.0f;
    int16_t v;
    std::memcpy(&v, frame + channel * 2, 2);
    return static_cast<float>(v);
}

float Length(const float* v) {
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

}  // namespace

void MixerCore::Gains3D(const SoundBuffer::State& b, float* left, float* right) const {
    float rel[3];
    for (int i = 0; i < 3; ++i) rel[i] = b.position3d[i] - listener_position[i];
    float d = Length(rel);
    float lo = b.min_distance;
    float hi = std::max(b.max_distance, lo);
    float clamped = std::clamp(d, lo, hi);
    float g = clamped > 0.0f ? lo / clamped : 1.0f;

    // Right = top x front in the left-handed listener frame.
    const float* f = listener_front;
    const float* t = listener_top;
    float r[3] = {t[1] * f[2] - t[2] * f[1], t[2] * f[0] - t[0] * f[2], t[0] * f[1] - t[1] * f[0]};
    float rl = Length(r);
    float pan = 0.0f;
    if (d > 1e-6f && rl > 1e-6f) pan = (rel[0] * r[0] + rel[1] * r[1] + rel[2] * r[2]) / (d * rl);
    pan = std::clamp(pan, -1.0f, 1.0f);
    *left = g * (pan > 0.0f ? 1.0f - pan : 1.0f);
    *right = g * (pan < 0.0f ? 1.0f + pan : 1.0f);
}

void MixerCore::MixBuffer(SoundBuffer::State& b, float* acc, uint32_t frames) {
    const uint64_t total = b.frames;
    if (total == 0) {
        b.playing = false;
        return;
    }
    float gl = b.gain, gr = b.gain;
    if (b.flags & kBufferCtrl3D) {
        float l3, r3;
        Gains3D(b, &l3, &r3);
        gl *= l3;
        gr *= r3;
    }
    const int channels = b.format.channels;
    const int bits = b.format.bits_per_sample;
    const uint32_t align = b.format.block_align;
    const uint8_t* data = b.data.data();
    const uint64_t start_frame = b.position >> 32;
    uint64_t wraps = 0;
    bool ended = false;
    uint64_t pos = b.position;

    for (uint32_t i = 0; i < frames; ++i) {
        uint64_t idx = pos >> 32;
        float frac = static_cast<float>(pos & 0xFFFFFFFFu) * (1.0f / 4294967296.0f);
        uint64_t next = idx + 1;
        if (next >= total) next = b.looping ? 0 : idx;
        const uint8_t* f0 = data + idx * align;
        const uint8_t* f1 = data + next * align;
        float l0 = Sample(f0, 0, bits), l1 = Sample(f1, 0, bits);
        float left = l0 + (l1 - l0) * frac;
        float right = left;
        if (channels == 2) {
            float r0 = Sample(f0, 1, bits), r1 = Sample(f1, 1, bits);
            right = r0 + (r1 - r0) * frac;
        }
        acc[2 * i] += left * gl;
        acc[2 * i + 1] += right * gr;
        pos += b.step;
        if ((pos >> 32) >= total) {
            if (b.looping) {
                pos -= total << 32;
                ++wraps;
            } else {
                ended = true;
                break;
            }
        }
    }

    uint64_t crossed = ended ? total - start_frame : (pos >> 32) + wraps * total - start_frame;
    if (ended) {
        b.playing = false;
        b.looping = false;
        b.position = 0;
    } else {
        b.position = pos;
    }
    if (crossed == 0 || b.notify.empty()) return;

    // Every offset the cursor moved over, in the order it met them.
    struct Hit {
        uint64_t distance;
        Event* event;
    };
    Hit hits[32];
    size_t count = 0;
    for (const NotifyPosition& n : b.notify) {
        uint64_t f = n.offset / align;
        uint64_t distance = (f + total - start_frame % total) % total;
        if (distance < crossed && count < std::size(hits)) hits[count++] = {distance, n.event};
    }
    std::sort(hits, hits + count, [](const Hit& a, const Hit& c) { return a.distance < c.distance; });
    for (size_t i = 0; i < count; ++i) SetEvent(hits[i].event);
}

void MixerCore::Render(int16_t* out, uint32_t frames) {
    SoundSystem::RenderObserver notify_observer;
    void* user;
    {
        std::lock_guard<std::mutex> guard(lock);
        notify_observer = observer;
        user = observer_user;
        if (accum.size() < kBlockFrames * 2) accum.resize(kBlockFrames * 2);
        int16_t* o = out;
        for (uint32_t done = 0; done < frames;) {
            uint32_t n = std::min(kBlockFrames, frames - done);
            float* acc = accum.data();
            std::fill(acc, acc + n * 2, 0.0f);
            for (SoundBuffer::State* b : buffers)
                if (b->playing) MixBuffer(*b, acc, n);
            for (uint32_t i = 0; i < n * 2; ++i) {
                float v = std::clamp(acc[i], -32768.0f, 32767.0f);
                o[i] = static_cast<int16_t>(std::lrint(v));
            }
            o += n * 2;
            done += n;
        }
    }
    if (notify_observer) notify_observer(out, frames, user);
}

}  // namespace plat
