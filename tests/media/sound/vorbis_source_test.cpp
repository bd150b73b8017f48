#include "media/sound/vorbis_source.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define QUILD_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILD_TEST_ASAN 1
#endif
#endif
#ifdef QUILD_TEST_ASAN
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "../../fuzz/fuzz_support.h"
#include "sound_fixture.h"

namespace {

// The offset of the first page after the three header packets.
size_t FirstAudioPage(const std::vector<uint8_t>& ogg) {
    int pages = 0;
    for (size_t i = 0; i + 4 <= ogg.size(); ++i)
        if (std::memcmp(ogg.data() + i, "OggS", 4) == 0 && ++pages == 3) return i;
    return 0;
}

using sound_test::ZeroCrossings;

// Bytes allocated on the heap now.
size_t HeapInUse() {
#ifdef QUILD_TEST_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
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

// Amplitude of the sine of frequency hz in one channel of interleaved
// samples (a whole number of its periods long).
double Amplitude(const std::vector<int16_t>& s, int channels, int channel, double hz, double rate) {
    double a = 0, b = 0;
    const size_t n = s.size() / channels;
    for (size_t i = 0; i < n; ++i) {
        a += s[i * channels + channel] * std::sin(2 * M_PI * hz * i / rate);
        b += s[i * channels + channel] * std::cos(2 * M_PI * hz * i / rate);
    }
    return 2 * std::hypot(a, b) / n;
}

TEST(VorbisSource, FoldsEveryLayoutToStereoWithinFullScale) {
    // Where each channel goes, in Vorbis order: L or R one side only, C both
    // alike, N (low frequency) nowhere.
    const char* sides[] = {"LCR", "LRLR", "LCRLR", "LCRLRN", "LCRLRCN", "LCRLRLRN"};
    const double full = 32767;
    for (int channels = 3; channels <= 8; ++channels) {
        SCOPED_TRACE(channels);
        // Loud: one sine at -4.4 dBFS on every channel keeps its level on
        // both sides, and no sample reaches full scale.
        auto ogg = vorbis_tone::Encode(
            channels, 32000, 16000,
            [](long i, int) { return 0.6f * static_cast<float>(std::sin(2 * M_PI * 500 * i / 32000.0)); }, 0.6f);
        VorbisSource src;
        ASSERT_TRUE(src.OpenMemory(ogg.data(), static_cast<uint32_t>(ogg.size()), false, "loud"));
        std::vector<int16_t> stereo(16000 * 2);
        ASSERT_EQ(src.Decode(stereo.data(), 16000, 2), 16000u);
        EXPECT_LT(*std::max_element(stereo.begin(), stereo.end()), 0.65 * full);
        EXPECT_GT(*std::min_element(stereo.begin(), stereo.end()), -0.65 * full);
        for (int side : {0, 1}) EXPECT_NEAR(Amplitude(stereo, 2, side, 500, 32000), 0.6 * full, 0.03 * full);
        std::vector<int16_t> mono(16000);
        ASSERT_TRUE(src.SeekFrame(0));
        ASSERT_EQ(src.Decode(mono.data(), 16000, 1), 16000u);
        EXPECT_NEAR(Amplitude(mono, 1, 0, 500, 32000), 0.6 * full, 0.03 * full);
        // Each channel on its own frequency.
        ogg = vorbis_tone::Encode(
            channels, 32000, 16000,
            [](long i, int c) { return 0.3f * static_cast<float>(std::sin(2 * M_PI * (400 + 300 * c) * i / 32000.0)); },
            0.6f);
        ASSERT_TRUE(src.OpenMemory(ogg.data(), static_cast<uint32_t>(ogg.size()), false, "each"));
        ASSERT_EQ(src.Decode(stereo.data(), 16000, 2), 16000u);
        for (int c = 0; c < channels; ++c) {
            const double left = Amplitude(stereo, 2, 0, 400 + 300 * c, 32000) / (0.3 * full);
            const double right = Amplitude(stereo, 2, 1, 400 + 300 * c, 32000) / (0.3 * full);
            switch (sides[channels - 3][c]) {
                case 'L':
                    EXPECT_GT(left, 0.1) << c;
                    EXPECT_LT(right, 0.01) << c;
                    break;
                case 'R':
                    EXPECT_GT(right, 0.1) << c;
                    EXPECT_LT(left, 0.01) << c;
                    break;
                case 'C':
                    EXPECT_GT(left, 0.1) << c;
                    EXPECT_NEAR(left, right, 0.01) << c;
                    break;
                default:
                    EXPECT_LT(left + right, 0.01) << c;
            }
        }
        // Mono is the mean of the two sides.
        ASSERT_TRUE(src.SeekFrame(0));
        ASSERT_EQ(src.Decode(mono.data(), 16000, 1), 16000u);
        for (size_t i = 0; i < mono.size(); i += 97) EXPECT_NEAR(mono[i], (stereo[2 * i] + stereo[2 * i + 1]) / 2, 1);
    }
}

TEST(VorbisSource, ChainedLinksOfOtherFormatsKeepTheirLengthAndPitch) {
    // Two seconds of 440 Hz in each link; the second in another rate and
    // layout, brought to the first one's.
    struct Format {
        int channels;
        long rate;
    };
    const Format cases[][2] = {{{2, 44100}, {1, 22050}}, {{1, 22050}, {2, 44100}}, {{2, 44100}, {8, 48000}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[1].rate);
        const auto first = vorbis_tone::Tone(c[0].channels, c[0].rate, 2.0, 440.0, 0.4f, 1);
        const auto chain =
            sound_test::Chain(first, vorbis_tone::Tone(c[1].channels, c[1].rate, 2.0, 440.0, 0.4f, 2));
        const long rate = c[0].rate;
        const int out = c[0].channels == 1 ? 1 : 2;
        VorbisSource src;
        ASSERT_TRUE(src.OpenMemory(chain.data(), static_cast<uint32_t>(chain.size()), false, "chain"));
        EXPECT_EQ(src.Rate(), static_cast<uint32_t>(rate));
        EXPECT_EQ(src.TotalFrames(), 4 * rate);
        std::vector<int16_t> pcm(5 * rate * out);
        ASSERT_EQ(src.Decode(pcm.data(), 5 * rate, out), static_cast<uint32_t>(4 * rate));
        // 440 Hz and the same level in both links, away from the seam.
        for (int link : {0, 1}) {
            const size_t from = link * 2 * rate + rate / 4;
            EXPECT_NEAR(ZeroCrossings(pcm, out, 0, from, 3 * rate / 2), 1320, 8) << link;
            EXPECT_NEAR(sound_test::Rms(pcm, 0, from, rate, out), 0.4 * 32767 / std::sqrt(2.0), 400) << link;
        }
        // The first link is exactly what it is alone.
        VorbisSource alone;
        ASSERT_TRUE(alone.OpenMemory(first.data(), static_cast<uint32_t>(first.size()), false, "first"));
        std::vector<int16_t> own(2 * rate * out);
        ASSERT_EQ(alone.Decode(own.data(), 2 * rate, out), static_cast<uint32_t>(2 * rate));
        EXPECT_TRUE(std::equal(own.begin(), own.end(), pcm.begin()));
        // A seek into the second link lands on its time and reads to its end.
        std::vector<int16_t> again(rate * out);
        ASSERT_TRUE(src.SeekFrame(3 * rate));
        EXPECT_EQ(src.Decode(again.data(), rate, out), static_cast<uint32_t>(rate));
        EXPECT_NEAR(ZeroCrossings(again, out, 0), 880, 8);
        EXPECT_LT(std::abs(again[rate / 2 * out] - pcm[(3 * rate + rate / 2) * out]), 200);
    }
    // Links of one format are played as they come, one after the other.
    const auto a = vorbis_tone::Tone(2, 44100, 1.0, 440.0, 0.4f, 1);
    const auto b = vorbis_tone::Tone(2, 44100, 1.0, 660.0, 0.4f, 2);
    std::vector<int16_t> expected(88200 * 2), got(88200 * 2);
    for (const auto* link : {&a, &b}) {
        VorbisSource src;
        ASSERT_TRUE(src.OpenMemory(link->data(), static_cast<uint32_t>(link->size()), false, "link"));
        ASSERT_EQ(src.Decode(expected.data() + (link == &b ? 88200 : 0), 44100, 2), 44100u);
    }
    const auto same = sound_test::Chain(a, b);
    VorbisSource src;
    ASSERT_TRUE(src.OpenMemory(same.data(), static_cast<uint32_t>(same.size()), false, "same"));
    ASSERT_EQ(src.Decode(got.data(), 88200, 2), 88200u);
    EXPECT_EQ(got, expected);
}

TEST(VorbisSource, ChainsOfManyShortLinksOpenAndPlayWhole) {
    // Opening costs the decoder far more reading than the file's size for
    // each link.
    for (int links : {6, 12, 30}) {
        SCOPED_TRACE(links);
        for (bool mixed : {false, true}) {
            const auto chain = sound_test::ShortLinks(links, 0.5, mixed);
            VorbisSource src;
            ASSERT_TRUE(src.OpenMemory(chain.data(), static_cast<uint32_t>(chain.size()), false, "links"));
            const int64_t total = int64_t{22050} * links;
            EXPECT_EQ(src.TotalFrames(), total);
            std::vector<int16_t> pcm(static_cast<size_t>(total + 1000) * 2);
            ASSERT_EQ(src.Decode(pcm.data(), static_cast<uint32_t>(total + 1000), 2), static_cast<uint32_t>(total));
            // Every link sounds at its own pitch.
            for (int link = 0; link < links; ++link)
                EXPECT_NEAR(ZeroCrossings(pcm, 2, 0, link * 22050 + 2205, 17640), 2 * 0.4 * (300 + 20 * link), 4)
                    << link;
            ASSERT_TRUE(src.SeekFrame(total - 1000));
            EXPECT_EQ(src.Decode(pcm.data(), 2000, 2), 1000u);
        }
    }
    // Links of 10 ms, then ten seconds of noise in pages of 64 KiB:
    // vorbisfile's walk of the chain would read for each short link from
    // the rest of the file, far more than the file a link.
    const auto noise = vorbis_tone::Noise(2, 44100, 10.0, 0.6f, 7, 65535);
    for (int links : {30, 100}) {
        SCOPED_TRACE(links);
        std::vector<uint8_t> chain;
        for (int i = 0; i < links; ++i)
            chain =
                sound_test::Chain(std::move(chain), vorbis_tone::Tone(1, 8000, 0.01, 300.0 + 10 * i, 0.4f, 100 + i));
        chain = sound_test::Chain(std::move(chain), noise);
        VorbisSource src;
        ASSERT_TRUE(src.OpenMemory(chain.data(), static_cast<uint32_t>(chain.size()), false, "short then long"));
        const int64_t total = int64_t{80} * links + 80000;
        ASSERT_EQ(src.TotalFrames(), total);
        std::vector<int16_t> whole(static_cast<size_t>(total));
        ASSERT_EQ(src.Decode(whole.data(), static_cast<uint32_t>(total), 1), static_cast<uint32_t>(total));
        EXPECT_GT(sound_test::Rms(whole, 0, static_cast<size_t>(total - 40000), 40000, 1), 800);
        // Seeks back into the short links and into the long one.
        for (int64_t at : {int64_t{85}, int64_t{80} * links - 100, total / 2, total - 300}) {
            std::vector<int16_t> pcm(256);
            ASSERT_TRUE(src.SeekFrame(at)) << at;
            ASSERT_EQ(src.Decode(pcm.data(), 256, 1), 256u) << at;
            EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), whole.begin() + at)) << at;
        }
    }
}

