#include "media/sound/sound_device.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "base/text.h"

SoundDevice g_sound_device;

int32_t VolumeToHundredths(float v) {
    if (std::isnan(v)) return plat::kVolumeMin;
    return std::clamp(SaturateToInt(v * 10000.0 - 10000.0), plat::kVolumeMin, plat::kVolumeMax);
}

// ---- buffer wrapper -----------------------------------------------------

int32_t SoundBufferRecord::Restore() {
    if (!buffer) return plat::kSoundNotInitialized;
    uint32_t status = 0;
    int32_t r = buffer->GetStatus(&status);
    if (plat::SoundFailed(r)) return r;
    if (!(status & plat::kStatusBufferLost)) return 1;
    for (int tries = 0; tries < 100; ++tries) {
        r = buffer->Restore();
        if (r != plat::kSoundBufferLost) return r;
        plat::SleepMs(10);
    }
    return r;
}

int32_t SoundBufferRecord::Fill(uint32_t offset, uint32_t bytes, const void* data) {
    int32_t r = Restore();
    if (plat::SoundFailed(r)) return r;
    void *p1 = nullptr, *p2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    r = buffer->Lock(offset, bytes, &p1, &n1, &p2, &n2, bytes == 0 ? plat::kLockEntireBuffer : 0);
    if (plat::SoundFailed(r)) return r;
    const auto* src = static_cast<const uint8_t*>(data);
    if (src) {
        std::memcpy(p1, src, n1);
        if (p2) std::memcpy(p2, src + n1, n2);
    } else {
        std::memset(p1, 0, n1);
        if (p2) std::memset(p2, 0, n2);
    }
    return buffer->Unlock(p1, n1, p2, n2);
}

int32_t SoundBufferRecord::Play(uint32_t priority, uint32_t flags) {
    int32_t r = Restore();
    if (plat::SoundFailed(r)) return r;
    return buffer->Play(0, priority, flags);
}

int32_t SoundBufferRecord::Stop() {
    return buffer ? buffer->Stop() : plat::kSoundNotInitialized;
}

bool SoundBufferRecord::IsPlaying() {
    uint32_t status = 0;
    return buffer && !plat::SoundFailed(buffer->GetStatus(&status)) && (status & plat::kStatusPlaying);
}

int32_t SoundBufferRecord::SetPosition(uint32_t offset) {
    return buffer ? buffer->SetCurrentPosition(offset) : plat::kSoundNotInitialized;
}

int32_t SoundBufferRecord::Query3D(plat::SoundBuffer3D** out) {
    return buffer ? buffer->Get3D(out) : plat::kSoundNotInitialized;
}

int32_t SoundBufferRecord::SetVolume(float v) {
    return buffer ? buffer->SetVolume(VolumeToHundredths(v)) : plat::kSoundNotInitialized;
}

void SoundBufferRecord::Release() {
    if (buffer) buffer->Release();
    delete this;
}

// ---- device -------------------------------------------------------------

int32_t SoundDevice::Create(void* window, uint32_t level, uint32_t channels, uint32_t rate, uint32_t bits) {
    Release();
    auto output = manual_ ? plat::SoundOutput::kManual : plat::SoundOutput::kAudioDevice;
    int32_t r = plat::SoundSystem::Create(output, &system_);
    if (plat::SoundFailed(r)) return r;
    r = system_->SetCooperativeLevel(window, level);
    if (plat::SoundFailed(r)) {
        Release();
        return r;
    }
    return SetPrimaryFormat(channels, rate, bits);
}

int32_t SoundDevice::SetPrimaryFormat(uint32_t channels, uint32_t rate, uint32_t bits) {
    if (!system_) return plat::kSoundNotInitialized;
    plat::SoundBufferDesc desc;
    desc.flags = plat::kBufferPrimary;
    plat::SoundBuffer* primary = nullptr;
    int32_t r = system_->CreateSoundBuffer(desc, &primary);
    if (plat::SoundFailed(r)) return r;
    plat::WaveFormat f;
    f.channels = static_cast<uint16_t>(channels);
    f.samples_per_sec = rate;
    f.bits_per_sample = static_cast<uint16_t>(bits);
    f.block_align = static_cast<uint16_t>(bits / 8 * channels);
    f.avg_bytes_per_sec = f.block_align * rate;
    r = primary->SetFormat(f);
    primary->Release();
    return plat::SoundFailed(r) ? r : 0;
}

