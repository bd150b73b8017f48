#include "platform/sound/sound_system.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"

namespace {

using namespace plat;

WaveFormat Pcm16(uint16_t channels, uint32_t rate) {
    WaveFormat f;
    f.channels = channels;
    f.samples_per_sec = rate;
    f.bits_per_sample = 16;
    f.block_align = static_cast<uint16_t>(channels * 2);
    f.avg_bytes_per_sec = rate * f.block_align;
    return f;
}

class Mixer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SoundSystem::Create(SoundOutput::kManual, &system_), kSoundOk);
        ASSERT_EQ(system_->SetCooperativeLevel(nullptr, kSoundLevelPriority), kSoundOk);
    }
    void TearDown() override {
        for (SoundBuffer* b : buffers_) b->Release();
        system_->Release();
    }
    SoundBuffer* Make(uint32_t flags, const WaveFormat& format, const std::vector<int16_t>& samples) {
        SoundBufferDesc desc;
        desc.flags = flags;
        desc.format = &format;
        desc.buffer_bytes = static_cast<uint32_t>(samples.size() * 2);
        SoundBuffer* b = nullptr;
        EXPECT_EQ(system_->CreateSoundBuffer(desc, &b), kSoundOk);
        if (!b) return nullptr;
        void* p1;
        uint32_t n1;
        EXPECT_EQ(b->Lock(0, 0, &p1, &n1, nullptr, nullptr, kLockEntireBuffer), kSoundOk);
        std::memcpy(p1, samples.data(), n1);
        EXPECT_EQ(b->Unlock(p1, n1, nullptr, 0), kSoundOk);
        buffers_.push_back(b);
        return b;
    }
    std::vector<int16_t> Render(uint32_t frames) {
        std::vector<int16_t> out(frames * 2);
        system_->Render(out.data(), frames);
        return out;
    }
    SoundSystem* system_ = nullptr;
    std::vector<SoundBuffer*> buffers_;
};

TEST_F(Mixer, MixesAtVolumeInHundredthsOfADecibel) {
    SoundBuffer* b = Make(kBufferCtrlVolume, Pcm16(1, 44100), std::vector<int16_t>(4410, 10000));
    ASSERT_EQ(b->Play(0, 0, kPlayLooping), kSoundOk);
    auto out = Render(100);
    EXPECT_EQ(out[0], 10000);
    EXPECT_EQ(out[1], 10000);
    ASSERT_EQ(b->SetVolume(-2000), kSoundOk);  // a tenth
    out = Render(10);
    EXPECT_EQ(out[4], 1000);
    ASSERT_EQ(b->SetVolume(-5000), kSoundOk);
    out = Render(10);
    EXPECT_EQ(out[4], static_cast<int16_t>(std::lrint(10000 * std::pow(10.0, -2.5))));
    EXPECT_EQ(b->SetVolume(1), kSoundInvalidParam);
    EXPECT_EQ(b->SetVolume(-10001), kSoundInvalidParam);
    // Two buffers add and clip.
    SoundBuffer* c = Make(kBufferCtrlVolume, Pcm16(2, 44100), std::vector<int16_t>(882, 30000));
    ASSERT_EQ(b->SetVolume(0), kSoundOk);
    ASSERT_EQ(c->Play(0, 0, kPlayLooping), kSoundOk);
    out = Render(4);
    EXPECT_EQ(out[0], 32767);
}

TEST_F(Mixer, ResamplesLinearlyAndStopsAtTheEndOfAOneShot) {
    std::vector<int16_t> ramp = {0, 1000, 2000, 3000};
    SoundBuffer* b = Make(0, Pcm16(1, 22050), ramp);
    ASSERT_EQ(b->Play(0, 0, 0), kSoundOk);
    auto out = Render(12);
    const int16_t expect[] = {0, 500, 1000, 1500, 2000, 2500, 3000, 3000, 0, 0};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[2 * i], expect[i]) << i;
    uint32_t status = 99, play = 99;
    ASSERT_EQ(b->GetStatus(&status), kSoundOk);
    EXPECT_EQ(status, 0u);
    ASSERT_EQ(b->GetCurrentPosition(&play, nullptr), kSoundOk);
    EXPECT_EQ(play, 0u);
    // Looping wraps instead, and interpolates across the seam.
    ASSERT_EQ(b->Play(0, 0, kPlayLooping), kSoundOk);
    out = Render(10);
    EXPECT_EQ(out[2 * 7], 1500);
    EXPECT_EQ(out[2 * 8], 0);
    ASSERT_EQ(b->GetStatus(&status), kSoundOk);
    EXPECT_EQ(status, kStatusPlaying | kStatusLooping);
}

