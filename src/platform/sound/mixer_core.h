#pragma once
// Inside of the sound device: the state shared by the device, its buffers and
// the listener, guarded by one lock, and the mixing itself.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sound/sound_system.h"

namespace plat {

struct SoundBuffer::State {
    std::atomic<uint32_t> refs{1};
    uint32_t flags = 0;
    bool primary = false;
    WaveFormat format;
    std::vector<uint8_t> data;
    uint32_t frames = 0;  // data size in whole frames

    // Mixer state, under the core lock.
    bool playing = false;
    bool looping = false;
    uint64_t position = 0;  // play cursor in frames, 32.32 fixed point
    uint64_t step = 0;      // cursor advance per output frame, 32.32
    int32_t volume = 0;
    float gain = 1.0f;
    std::vector<NotifyPosition> notify;

    std::unique_ptr<SoundBuffer3D> view3d;
    uint32_t mode3d = kMode3DNormal;
    float min_distance = 1.0f;
    float max_distance = 1000000000.0f;
    float position3d[3] = {0, 0, 0};

    // A Lock hands out this private copy; Unlock writes it back.
    bool locked = false;
    uint32_t lock_offset = 0;
    uint32_t lock_bytes = 0;
    std::vector<uint8_t> staging;
};

struct MixerCore {
    std::mutex lock;
    std::vector<SoundBuffer::State*> buffers;  // playing or not, secondary only
    uint32_t level = 0;
    WaveFormat primary_format;
    float listener_position[3] = {0, 0, 0};
    float listener_front[3] = {0, 0, 1};
    float listener_top[3] = {0, 1, 0};
    std::vector<float> accum;

    SoundSystem::RenderObserver observer = nullptr;
    void* observer_user = nullptr;
    uint32_t period_frames = 0;
    uint32_t audio_device = 0;  // SDL device id, 0 with manual output

    void Render(int16_t* out, uint32_t frames);

private:
    void MixBuffer(SoundBuffer::State& b, float* acc, uint32_t frames);
    void Gains3D(const SoundBuffer::State& b, float* left, float* right) const;
};

}  // namespace plat