// Seconds of 0.4 full scale sweeping up from 200 Hz by 600 Hz a second.
std::vector<uint8_t> Chirp(long rate, double seconds, float quality, int serial) {
    return vorbis_tone::Encode(
        1, rate, static_cast<long>(rate * seconds),
        [rate](long i, int) {
            const double t = static_cast<double>(i) / rate;
            return 0.4f * static_cast<float>(std::sin(2 * M_PI * (200 * t + 300 * t * t)));
        },
        quality, serial);
}

TEST(VorbisSource, ASeekLandsOnItsFrameInLinksOfLongerBlocks) {
    // vorbisfile lands a seek into a link whose blocks are longer than the
    // first link's some frames past its target: from wherever a sound
    // starts, it plays what it holds there, and to its end. A link at
    // eight kHz, then a faster one read through the resampler; and two
    // links at one rate whose second one has the longer blocks.
    const auto resampled =
        sound_test::Chain(vorbis_tone::Tone(1, 8000, 1.0, 440.0, 0.4f, 1), Chirp(96000, 1.0, 0.2f, 2));
    const auto direct = sound_test::Chain(Chirp(44100, 0.5, 0.2f, 1), Chirp(44100, 1.0, -0.1f, 2));
    for (const auto* file : {&resampled, &direct}) {
        VorbisSource src;
        ASSERT_TRUE(src.OpenMemory(file->data(), static_cast<uint32_t>(file->size()), false, "chirp"));
        const int64_t total = src.TotalFrames();
        const int64_t second = file == &resampled ? 8000 : 22050;
        ASSERT_EQ(total, file == &resampled ? 16000 : 66150);
        std::vector<int16_t> whole(static_cast<size_t>(total));
        ASSERT_EQ(src.Decode(whole.data(), static_cast<uint32_t>(total), 1), static_cast<uint32_t>(total));
        int off = 0, probes = 0;
        int64_t first_off = -1;
        std::vector<int16_t> pcm(static_cast<size_t>(total));
        for (int64_t at = second - 150; at < total - 256; at += (total - second) / 97 + 1, ++probes) {
            ASSERT_TRUE(src.SeekFrame(at));
            const uint32_t got = src.Decode(pcm.data(), 256, 1);
            EXPECT_EQ(got, 256u) << at;
            int worst = 0;
            for (uint32_t i = 0; i < got; ++i) worst = std::max(worst, std::abs(pcm[i] - whole[at + i]));
            if (worst > 2 && off++ == 0) first_off = at;
            if (probes % 8 == 0) {
                const uint32_t rest = static_cast<uint32_t>(total - at - 256);
                EXPECT_EQ(src.Decode(pcm.data(), rest + 100, 1), rest) << at;
            }
        }
        EXPECT_EQ(off, 0) << "of " << probes << " seeks, the first to " << first_off;
    }
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
    // So it does after a seek (a stream started part-way), round the end
    // of a chain too.
    auto chain = sound_test::Chain(vorbis_tone::Tone(2, 44100, 2.0, 440.0, 0.4f, 1),
                                   vorbis_tone::Tone(1, 22050, 1.0, 440.0, 0.4f, 2));
    for (const std::vector<uint8_t>* file : {&ogg, &chain}) {
        ASSERT_TRUE(src.OpenMemory(file->data(), static_cast<uint32_t>(file->size()), true, "loop"));
        ASSERT_TRUE(src.SeekFrame(src.TotalFrames() - 2000));
        EXPECT_EQ(src.Decode(pcm.data(), frames, 2), frames);
        for (uint32_t at = 2205; at + 441 < frames; at += 441)
            EXPECT_GT(sound_test::Rms(pcm, 0, at, 441), 3000.0) << at;
    }
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

    // A chain whose first or last link has a damaged setup header:
    // refused, and each refusal keeps nothing (vorbisfile's failed open
    // of a chain keeps the links it had read). The log holds some of its
    // lines.
    for (int damaged : {0, 8}) {
        std::vector<uint8_t> chain;
        size_t from = 0;
        for (int i = 0; i < 9; ++i) {
            if (i == damaged) from = chain.size();
            chain =
                sound_test::Chain(std::move(chain), vorbis_tone::Tone(2, 44100, 0.05, 300.0 + 40 * i, 0.4f, 10 + i));
        }
        const auto book = std::search(chain.begin() + static_cast<long>(from), chain.end(), "BCV", "BCV" + 3);
        ASSERT_NE(book, chain.end());
        *book = 'X';
        chain = fuzz::WithOggChecksums(chain.data(), chain.size());
        EXPECT_FALSE(src.OpenMemory(chain.data(), static_cast<uint32_t>(chain.size()), false, "damaged"));
        const size_t before = HeapInUse();
        for (int i = 0; i < 40; ++i)
            EXPECT_FALSE(src.OpenMemory(chain.data(), static_cast<uint32_t>(chain.size()), false, "damaged"));
        // A kept link's setup is some 250 KiB an open; the log's own
        // buffers may grow meanwhile by a few tens of KiB.
        EXPECT_LT(HeapInUse(), before + (512 << 10)) << damaged;
    }
}

