#pragma once
// The sound device: a software mixer shaped like the 2000s-era Windows sound
// interface the engine was written against. A device owns secondary buffers
// (static or streaming rings, mono or stereo, 8 or 16 bits, any rate from
// 100 to 200000 Hz), a primary buffer that carries the output format and the
// 3-D listener, and mixes every playing buffer into 44100 Hz stereo 16-bit.
//
// The mix is pulled either by an SDL audio device or, for tests and tools,
// by calling SoundSystem::Render directly. Every call may come from any
// thread: one lock guards the mixer state, and Lock hands out a private copy
// that Unlock writes back, so a writer never races the mixing thread.
//
// Results are the engine's 32-bit result codes; values and flags keep the
// numbers the engine uses (volume in hundredths of a decibel).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

struct Event;

using SoundResult = int32_t;
constexpr SoundResult kSoundOk = 0;
constexpr SoundResult kSoundInvalidParam = static_cast<int32_t>(0x80070057u);
constexpr SoundResult kSoundOutOfMemory = static_cast<int32_t>(0x8007000Eu);
constexpr SoundResult kSoundNotInitialized = static_cast<int32_t>(0x800401F0u);
constexpr SoundResult kSoundInvalidCall = static_cast<int32_t>(0x88780032u);
constexpr SoundResult kSoundNoDriver = static_cast<int32_t>(0x88780078u);
constexpr SoundResult kSoundBufferLost = static_cast<int32_t>(0x88780096u);
inline bool SoundFailed(SoundResult r) {
    return r < 0;
}

// Cooperative levels.
constexpr uint32_t kSoundLevelNormal = 1;
constexpr uint32_t kSoundLevelPriority = 2;
constexpr uint32_t kSoundLevelExclusive = 3;
constexpr uint32_t kSoundLevelWritePrimary = 4;

constexpr uint32_t kSpeakerStereo = 4;

// Buffer creation flags.
constexpr uint32_t kBufferPrimary = 0x1;
constexpr uint32_t kBufferStatic = 0x2;
constexpr uint32_t kBufferLocHardware = 0x4;
constexpr uint32_t kBufferLocSoftware = 0x8;
constexpr uint32_t kBufferCtrl3D = 0x10;
constexpr uint32_t kBufferCtrlFrequency = 0x20;
constexpr uint32_t kBufferCtrlPan = 0x40;
constexpr uint32_t kBufferCtrlVolume = 0x80;
constexpr uint32_t kBufferCtrlPositionNotify = 0x100;
constexpr uint32_t kBufferGetCurrentPosition2 = 0x10000;

// Status bits.
constexpr uint32_t kStatusPlaying = 0x1;
constexpr uint32_t kStatusBufferLost = 0x2;
constexpr uint32_t kStatusLooping = 0x4;

constexpr uint32_t kPlayLooping = 0x1;
constexpr uint32_t kLockFromWriteCursor = 0x1;
constexpr uint32_t kLockEntireBuffer = 0x2;

constexpr int32_t kVolumeMin = -10000;
constexpr int32_t kVolumeMax = 0;

constexpr uint32_t kMode3DNormal = 0;
constexpr uint32_t kApplyImmediate = 0;

constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint32_t kMixRate = 44100;  // the mix is always 44100 Hz stereo

struct WaveFormat {
    uint16_t format_tag = kWaveFormatPcm;
    uint16_t channels = 0;
    uint32_t samples_per_sec = 0;
    uint32_t avg_bytes_per_sec = 0;
    uint16_t block_align = 0;
    uint16_t bits_per_sample = 0;
};

struct SoundBufferDesc {
    uint32_t flags = 0;
    uint32_t buffer_bytes = 0;           // 0 for the primary buffer
    const WaveFormat* format = nullptr;  // null for the primary buffer
};

struct NotifyPosition {
    uint32_t offset = 0;  // byte offset in the buffer
    Event* event = nullptr;
};

struct MixerCore;
class SoundBuffer3D;
class SoundListener;

class SoundBuffer {
public:
    uint32_t AddRef();
    uint32_t Release();

    // Primary buffer only.
    SoundResult SetFormat(const WaveFormat& format);
    SoundResult GetListener(SoundListener** out);

