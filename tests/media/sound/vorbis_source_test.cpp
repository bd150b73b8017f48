#include "media/sound/vorbis_source.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sound_fixture.h"

namespace {

// The offset of the first page after the three header packets.
size_t FirstAudioPage(const std::vector<uint8_t>& ogg) {
    int pages = 0;
    for (size_t i = 0; i + 4 <= ogg.size(); ++i)
        if (std::memcmp(ogg.data() + i, "OggS", 4) == 0 && ++pages == 3) return i;
    return 0;
}

int ZeroCrossings(const std::vector<int16_t>& s, int stride, int channel) {
    int n = 0;
    for (size_t i = stride; i < s.size(); i += stride)
        if ((s[i - stride + channel] < 0) != (s[i + channel] < 0)) ++n;
    return n;
}

TEST(VorbisSource, DecodesATone) {
    auto ogg = vorbis_tone::Tone(1, 44100, 1.0, 440.0);
    VorbisSource src;
    ASSERT_TRUE(src.OpenMemory(ogg.data(), static_cast<uint32_t>(ogg.size()), false, "tone"));
    EXPECT_EQ(src.Channels(), 1);
    EXPECT_EQ(src.Rate(), 44100u);
    EXPECT_EQ(src.TotalFrames(), 44100);
    std::vector<int16_t> pcm(50000 * 2);
    EXPECT_EQ(src.Decode(pcm.data(), 50000, 2), 44100u);  // mono doubled to stereo
    pcm.resize(44100 * 2);
    EXPECT_NEAR(ZeroCrossings(pcm, 2, 0), 880, 10);
    EXPECT_EQ(pcm[2000], pcm[2001]);
    EXPECT_EQ(src.Decode(pcm.data(), 100, 2), 0u);
    // Seeking, then reading on.
    ASSERT_TRUE(src.SeekFrame(44000));
    EXPECT_EQ(src.Decode(pcm.data(), 1000, 1), 100u);
}

TEST(VorbisSource, FoldsManyChannelsDownPerFrame) {
    // Six channels in Vorbis order: front left, centre, front right, rear
    // left, rear right, low frequency. Only front left and centre sound.
    // (32 kHz: the encoder's own 5.1 set-up at 44.1 kHz leaks.)
    auto ogg = vorbis_tone::Encode(6, 32000, 22050, [](long i, int c) {
        float s = 0.3f * std::sin(2.0f * 3.14159265f * 440.0f * i / 32000.0f);
        return c == 0 || c == 1 ? s : 0.0f;
    });
    VorbisSource src;
    ASSERT_TRUE(src.OpenMemory(ogg.data(), static_cast<uint32_t>(ogg.size()), false, "six"));
    EXPECT_EQ(src.Channels(), 6);
    std::vector<int16_t> stereo(22050 * 2);
    ASSERT_EQ(src.Decode(stereo.data(), 22050, 2), 22050u);
    double left = sound_test::Rms(stereo, 0), right = sound_test::Rms(stereo, 1);
    EXPECT_NEAR(right / left, 1.0 / 3.0, 0.05);  // centre at half on both sides, front left in full
    ASSERT_TRUE(src.SeekFrame(0));
    std::vector<int16_t> mono(22050);
    ASSERT_EQ(src.Decode(mono.data(), 22050, 1), 22050u);
    double m = 0;
    for (int16_t v : mono) m += double(v) * v;
    EXPECT_NEAR(std::sqrt(m / mono.size()), left + right, left * 0.05);
}

TEST(VorbisSource, LoopingReadsOnFromTheStart) {
    auto ogg = vorbis_tone::Tone(2, 22050, 0.25, 300.0);
    VorbisSource src;
    ASSERT_TRUE(src.OpenMemory(ogg.data(), static_cast<uint32_t>(ogg.size()), true, "loop"));
    const uint32_t frames = 22050;  // four times the file
    std::vector<int16_t> pcm(frames * 2);
    EXPECT_EQ(src.Decode(pcm.data(), frames, 2), frames);
    // Sound all the way: no stretch of 20 ms without signal (the seam
    // itself is a few milliseconds of the decoder starting over).
    for (uint32_t at = 0; at + 441 < frames; at += 441)
        EXPECT_GT(sound_test::Rms(pcm, 0, at, 441), 3000.0) << at;
}

TEST(VorbisSource, RefusesWhatIsNotVorbis) {
    VorbisSource src;
    std::string junk = "OggS this is not a vorbis stream at all, only text";
    EXPECT_FALSE(src.OpenMemory(reinterpret_cast<const uint8_t*>(junk.data()), junk.size(), false, "junk"));
    EXPECT_FALSE(src.OpenMemory(nullptr, 100, false, "null"));
    EXPECT_FALSE(src.OpenFile("/nonexistent/file.ogg", false));
    int16_t out[4];
    EXPECT_EQ(src.Decode(out, 2, 2), 0u);
    // A truncated file decodes what it has and stops.
    auto ogg = vorbis_tone::Click(1, 22050, 4.0);
    ASSERT_TRUE(src.OpenMemory(ogg.data(), static_cast<uint32_t>(ogg.size() / 2), false, "half"));
    std::vector<int16_t> pcm(88200);
    uint32_t got = src.Decode(pcm.data(), 88200, 1);
    EXPECT_GT(got, 5000u);
    EXPECT_LT(got, 80000u);

    // Setup headers with a codebook that cannot be built (found by the
    // fuzzer): refused at once, never read or sought into.
    for (const char* name : {"bad_book_a.ogg", "bad_book_b.ogg"}) {
        std::string path = std::string(QUILD_SOURCE_DIR) + "/tests/fuzz/corpus/fuzz_ogg_sound/" + name;
        std::string bytes = quild_test::ReadFile(path);
        ASSERT_GT(bytes.size(), 1000u) << path;
        EXPECT_FALSE(src.OpenMemory(reinterpret_cast<const uint8_t*>(bytes.data()),
                                    static_cast<uint32_t>(bytes.size()), false, name));
        EXPECT_FALSE(src.SeekFrame(100));
        EXPECT_EQ(src.Decode(pcm.data(), 4096, 2), 0u);
    }
}

TEST(VorbisSource, EveryWellFormedSeedOpensAndPlaysWithinTheReadBounds) {
    // The fuzz seeds: chained, many-channel and many-page files.
    const std::string dir = std::string(QUILD_SOURCE_DIR) + "/tests/fuzz/corpus/fuzz_ogg_sound/";
    for (const char* name : {"chained.ogg", "click_stereo.ogg", "clicks_pages.ogg", "tone_3ch.ogg",
                             "tone_6ch.ogg", "tone_mono.ogg"}) {
        const std::string bytes = quild_test::ReadFile(dir + name);
        for (bool loop : {false, true}) {
            VorbisSource src;
            ASSERT_TRUE(src.OpenMemory(reinterpret_cast<const uint8_t*>(bytes.data()),
                                       static_cast<uint32_t>(bytes.size()), loop, name))
                << name;
            std::vector<int16_t> pcm(8192 * 2);
            const uint32_t got = src.Decode(pcm.data(), 8192, 2);
            EXPECT_GT(got, 100u) << name;
            if (loop) {
                EXPECT_EQ(got, 8192u) << name;
            }
            EXPECT_TRUE(src.SeekFrame(0)) << name;
        }
    }
}

TEST(VorbisSource, ALoopingFileThatNeverEndsIsReadABoundedAmount) {
    // Found by the fuzzer: pages that send the opening scan round a
    // looping file for ever, its search for a last page back and forth, or
    // a seek's bisection against the end of the file.
    VorbisSource src;
    for (const char* name : {"endless_loop.ogg", "endless_search.ogg", "endless_seek.ogg"}) {
        const std::string bytes =
            quild_test::ReadFile(std::string(QUILD_SOURCE_DIR) + "/tests/fuzz/corpus/fuzz_ogg_sound/" + name);
        ASSERT_GT(bytes.size(), 100u) << name;
        if (src.OpenMemory(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()),
                           true, name)) {
            src.SeekFrame(src.TotalFrames() / 2);
            std::vector<int16_t> pcm(4096 * 2);
            src.Decode(pcm.data(), 4096, 2);
        }
    }
    // A file made only of headers, looping: no frame, and the call ends.
    auto ogg = vorbis_tone::Tone(1, 22050, 0.5, 440.0);
    const size_t audio = FirstAudioPage(ogg);
    ASSERT_GT(audio, 0u);
    ogg.resize(audio);
    if (src.OpenMemory(ogg.data(), static_cast<uint32_t>(ogg.size()), true, "headers")) {
        std::vector<int16_t> pcm(4096);
        EXPECT_EQ(src.Decode(pcm.data(), 4096, 1), 0u);
    }
}

}  // namespace