TEST_F(Mixer, LockWrapsIntoTwoRegionsAndUnlockWritesBack) {
    SoundBuffer* b = Make(0, Pcm16(1, 44100), std::vector<int16_t>(8, 0));
    void *p1, *p2;
    uint32_t n1, n2;
    ASSERT_EQ(b->Lock(12, 8, &p1, &n1, &p2, &n2, 0), kSoundOk);
    EXPECT_EQ(n1, 4u);
    EXPECT_EQ(n2, 4u);
    ASSERT_NE(p2, nullptr);
    void* again;
    uint32_t n;
    EXPECT_EQ(b->Lock(0, 2, &again, &n, nullptr, nullptr, 0), kSoundInvalidCall);
    int16_t tail[2] = {7, 8}, head[2] = {1, 2};
    std::memcpy(p1, tail, 4);
    std::memcpy(p2, head, 4);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), kSoundOk);
    ASSERT_EQ(b->Play(0, 0, 0), kSoundOk);
    auto out = Render(8);
    const int16_t expect[] = {1, 2, 0, 0, 0, 0, 7, 8};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out[2 * i], expect[i]) << i;
    EXPECT_EQ(b->Lock(16, 2, &p1, &n1, &p2, &n2, 0), kSoundInvalidParam);
    EXPECT_EQ(b->Lock(0, 18, &p1, &n1, &p2, &n2, 0), kSoundInvalidParam);
}

TEST_F(Mixer, NotificationsFireInOrderAsTheCursorPassesThem) {
    SoundBufferDesc desc;
    WaveFormat f = Pcm16(1, 44100);
    desc.flags = kBufferCtrlPositionNotify | kBufferGetCurrentPosition2 | kBufferCtrlVolume;
    desc.format = &f;
    desc.buffer_bytes = 300 * 2;
    SoundBuffer* b = nullptr;
    ASSERT_EQ(system_->CreateSoundBuffer(desc, &b), kSoundOk);
    buffers_.push_back(b);
    Event* ev[3] = {CreateEvent(), CreateEvent(), CreateEvent()};
    NotifyPosition pos[3] = {{0, ev[0]}, {200, ev[1]}, {400, ev[2]}};
    ASSERT_EQ(b->SetNotificationPositions(3, pos), kSoundOk);
    ASSERT_EQ(b->Play(0, 0, kPlayLooping), kSoundOk);
    EXPECT_EQ(b->SetNotificationPositions(3, pos), kSoundInvalidCall);
    EXPECT_EQ(WaitForEvents(ev, 3, 0), kWaitTimeout);
    Render(1);  // offset 0 at the first mix
    EXPECT_EQ(WaitForEvents(ev, 3, 0), 0);
    Render(98);
    EXPECT_EQ(WaitForEvents(ev, 3, 0), kWaitTimeout);
    Render(2);  // frame 100 = byte 200
    EXPECT_EQ(WaitForEvents(ev, 3, 0), 1);
    Render(200);  // passes 400 and wraps past 0 (the lowest index comes first)
    EXPECT_EQ(WaitForEvents(ev, 3, 0), 0);
    EXPECT_EQ(WaitForEvents(ev, 3, 0), 2);
    EXPECT_EQ(WaitForEvents(ev, 3, 0), kWaitTimeout);
    b->Stop();
    for (Event* e : ev) DestroyEvent(e);
}