    // Secondary buffers.
    // Up to two regions: the second one is non-null when the range wraps.
    SoundResult Lock(uint32_t offset, uint32_t bytes, void** ptr1, uint32_t* bytes1, void** ptr2,
                     uint32_t* bytes2, uint32_t flags);
    SoundResult Unlock(void* ptr1, uint32_t bytes1, void* ptr2, uint32_t bytes2);
    SoundResult Play(uint32_t reserved, uint32_t priority, uint32_t flags);
    SoundResult Stop();
    SoundResult GetStatus(uint32_t* status);
    SoundResult Restore();
    SoundResult SetCurrentPosition(uint32_t offset);
    SoundResult GetCurrentPosition(uint32_t* play, uint32_t* write);
    SoundResult SetVolume(int32_t volume);
    SoundResult GetVolume(int32_t* volume);
    SoundResult GetFormat(WaveFormat* format);
    // Buffers made with the position-notify flag, while stopped.
    SoundResult SetNotificationPositions(uint32_t count, const NotifyPosition* positions);
    // Buffers made with the 3-D flag.
    SoundResult Get3D(SoundBuffer3D** out);

    struct State;

private:
    friend class SoundSystem;
    friend class SoundBuffer3D;
    friend struct MixerCore;
    SoundBuffer() = default;
    ~SoundBuffer();
    std::shared_ptr<MixerCore> core_;
    State* state_ = nullptr;
};

class SoundBuffer3D {
public:
    uint32_t AddRef();
    uint32_t Release();  // releases the buffer reference it holds
    SoundResult SetMode(uint32_t mode, uint32_t apply);
    SoundResult SetMinDistance(float d, uint32_t apply);
    SoundResult SetMaxDistance(float d, uint32_t apply);
    SoundResult SetPosition(float x, float y, float z, uint32_t apply);
    SoundResult GetPosition(float* x, float* y, float* z);

private:
    friend class SoundBuffer;
    SoundBuffer3D() = default;
    SoundBuffer* buffer_ = nullptr;
};

// The 3-D listener; left-handed: +x right, +y up, +z ahead by default.
class SoundListener {
public:
    uint32_t AddRef();
    uint32_t Release();
    SoundResult SetPosition(float x, float y, float z, uint32_t apply);
    SoundResult SetOrientation(float fx, float fy, float fz, float tx, float ty, float tz, uint32_t apply);
    SoundResult GetPosition(float* x, float* y, float* z);

private:
    friend class SoundBuffer;
    SoundListener() = default;
    std::atomic<uint32_t> refs_{1};
    std::shared_ptr<MixerCore> core_;
};

enum class SoundOutput {
    kAudioDevice,  // an SDL audio device pulls the mix
    kManual,       // nothing pulls: the caller calls Render
};

class SoundSystem {
public:
    // Opens the default device. With kAudioDevice, when the system's audio
    // cannot be opened the mix goes to a silent output that still runs at
    // the real rate (SilentReason says why); kSoundNoDriver only when that
    // fails too.
    static SoundResult Create(SoundOutput output, SoundSystem** out);

    uint32_t AddRef();
    uint32_t Release();
    SoundResult SetCooperativeLevel(void* window, uint32_t level);
    SoundResult CreateSoundBuffer(const SoundBufferDesc& desc, SoundBuffer** out);
    SoundResult GetSpeakerConfig(uint32_t* config);

    // Mixes the next frames of every playing buffer into interleaved stereo
    // (44100 Hz), advancing play cursors and signalling notifications.
    void Render(int16_t* out, uint32_t frames);

    // Why the mix plays into silence (the system's audio failed to open);
    // null while a real device or manual output pulls it.
    const char* SilentReason() const;
    // Frames the audio device asks for per call (0 with manual output).
    uint32_t DevicePeriodFrames() const;
    // Called after each render, on the mixing thread, outside the lock.
    using RenderObserver = void (*)(const int16_t* samples, uint32_t frames, void* user);
    void SetRenderObserver(RenderObserver observer, void* user);

private:
    SoundSystem() = default;
    ~SoundSystem();
    std::atomic<uint32_t> refs_{1};
    std::shared_ptr<MixerCore> core_;
    std::string silent_reason_;
};

}  // namespace plat
