#include "platform/sound/sound_system.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "platform/sound/mixer_core.h"

namespace plat {

namespace {

void AudioCallback(void* user, Uint8* stream, int len) {
    auto* core = static_cast<MixerCore*>(user);
    core->Render(reinterpret_cast<int16_t*>(stream), static_cast<uint32_t>(len) / 4);
}

bool ValidPcm(const WaveFormat& f) {
    if (f.format_tag != kWaveFormatPcm) return false;
    if (f.channels < 1 || f.channels > 2) return false;
    if (f.bits_per_sample != 8 && f.bits_per_sample != 16) return false;
    if (f.block_align != f.channels * f.bits_per_sample / 8) return false;
    return f.samples_per_sec >= 100 && f.samples_per_sec <= 200000;
}

float GainOf(int32_t volume) {
    return static_cast<float>(std::pow(10.0, volume / 2000.0));
}

bool Finite(float v) {
    return std::isfinite(v);
}

// libasound prints its own complaints to stderr when it finds no card; the
// caller reports the failure in one line instead.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsaErrors() {
    void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_NOLOAD);
    if (!alsa) return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    if (auto set = reinterpret_cast<int (*)(Handler)>(dlsym(alsa, "snd_lib_error_set_handler"))) set(QuietAlsa);
    dlclose(alsa);
}

// Starts audio with the driver SDL picks and opens its default device; 0
// (SDL's error says why) when either fails.
SDL_AudioDeviceID OpenAudio(const SDL_AudioSpec& want, SDL_AudioSpec* have) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 0;
    const char* driver = SDL_GetCurrentAudioDriver();
    if (driver && SDL_strcmp(driver, "alsa") == 0) SilenceAlsaErrors();
    SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, have, 0);
    if (dev == 0) {
        std::string why = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        SDL_SetError("%s", why.c_str());
    }
    return dev;
}

}  // namespace

// ---- device -------------------------------------------------------------

SoundResult SoundSystem::Create(SoundOutput output, SoundSystem** out) {
    if (!out) return kSoundInvalidParam;
    *out = nullptr;
    auto* system = new (std::nothrow) SoundSystem;
    if (!system) return kSoundOutOfMemory;
    system->core_ = std::make_shared<MixerCore>();
    system->core_->primary_format = {kWaveFormatPcm, 2, kMixRate, kMixRate * 4, 4, 16};
    if (output == SoundOutput::kAudioDevice) {
        SDL_AudioSpec want{};
        SDL_AudioSpec have{};
        want.freq = kMixRate;
        want.format = AUDIO_S16SYS;
        want.channels = 2;
        want.samples = 1024;
        want.callback = AudioCallback;
        want.userdata = system->core_.get();
        SDL_AudioDeviceID dev = OpenAudio(want, &have);
        if (dev == 0) {
            // No usable device: SDL's dummy output pulls the mix at the real
            // rate into nothing, so sounds still play and end on time.
            system->silent_reason_ = SDL_GetError();
            SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
            dev = OpenAudio(want, &have);
            SDL_ResetHint(SDL_HINT_AUDIODRIVER);
        }
        if (dev == 0) {
            delete system;
            return kSoundNoDriver;
        }
        system->core_->audio_device = dev;
        system->core_->period_frames = have.samples;
        SDL_PauseAudioDevice(dev, 0);
    }
    *out = system;
    return kSoundOk;
}

SoundSystem::~SoundSystem() {
    if (core_ && core_->audio_device) {
        SDL_CloseAudioDevice(core_->audio_device);  // waits for a running callback
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        core_->audio_device = 0;
    }
}

// Buffers keep the mixer state alive on their own, so the device may be
// released before them; they then mix for nobody.
uint32_t SoundSystem::AddRef() {
    return ++refs_;
}

uint32_t SoundSystem::Release() {
    uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
}

SoundResult SoundSystem::SetCooperativeLevel(void*, uint32_t level) {
    if (level < kSoundLevelNormal || level > kSoundLevelWritePrimary) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->level = level;
    return kSoundOk;
}

SoundResult SoundSystem::GetSpeakerConfig(uint32_t* config) {
    if (!config) return kSoundInvalidParam;
    *config = kSpeakerStereo;
    return kSoundOk;
}