TEST_F(Mixer, ThreeDGainFallsWithDistanceAndPansFromTheListenerFrame) {
    SoundBufferDesc primary_desc;
    primary_desc.flags = kBufferPrimary | kBufferCtrl3D;
    SoundBuffer* primary = nullptr;
    ASSERT_EQ(system_->CreateSoundBuffer(primary_desc, &primary), kSoundOk);
    SoundListener* listener = nullptr;
    ASSERT_EQ(primary->GetListener(&listener), kSoundOk);
    primary->Release();

    SoundBuffer* b = Make(kBufferCtrl3D | kBufferCtrlVolume, Pcm16(1, 44100), std::vector<int16_t>(64, 8000));
    SoundBuffer3D* b3 = nullptr;
    ASSERT_EQ(b->Get3D(&b3), kSoundOk);
    ASSERT_EQ(b3->SetMinDistance(1.0f, kApplyImmediate), kSoundOk);
    ASSERT_EQ(b3->SetMaxDistance(10.0f, kApplyImmediate), kSoundOk);
    ASSERT_EQ(b3->SetPosition(2, 0, 0, kApplyImmediate), kSoundOk);
    ASSERT_EQ(b->Play(0, 0, kPlayLooping), kSoundOk);
    auto out = Render(4);
    EXPECT_EQ(out[0], 0);     // left
    EXPECT_EQ(out[1], 4000);  // right, half gain at twice the minimum distance
    ASSERT_EQ(b3->SetPosition(0, 0, -40, kApplyImmediate), kSoundOk);
    out = Render(4);  // behind, clamped at the maximum distance: a tenth, centred
    EXPECT_EQ(out[0], 800);
    EXPECT_EQ(out[1], 800);
    // Turn to face +x: the sound at +x is now ahead, one at +z on the left.
    ASSERT_EQ(listener->SetOrientation(1, 0, 0, 0, 1, 0, kApplyImmediate), kSoundOk);
    ASSERT_EQ(b3->SetPosition(2, 0, 0, kApplyImmediate), kSoundOk);
    out = Render(4);
    EXPECT_EQ(out[0], 4000);
    EXPECT_EQ(out[1], 4000);
    ASSERT_EQ(b3->SetPosition(0, 0, 0.5f, kApplyImmediate), kSoundOk);
    out = Render(4);
    EXPECT_EQ(out[0], 8000);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(b3->SetPosition(NAN, 0, 0, kApplyImmediate), kSoundInvalidParam);
    b3->Release();
    listener->Release();
}

TEST_F(Mixer, RefusesWhatTheMixerCannotPlay) {
    SoundBufferDesc desc;
    WaveFormat stereo = Pcm16(2, 44100);
    SoundBuffer* b = nullptr;
    desc.format = &stereo;
    desc.buffer_bytes = 64;
    desc.flags = kBufferCtrl3D;
    EXPECT_EQ(system_->CreateSoundBuffer(desc, &b), kSoundInvalidParam);  // 3-D must be mono
    WaveFormat six = Pcm16(6, 44100);
    desc.format = &six;
    desc.flags = 0;
    EXPECT_EQ(system_->CreateSoundBuffer(desc, &b), kSoundInvalidParam);
    WaveFormat slow = Pcm16(1, 50);
    desc.format = &slow;
    EXPECT_EQ(system_->CreateSoundBuffer(desc, &b), kSoundInvalidParam);
    desc.format = &stereo;
    desc.buffer_bytes = 0;
    EXPECT_EQ(system_->CreateSoundBuffer(desc, &b), kSoundInvalidParam);
    EXPECT_EQ(b, nullptr);
    desc.buffer_bytes = 64;
    ASSERT_EQ(system_->CreateSoundBuffer(desc, &b), kSoundOk);
    buffers_.push_back(b);
    EXPECT_EQ(b->SetVolume(-100), kSoundInvalidCall);  // no volume control
    SoundBuffer3D* b3;
    EXPECT_EQ(b->Get3D(&b3), kSoundInvalidParam);
    EXPECT_EQ(b->SetCurrentPosition(64), kSoundInvalidParam);
    uint32_t speakers = 0;
    EXPECT_EQ(system_->GetSpeakerConfig(&speakers), kSoundOk);
    EXPECT_EQ(speakers, kSpeakerStereo);
}