TEST(VorbisSource, ALinkThatAnnouncesEndlessFramesIsCutShort) {
    // Three seconds of noise (many pages) whose last page claims nearly
    // 2^63 frames, then a link of another rate: the chain's length stays a
    // length, and the first link plays what it holds.
    auto noise = vorbis_tone::Encode(
        2, 44100, 3 * 44100,
        [](long i, int c) { return static_cast<float>((i * 2654435761u + c) >> 20 & 1023) / 2048.0f - 0.25f; },
        0.5f, 1);
    size_t last = 0;
    for (size_t i = 0; i + 27 < noise.size(); ++i)
        if (std::memcmp(&noise[i], "OggS", 4) == 0) last = i;
    const int64_t granule = INT64_MAX - 5;
    std::memcpy(&noise[last + 6], &granule, 8);
    noise = fuzz::WithOggChecksums(noise.data(), noise.size());
    const auto chain = sound_test::Chain(noise, vorbis_tone::Tone(1, 22050, 1.0, 440.0, 0.4f, 2));
    VorbisSource src;
    ASSERT_TRUE(src.OpenMemory(chain.data(), static_cast<uint32_t>(chain.size()), false, "endless"));
    EXPECT_GT(src.TotalFrames(), 3 * 44100);
    EXPECT_LT(src.TotalFrames(), int64_t{1} << 50);
    std::vector<int16_t> pcm(44100 * 2);
    EXPECT_EQ(src.Decode(pcm.data(), 44100, 2), 44100u);
    EXPECT_GT(sound_test::Rms(pcm, 0), 2000);
}

TEST(VorbisSource, EveryWellFormedSeedOpensAndPlaysWithinTheReadBounds) {
    // The fuzz seeds: chained, many-channel and many-page files.
    const std::string dir = std::string(QUILD_SOURCE_DIR) + "/tests/fuzz/corpus/fuzz_ogg_sound/";
    for (const char* name : {"chained.ogg", "chained_many.ogg", "chained_rates.ogg", "click_stereo.ogg",
                             "clicks_pages.ogg", "tone_3ch.ogg", "tone_6ch.ogg", "tone_mono.ogg"}) {
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