SoundResult SoundSystem::CreateSoundBuffer(const SoundBufferDesc& desc, SoundBuffer** out) {
    if (!out) return kSoundInvalidParam;
    *out = nullptr;
    const bool primary = (desc.flags & kBufferPrimary) != 0;
    if (primary) {
        if (desc.buffer_bytes != 0 || desc.format) return kSoundInvalidParam;
    } else {
        if (!desc.format || !ValidPcm(*desc.format)) return kSoundInvalidParam;
        if (desc.buffer_bytes < desc.format->block_align || desc.buffer_bytes > 0x10000000u)
            return kSoundInvalidParam;
        // 3-D buffers are mono.
        if ((desc.flags & kBufferCtrl3D) && desc.format->channels != 1) return kSoundInvalidParam;
    }
    auto* buffer = new (std::nothrow) SoundBuffer;
    auto* state = new (std::nothrow) SoundBuffer::State;
    if (!buffer || !state) {
        delete buffer;
        delete state;
        return kSoundOutOfMemory;
    }
    buffer->core_ = core_;
    buffer->state_ = state;
    state->flags = desc.flags;
    state->primary = primary;
    if (!primary) {
        state->format = *desc.format;
        uint32_t bytes = desc.buffer_bytes - desc.buffer_bytes % desc.format->block_align;
        state->data.assign(bytes, desc.format->bits_per_sample == 8 ? 0x80 : 0);
        state->frames = bytes / desc.format->block_align;
        state->step = (static_cast<uint64_t>(desc.format->samples_per_sec) << 32) / kMixRate;
        std::lock_guard<std::mutex> guard(core_->lock);
        core_->buffers.push_back(state);
    }
    *out = buffer;
    return kSoundOk;
}

void SoundSystem::Render(int16_t* out, uint32_t frames) {
    core_->Render(out, frames);
}

const char* SoundSystem::SilentReason() const {
    return silent_reason_.empty() ? nullptr : silent_reason_.c_str();
}

uint32_t SoundSystem::DevicePeriodFrames() const {
    return core_->period_frames;
}

void SoundSystem::SetRenderObserver(RenderObserver observer, void* user) {
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->observer = observer;
    core_->observer_user = user;
}

// ---- buffers ------------------------------------------------------------

SoundBuffer::~SoundBuffer() {
    if (state_ && !state_->primary) {
        std::lock_guard<std::mutex> guard(core_->lock);
        auto& list = core_->buffers;
        list.erase(std::remove(list.begin(), list.end(), state_), list.end());
    }
    delete state_;
}

uint32_t SoundBuffer::AddRef() {
    return ++state_->refs;
}

uint32_t SoundBuffer::Release() {
    uint32_t left = --state_->refs;
    if (left == 0) delete this;
    return left;
}

SoundResult SoundBuffer::SetFormat(const WaveFormat& format) {
    if (!state_->primary) return kSoundInvalidCall;
    if (!ValidPcm(format)) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->primary_format = format;  // the mix itself stays 44100 Hz stereo
    return kSoundOk;
}

SoundResult SoundBuffer::GetListener(SoundListener** out) {
    if (!out) return kSoundInvalidParam;
    *out = nullptr;
    if (!state_->primary || !(state_->flags & kBufferCtrl3D)) return kSoundInvalidParam;
    auto* listener = new (std::nothrow) SoundListener;
    if (!listener) return kSoundOutOfMemory;
    listener->core_ = core_;
    *out = listener;
    return kSoundOk;
}