TEST_F(Mixer, BuffersMayBeWrittenAndReleasedWhileAnotherThreadMixes) {
    std::atomic<bool> done{false};
    std::thread mixer([&] {
        std::vector<int16_t> out(256 * 2);
        while (!done) system_->Render(out.data(), 256);
    });
    WaveFormat f = Pcm16(2, 32000);
    for (int round = 0; round < 200; ++round) {
        SoundBufferDesc desc;
        desc.flags = kBufferCtrlVolume | kBufferCtrlPositionNotify;
        desc.format = &f;
        desc.buffer_bytes = 4096;
        SoundBuffer* b = nullptr;
        ASSERT_EQ(system_->CreateSoundBuffer(desc, &b), kSoundOk);
        b->Play(0, 0, kPlayLooping);
        void *p1, *p2;
        uint32_t n1, n2;
        ASSERT_EQ(b->Lock(1000, 4000, &p1, &n1, &p2, &n2, 0), kSoundOk);
        std::memset(p1, round, n1);
        std::memset(p2, round, n2);
        b->Unlock(p1, n1, p2, n2);
        b->SetVolume(-round);
        b->Release();  // released while playing
    }
    done = true;
    mixer.join();
}

TEST(SoundDevice, AudioDevicePullsTheMix) {
    SoundSystem* system = nullptr;
    ASSERT_EQ(SoundSystem::Create(SoundOutput::kAudioDevice, &system), kSoundOk);
    EXPECT_GT(system->DevicePeriodFrames(), 0u);
    std::atomic<int> loud{0};
    system->SetRenderObserver(
        [](const int16_t* s, uint32_t frames, void* user) {
            for (uint32_t i = 0; i < frames * 2; ++i)
                if (s[i] != 0) {
                    static_cast<std::atomic<int>*>(user)->store(1);
                    break;
                }
        },
        &loud);
    WaveFormat f = Pcm16(1, 44100);
    SoundBufferDesc desc;
    desc.format = &f;
    desc.buffer_bytes = 2000;
    SoundBuffer* b = nullptr;
    ASSERT_EQ(system->CreateSoundBuffer(desc, &b), kSoundOk);
    void* p;
    uint32_t n;
    ASSERT_EQ(b->Lock(0, 0, &p, &n, nullptr, nullptr, kLockEntireBuffer), kSoundOk);
    std::memset(p, 0x11, n);
    b->Unlock(p, n, nullptr, 0);
    b->Play(0, 0, kPlayLooping);
    for (int i = 0; i < 200 && !loud; ++i) SleepMs(10);
    EXPECT_EQ(loud.load(), 1);
    b->Release();
    system->SetRenderObserver(nullptr, nullptr);
    system->Release();
}

// A driver that cannot open leaves the mix running into silence at the real
// rate: a one-shot still ends, so whoever waits on it goes on. The next
// device tries the driver asked for again.
TEST(SoundDevice, WithoutAUsableDriverTheMixPlaysIntoSilence) {
    const char* was = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = was ? was : "";
    setenv("SDL_AUDIODRIVER", "nosuchdriver", 1);
    SoundSystem* system = nullptr;
    const SoundResult created = SoundSystem::Create(SoundOutput::kAudioDevice, &system);
    const char* asked = SDL_GetHint(SDL_HINT_AUDIODRIVER);
    EXPECT_STREQ(asked ? asked : "", "nosuchdriver");  // the fallback did not stick
    if (was)
        setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    else
        unsetenv("SDL_AUDIODRIVER");
    ASSERT_EQ(created, kSoundOk);
    ASSERT_NE(system->SilentReason(), nullptr);
    EXPECT_NE(std::string(system->SilentReason()).find("nosuchdriver"), std::string::npos);
    EXPECT_GT(system->DevicePeriodFrames(), 0u);
    WaveFormat f = Pcm16(1, 44100);
    SoundBufferDesc desc;
    desc.format = &f;
    desc.buffer_bytes = 44100 / 10 * 2;  // 0.1 s
    SoundBuffer* b = nullptr;
    ASSERT_EQ(system->CreateSoundBuffer(desc, &b), kSoundOk);
    ASSERT_EQ(b->Play(0, 0, 0), kSoundOk);
    uint32_t status = kStatusPlaying;
    for (int i = 0; i < 1000 && (status & kStatusPlaying); ++i) {
        SleepMs(10);
        b->GetStatus(&status);
    }
    EXPECT_EQ(status & kStatusPlaying, 0u) << "the one-shot never ended";
    b->Release();
    system->Release();
}

}  // namespace