int32_t SoundDevice::CreateListener() {
    if (!system_) return plat::kSoundNotInitialized;
    plat::SoundBufferDesc desc;
    desc.flags = plat::kBufferPrimary | plat::kBufferCtrl3D;
    plat::SoundBuffer* primary = nullptr;
    int32_t r = system_->CreateSoundBuffer(desc, &primary);
    if (plat::SoundFailed(r)) return r;
    if (listener_) listener_->Release();
    listener_ = nullptr;
    r = primary->GetListener(&listener_);
    primary->Release();
    if (plat::SoundFailed(r)) return r;
    return listener_->SetPosition(0, 0, 0, plat::kApplyImmediate);
}

int32_t SoundDevice::SetListenerPosition(float x, float y, float z) {
    return listener_ ? listener_->SetPosition(x, y, z, plat::kApplyImmediate) : plat::kSoundNotInitialized;
}

int32_t SoundDevice::SetListenerOrientation(float fx, float fy, float fz, float tx, float ty, float tz) {
    if (!listener_) return plat::kSoundNotInitialized;
    return listener_->SetOrientation(fx, fy, fz, tx, ty, tz, plat::kApplyImmediate);
}

int32_t SoundDevice::CreateStaticBuffer(const void* data, uint32_t size, const plat::WaveFormat& format,
                                        uint32_t flags, SoundBufferRecord** out) {
    if (!out) return plat::kSoundInvalidParam;
    *out = nullptr;
    if (!data || size == 0) return plat::kSoundInvalidParam;
    if (!system_) return plat::kSoundNotInitialized;
    plat::SoundBufferDesc desc;
    desc.flags = flags | plat::kBufferCtrlVolume;
    desc.buffer_bytes = size;
    desc.format = &format;
    plat::SoundBuffer* buffer = nullptr;
    int32_t r = system_->CreateSoundBuffer(desc, &buffer);
    if (plat::SoundFailed(r)) return r;
    auto* record = new (std::nothrow) SoundBufferRecord;
    if (!record) {
        buffer->Release();
        return plat::kSoundOutOfMemory;
    }
    record->buffer = buffer;
    record->size = size;
    r = record->Fill(0, 0, data);
    if (!plat::SoundFailed(r)) r = record->SetPosition(0);
    if (plat::SoundFailed(r)) {
        record->Release();
        return r;
    }
    *out = record;
    return 0;
}

int32_t SoundDevice::CreateStreamingBuffer(const plat::WaveFormat& format, uint32_t segment, uint32_t count,
                                           plat::Event* const* events, uint32_t flags,
                                           SoundBufferRecord** out) {
    if (!out) return plat::kSoundInvalidParam;
    *out = nullptr;
    if (!system_) return plat::kSoundNotInitialized;
    if (segment == 0 || count == 0 || count > 16 || !events || segment > 0x10000000u / count)
        return plat::kSoundInvalidParam;
    plat::SoundBufferDesc desc;
    desc.flags =
        flags | plat::kBufferGetCurrentPosition2 | plat::kBufferCtrlPositionNotify | plat::kBufferCtrlVolume;
    desc.buffer_bytes = segment * count;
    desc.format = &format;
    plat::SoundBuffer* buffer = nullptr;
    int32_t r = system_->CreateSoundBuffer(desc, &buffer);
    if (plat::SoundFailed(r)) return r;
    plat::NotifyPosition positions[16];
    for (uint32_t i = 0; i < count; ++i) positions[i] = {i * segment, events[i]};
    r = buffer->SetNotificationPositions(count, positions);
    auto* record = plat::SoundFailed(r) ? nullptr : new (std::nothrow) SoundBufferRecord;
    if (!record) {
        buffer->Release();
        return plat::SoundFailed(r) ? r : plat::kSoundOutOfMemory;
    }
    record->buffer = buffer;
    record->size = segment * count;
    record->segment = segment;
    *out = record;
    return 0;
}

void SoundDevice::Release() {
    if (listener_) listener_->Release();
    listener_ = nullptr;
    if (system_) system_->Release();
    system_ = nullptr;
}
