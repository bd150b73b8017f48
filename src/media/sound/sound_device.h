#pragma once
// The engine's sound device: the platform mixer opened at a cooperative
// level with its primary format and 3-D listener, and the small wrapper
// around each secondary buffer that static sounds and stream channels use.
#include <cstdint>

#include "platform/sound/sound_system.h"
#include "platform/system.h"

// One secondary buffer with its size; streaming buffers also know their
// segment size.
struct SoundBufferRecord {
    plat::SoundBuffer* buffer = nullptr;
    uint32_t size = 0;
    uint32_t segment = 0;

    // 1 when the buffer was not lost, 0 after restoring it, or an error.
    int32_t Restore();
    // Writes data (zeros when null) at offset; bytes 0 means the whole buffer.
    int32_t Fill(uint32_t offset, uint32_t bytes, const void* data);
    int32_t Play(uint32_t priority, uint32_t flags);
    int32_t Stop();
    bool IsPlaying();
    int32_t SetPosition(uint32_t offset);
    int32_t Query3D(plat::SoundBuffer3D** out);
    // v in 0..1, applied as v * 10000 - 10000 hundredths of a decibel.
    int32_t SetVolume(float v);
    // Releases the buffer and frees the record.
    void Release();
};

// Hundredths of a decibel for a volume 0..1 (saturating; NaN is silence).
int32_t VolumeToHundredths(float v);

class SoundDevice {
public:
    // Releases a previous device, opens the default one at the level and
    // sets the primary format. 0 or the first negative error.
    int32_t Create(void* window, uint32_t level, uint32_t channels, uint32_t rate, uint32_t bits);
    int32_t CreateListener();
    // Places and turns the listener at once.
    int32_t SetListenerPosition(float x, float y, float z);
    int32_t SetListenerOrientation(float fx, float fy, float fz, float tx, float ty, float tz);

    // A buffer holding a copy of data, with volume control; 0x80070057 for
    // null data or size 0.
    int32_t CreateStaticBuffer(const void* data, uint32_t size, const plat::WaveFormat& format,
                               uint32_t flags, SoundBufferRecord** out);
    // A ring of count segments, each notification position (0, segment,
    // 2 * segment ...) signalling events[i].
    int32_t CreateStreamingBuffer(const plat::WaveFormat& format, uint32_t segment, uint32_t count,
                                  plat::Event* const* events, uint32_t flags, SoundBufferRecord** out);
    void Release();

    bool IsCreated() const { return system_ != nullptr; }
    plat::SoundSystem* System() const { return system_; }
    // With manual output nothing pulls the mix: the caller renders it
    // (tests, tools). Takes effect at the next Create.
    void SetManualOutput(bool manual) { manual_ = manual; }

private:
    int32_t SetPrimaryFormat(uint32_t channels, uint32_t rate, uint32_t bits);

    plat::SoundSystem* system_ = nullptr;
    plat::SoundListener* listener_ = nullptr;
    bool manual_ = false;
};

extern SoundDevice g_sound_device;
