#include "media/sound/sound.h"

#include <gtest/gtest.h>

#include <cstring>

#include "../../fuzz/fuzz_support.h"
#include "sound_fixture.h"

namespace {

using sound_test::Render;
using sound_test::Rms;

class StaticSound : public ::testing::Test {
protected:
    void SetUp() override {
        sound_test::OpenManualDevice();
        tone_stereo_ = sound_test::WriteOgg(dir_, "tone2.ogg", vorbis_tone::Tone(2, 44100, 1.0, 440.0));
        tone_mono_ = sound_test::WriteOgg(dir_, "tone1.ogg", vorbis_tone::Tone(1, 44100, 1.0, 440.0));
    }
    void TearDown() override {
        g_sfx_volume = 1.0f;
        g_sound_device.Release();
    }
    quild_test::TempDir dir_;
    std::string tone_stereo_, tone_mono_;
};

TEST_F(StaticSound, LoadsWholeAndMixesDownThreeDSoundsToMono) {
    Sound plain, positioned, mono3d;
    ASSERT_TRUE(plain.Load(tone_stereo_.c_str(), false));
    EXPECT_FALSE(plain.streamed);
    EXPECT_EQ(plain.size, 44100u * 4);
    EXPECT_EQ(plain.buffer3d, nullptr);
    ASSERT_TRUE(positioned.Load(tone_stereo_.c_str(), true));
    EXPECT_EQ(positioned.size, 44100u * 2);
    EXPECT_NE(positioned.buffer3d, nullptr);
    ASSERT_TRUE(mono3d.Load(tone_mono_.c_str(), true));
    EXPECT_EQ(mono3d.size, 44100u * 2);
    // A last page whose granule position announces 2^62 frames is refused.
    auto ogg = vorbis_tone::Tone(2, 44100, 2.0, 440.0);
    size_t last = 0;
    for (size_t i = 0; i + 27 < ogg.size(); ++i)
        if (std::memcmp(&ogg[i], "OggS", 4) == 0) last = i;
    const int64_t granule = int64_t{1} << 62;
    std::memcpy(&ogg[last + 6], &granule, 8);
    ogg = fuzz::WithOggChecksums(ogg.data(), ogg.size());
    Sound endless;
    EXPECT_FALSE(endless.LoadFromMemory(ogg.data(), static_cast<uint32_t>(ogg.size()), false, "endless"));
    Sound missing;
    EXPECT_FALSE(missing.Load(dir_.file("none.ogg").c_str(), false));
    EXPECT_FALSE(missing.Play(false, 0));
    EXPECT_FALSE(missing.IsPlaying());
}

TEST_F(StaticSound, VolumeScalesTheMixedSamples) {
    Sound s;
    ASSERT_TRUE(s.Load(tone_mono_.c_str(), false));
    ASSERT_TRUE(s.Play(true, 0));
    double full = Rms(Render(4410), 0);
    EXPECT_GT(full, 5000);
    s.SetVolume(0.5f);
    int32_t hundredths = 0;
    ASSERT_EQ(s.buffer->buffer->GetVolume(&hundredths), 0);
    EXPECT_EQ(hundredths, -5000);
    double half = Rms(Render(4410), 0);
    EXPECT_NEAR(half / full, std::pow(10.0, -2.5), 0.0005);
    // The master volume multiplies in.
    s.SetVolume(1.0f);
    SetSfxVolume(0.9f);
    ASSERT_EQ(s.buffer->buffer->GetVolume(&hundredths), 0);
    EXPECT_EQ(hundredths, -1000);
    EXPECT_EQ(VolumeToHundredths(NAN), -10000);
    EXPECT_EQ(VolumeToHundredths(3.0f), 0);
}

TEST_F(StaticSound, PositionedSoundIsQuieterFartherAndPannedToItsSide) {
    Sound flat, placed;
    ASSERT_TRUE(flat.Load(tone_mono_.c_str(), false));
    ASSERT_TRUE(flat.Play(true, 0));
    double reference = Rms(Render(4410), 0);
    flat.Stop();
    ASSERT_TRUE(placed.Load(tone_mono_.c_str(), true));
    placed.SetPosition(-2, 0, 0);  // to the left, twice the minimum distance
    ASSERT_TRUE(placed.Play(true, 0));
    auto out = Render(4410);
    EXPECT_NEAR(Rms(out, 0) / reference, 0.5, 0.01);
    EXPECT_LT(Rms(out, 1), reference * 0.01);
    // Turning the listener round puts it on the right.
    ASSERT_EQ(g_sound_device.SetListenerOrientation(0, 0, -1, 0, 1, 0), 0);
    out = Render(4410);
    EXPECT_NEAR(Rms(out, 1) / reference, 0.5, 0.01);
    EXPECT_LT(Rms(out, 0), reference * 0.01);
}

TEST_F(StaticSound, PlayingListHoldsEachSoundOnceAndNeverAFreedOne) {
    auto* a = new Sound;
    Sound b;
    ASSERT_TRUE(a->Load(tone_mono_.c_str(), false));
    ASSERT_TRUE(b.Load(tone_mono_.c_str(), false));
    a->Play(false, 0);
    a->Play(false, -1);  // again: still one entry
    b.Play(true, 0);
    int n = 0;
    for (Sound* s = g_playing_sounds; s; s = s->next_playing) ++n;
    EXPECT_EQ(n, 2);
    EXPECT_TRUE(a->IsPlaying());
    delete a;  // freed while playing: it leaves the list
    EXPECT_EQ(g_playing_sounds, &b);
    EXPECT_EQ(b.next_playing, nullptr);
    b.Stop();
    EXPECT_EQ(g_playing_sounds, nullptr);
    EXPECT_FALSE(b.IsPlaying());
    // A one-shot that has ended is dropped when the master volume changes.
    b.Play(false, 0);
    Render(44100 + 10);
    EXPECT_FALSE(b.IsPlaying());
    SetSfxVolume(0.5f);
    EXPECT_EQ(g_playing_sounds, nullptr);
}

TEST_F(StaticSound, ChainedLinksOfAnotherRatePlayAtTheirOwnPitch) {
    // Two seconds of 440 Hz stereo at 44.1 kHz, then two of mono at 22.05 kHz.
    const auto chain = sound_test::Chain(vorbis_tone::Tone(2, 44100, 2.0, 440.0, 0.4f, 1),
                                         vorbis_tone::Tone(1, 22050, 2.0, 440.0, 0.4f, 2));
    Sound s;
    ASSERT_TRUE(s.Load(sound_test::WriteOgg(dir_, "chain.ogg", chain).c_str(), false));
    EXPECT_EQ(s.size, 4u * 44100 * 4);
    ASSERT_TRUE(s.Play(false, 0));
    const auto out = Render(5 * 44100);
    for (int link : {0, 1})
        EXPECT_NEAR(sound_test::ZeroCrossings(out, 2, 1, link * 88200 + 11025, 66150), 1320, 8) << link;
    EXPECT_GT(Rms(out, 0, 3 * 44100, 44100), 8000);
    EXPECT_LT(Rms(out, 0, 4 * 44100 + 100), 1.0);
    // Chains of many short links, whose opening reads far more than the file.
    Sound links;
    ASSERT_TRUE(links.Load(sound_test::WriteOgg(dir_, "links.ogg", sound_test::ShortLinks(12, 0.5)).c_str(), false));
    EXPECT_EQ(links.size, 12u * 22050 * 4);
}

TEST_F(StaticSound, NoDeviceMeansNoBuffer) {
    g_sound_device.Release();
    Sound s;
    EXPECT_FALSE(s.Load(tone_mono_.c_str(), false));
    EXPECT_EQ(s.buffer, nullptr);
}

}  // namespace