SoundResult SoundBuffer::Lock(uint32_t offset, uint32_t bytes, void** ptr1, uint32_t* bytes1, void** ptr2,
                              uint32_t* bytes2, uint32_t flags) {
    if (state_->primary || !ptr1 || !bytes1) return kSoundInvalidParam;
    State& s = *state_;
    std::lock_guard<std::mutex> guard(core_->lock);
    const uint32_t size = static_cast<uint32_t>(s.data.size());
    if (s.locked) return kSoundInvalidCall;
    if (flags & kLockEntireBuffer) {
        offset = 0;
        bytes = size;
    } else if (flags & kLockFromWriteCursor) {
        offset = static_cast<uint32_t>(s.position >> 32) * s.format.block_align;
    }
    if (offset >= size || bytes == 0 || bytes > size) return kSoundInvalidParam;
    // Streaming buffers keep their copy; others give it back at Unlock.
    if (s.staging.size() < bytes) s.staging.resize(bytes);
    uint32_t first = std::min(bytes, size - offset);
    std::memcpy(s.staging.data(), s.data.data() + offset, first);
    std::memcpy(s.staging.data() + first, s.data.data(), bytes - first);
    s.locked = true;
    s.lock_offset = offset;
    s.lock_bytes = bytes;
    if (!ptr2 || !bytes2) s.lock_bytes = bytes = first;  // the caller takes one region only
    *ptr1 = s.staging.data();
    *bytes1 = first;
    if (ptr2) *ptr2 = bytes > first ? s.staging.data() + first : nullptr;
    if (bytes2) *bytes2 = bytes - first;
    return kSoundOk;
}

SoundResult SoundBuffer::Unlock(void* ptr1, uint32_t, void*, uint32_t) {
    State& s = *state_;
    std::lock_guard<std::mutex> guard(core_->lock);
    if (!s.locked || ptr1 != s.staging.data()) return kSoundInvalidParam;
    const uint32_t size = static_cast<uint32_t>(s.data.size());
    uint32_t first = std::min(s.lock_bytes, size - s.lock_offset);
    std::memcpy(s.data.data() + s.lock_offset, s.staging.data(), first);
    std::memcpy(s.data.data(), s.staging.data() + first, s.lock_bytes - first);
    s.locked = false;
    if (!(s.flags & kBufferCtrlPositionNotify)) std::vector<uint8_t>().swap(s.staging);
    return kSoundOk;
}

SoundResult SoundBuffer::Play(uint32_t, uint32_t, uint32_t flags) {
    if (state_->primary) return kSoundOk;
    std::lock_guard<std::mutex> guard(core_->lock);
    state_->playing = true;
    state_->looping = (flags & kPlayLooping) != 0;
    return kSoundOk;
}

SoundResult SoundBuffer::Stop() {
    std::lock_guard<std::mutex> guard(core_->lock);
    state_->playing = false;
    return kSoundOk;
}

SoundResult SoundBuffer::GetStatus(uint32_t* status) {
    if (!status) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(core_->lock);
    *status =
        (state_->playing ? kStatusPlaying : 0) | (state_->playing && state_->looping ? kStatusLooping : 0);
    return kSoundOk;
}

SoundResult SoundBuffer::Restore() {
    return kSoundOk;
}  // a mixer buffer is never lost

SoundResult SoundBuffer::SetCurrentPosition(uint32_t offset) {
    if (state_->primary) return kSoundInvalidCall;
    std::lock_guard<std::mutex> guard(core_->lock);
    if (offset >= state_->data.size()) return kSoundInvalidParam;
    state_->position = static_cast<uint64_t>(offset / state_->format.block_align) << 32;
    return kSoundOk;
}

SoundResult SoundBuffer::GetCurrentPosition(uint32_t* play, uint32_t* write) {
    if (state_->primary) return kSoundInvalidCall;
    std::lock_guard<std::mutex> guard(core_->lock);
    uint32_t at = static_cast<uint32_t>(state_->position >> 32) * state_->format.block_align;
    if (play) *play = at;
    if (write) *write = at;
    return kSoundOk;
}

SoundResult SoundBuffer::SetVolume(int32_t volume) {
    if (!(state_->flags & kBufferCtrlVolume)) return kSoundInvalidCall;
    if (volume < kVolumeMin || volume > kVolumeMax) return kSoundInvalidParam;
    float gain = GainOf(volume);
    std::lock_guard<std::mutex> guard(core_->lock);
    state_->volume = volume;
    state_->gain = gain;
    return kSoundOk;
}

SoundResult SoundBuffer::GetVolume(int32_t* volume) {
    if (!volume) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(core_->lock);
    *volume = state_->volume;
    return kSoundOk;
}

SoundResult SoundBuffer::GetFormat(WaveFormat* format) {
    if (!format) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(core_->lock);
    *format = state_->primary ? core_->primary_format : state_->format;
    return kSoundOk;
}

SoundResult SoundBuffer::SetNotificationPositions(uint32_t count, const NotifyPosition* positions) {
    if (!(state_->flags & kBufferCtrlPositionNotify)) return kSoundInvalidCall;
    if (count > 0 && !positions) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(core_->lock);
    if (state_->playing) return kSoundInvalidCall;
    for (uint32_t i = 0; i < count; ++i)
        if (positions[i].offset >= state_->data.size() || !positions[i].event) return kSoundInvalidParam;
    state_->notify.assign(positions, positions + count);
    return kSoundOk;
}

SoundResult SoundBuffer::Get3D(SoundBuffer3D** out) {
    if (!out) return kSoundInvalidParam;
    *out = nullptr;
    if (state_->primary || !(state_->flags & kBufferCtrl3D)) return kSoundInvalidParam;
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        if (!state_->view3d) {
            state_->view3d.reset(new (std::nothrow) SoundBuffer3D);
            if (!state_->view3d) return kSoundOutOfMemory;
            state_->view3d->buffer_ = this;
        }
    }
    AddRef();
    *out = state_->view3d.get();
    return kSoundOk;
}

// ---- 3-D buffers --------------------------------------------------------

uint32_t SoundBuffer3D::AddRef() {
    return buffer_->AddRef();
}
uint32_t SoundBuffer3D::Release() {
    return buffer_->Release();
}

SoundResult SoundBuffer3D::SetMode(uint32_t mode, uint32_t apply) {
    if (mode != kMode3DNormal || apply != kApplyImmediate) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(buffer_->core_->lock);
    buffer_->state_->mode3d = mode;
    return kSoundOk;
}

SoundResult SoundBuffer3D::SetMinDistance(float d, uint32_t apply) {
    if (!Finite(d) || d <= 0.0f || apply != kApplyImmediate) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(buffer_->core_->lock);
    buffer_->state_->min_distance = d;
    return kSoundOk;
}

SoundResult SoundBuffer3D::SetMaxDistance(float d, uint32_t apply) {
    if (!Finite(d) || d <= 0.0f || apply != kApplyImmediate) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(buffer_->core_->lock);
    buffer_->state_->max_distance = d;
    return kSoundOk;
}

SoundResult SoundBuffer3D::SetPosition(float x, float y, float z, uint32_t apply) {
    if (!Finite(x) || !Finite(y) || !Finite(z) || apply != kApplyImmediate) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(buffer_->core_->lock);
    float* p = buffer_->state_->position3d;
    p[0] = x;
    p[1] = y;
    p[2] = z;
    return kSoundOk;
}

SoundResult SoundBuffer3D::GetPosition(float* x, float* y, float* z) {
    if (!x || !y || !z) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(buffer_->core_->lock);
    const float* p = buffer_->state_->position3d;
    *x = p[0];
    *y = p[1];
    *z = p[2];
    return kSoundOk;
}

// ---- listener -----------------------------------------------------------

uint32_t SoundListener::AddRef() {
    return ++refs_;
}

uint32_t SoundListener::Release() {
    uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
}

SoundResult SoundListener::SetPosition(float x, float y, float z, uint32_t apply) {
    if (!Finite(x) || !Finite(y) || !Finite(z) || apply != kApplyImmediate) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->listener_position[0] = x;
    core_->listener_position[1] = y;
    core_->listener_position[2] = z;
    return kSoundOk;
}

SoundResult SoundListener::SetOrientation(float fx, float fy, float fz, float tx, float ty, float tz,
                                          uint32_t apply) {
    float v[6] = {fx, fy, fz, tx, ty, tz};
    for (float c : v)
        if (!Finite(c)) return kSoundInvalidParam;
    if (apply != kApplyImmediate) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(core_->lock);
    std::memcpy(core_->listener_front, v, sizeof(float) * 3);
    std::memcpy(core_->listener_top, v + 3, sizeof(float) * 3);
    return kSoundOk;
}

SoundResult SoundListener::GetPosition(float* x, float* y, float* z) {
    if (!x || !y || !z) return kSoundInvalidParam;
    std::lock_guard<std::mutex> guard(core_->lock);
    *x = core_->listener_position[0];
    *y = core_->listener_position[1];
    *z = core_->listener_position[2];
    return kSoundOk;
}

}  // namespace plat
