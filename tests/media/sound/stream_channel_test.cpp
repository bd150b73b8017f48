#include "media/sound/stream_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "base/log.h"
#include "media/resource_manager.h"
#include "media/sound/sound.h"
#include "sound_fixture.h"

namespace {

using sound_test::Rms;

std::atomic<int> g_stream_lines{0};

class StreamChannels : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        quild_test::TempDir* d = new quild_test::TempDir;
        dir_ = d;
        quiet_ = sound_test::WriteOgg(*d, "quiet.ogg", vorbis_tone::Tone(2, 44100, 3.0, 440.0, 0.1f));
        loud_ = sound_test::WriteOgg(*d, "loud.ogg", vorbis_tone::Tone(2, 44100, 3.0, 440.0, 0.8f));
        click_ = sound_test::WriteOgg(*d, "click.ogg", vorbis_tone::Click(2, 44100, 0.2));
        mono_ = sound_test::WriteOgg(*d, "mono.ogg", vorbis_tone::Tone(1, 22050, 1.0, 300.0, 0.5f));
    }
    static void TearDownTestSuite() { delete dir_; }
    void SetUp() override {
        sound_test::OpenManualDevice();
        g_stream_buffer_seconds = 0.1f;
        g_stream_notify_count = 3;
        g_finished_channel_mask = 0;
        g_stream_lines = 0;
        SetLogSink([](const char* line, unsigned) {
            if (std::strstr(line, "[STREAM SOUND]")) ++g_stream_lines;
        });
    }
    void TearDown() override {
        StopAllStreamChannels();
        for (auto& v : g_stream_channel_volumes) v = 1.0f;
        g_stream_buffer_seconds = 1.0f;
        SetLogSink(nullptr);
        g_sound_device.Release();
    }
    // Renders ms of sound in 10 ms steps, a little faster than real time
    // (fades step on the worker's 100 ms wake-ups, in real time).
    std::vector<int16_t> Pump(int ms) {
        std::vector<int16_t> all;
        for (int t = 0; t < ms; t += 10) {
            auto block = sound_test::Render(441);
            all.insert(all.end(), block.begin(), block.end());
            plat::SleepMs(8);
        }
        return all;
    }
    // Pumps until cond() or the time is up; true when cond() held.
    template <typename F>
    bool PumpUntil(F cond, int ms = 5000) {
        for (int t = 0; t < ms; t += 10) {
            if (cond()) return true;
            Pump(10);
        }
        return cond();
    }
    Sound* Streamed(const std::string& path, uint32_t channel) {
        auto* s = new Sound;
        s->BindStream(channel, path.c_str());
        return s;
    }
    static quild_test::TempDir* dir_;
    static std::string quiet_, loud_, click_, mono_;
};

quild_test::TempDir* StreamChannels::dir_;
std::string StreamChannels::quiet_, StreamChannels::loud_, StreamChannels::click_, StreamChannels::mono_;

TEST_F(StreamChannels, RefillsFadesInAndReportsItsEndAfterTheTail) {
    std::unique_ptr<Sound> s(Streamed(loud_, 2));
    EXPECT_FALSE(s->Play(false, 0));  // streamed sounds report false
    EXPECT_TRUE(s->IsPlaying());
    EXPECT_EQ(g_stream_lines, 1);
    ASSERT_TRUE(PumpUntil([] { return StreamChannelIsPlaying(2); }));
    auto out = Pump(2000);
    // Far more than the 0.3 s ring: it was refilled; loud once faded in.
    EXPECT_GT(Rms(out, 0, 44100, 44100), 15000);
    EXPECT_GT(Rms(out, 1, 66150, 22050), 15000);
    ASSERT_TRUE(PumpUntil([] { return (g_finished_channel_mask.load() & 4) != 0; }));
    EXPECT_EQ(TakeFinishedStreamChannels(), 4u);
    EXPECT_EQ(g_finished_channel_mask.load(), 0u);
    EXPECT_FALSE(s->IsPlaying());
    EXPECT_EQ(s->channel.load(), nullptr);  // bound again by the next acquisition
    EXPECT_LT(Rms(Pump(100), 0), 1.0);
}

TEST_F(StreamChannels, ASecondSoundIsQueuedAndTakesOverAfterTheFade) {
    std::unique_ptr<Sound> quiet(Streamed(quiet_, 0)), loud(Streamed(loud_, 0)), third(Streamed(click_, 0));
    quiet->Play(true, 0);
    ASSERT_TRUE(PumpUntil([] { return StreamChannelIsPlaying(0); }));
    Pump(1000);
    EXPECT_NEAR(Rms(Pump(300), 0), 2317, 300);  // amplitude 0.1, faded in
    third->Play(false, 0);
    loud->Play(true, 0);  // replaces the queued one
    EXPECT_TRUE(loud->IsPlaying());
    EXPECT_TRUE(quiet->IsPlaying());
    EXPECT_FALSE(third->IsPlaying());
    ASSERT_TRUE(PumpUntil([&] { return !quiet->IsPlaying(); }));
    Pump(600);
    EXPECT_GT(Rms(Pump(300), 0), 15000);
    EXPECT_EQ(TakeFinishedStreamChannels(), 0u);  // a switch is no end
    // Stopping it with nothing queued fades it out, without a report.
    loud->Stop();
    ASSERT_TRUE(PumpUntil([&] { return !loud->IsPlaying(); }));
    EXPECT_EQ(TakeFinishedStreamChannels(), 0u);
    EXPECT_LT(Rms(Pump(200), 0), 1.0);
}

TEST_F(StreamChannels, WithoutFadingTheSwitchIsImmediateAtFullVolume) {
    g_stream_channels[1].no_fade = true;
    std::unique_ptr<Sound> quiet(Streamed(quiet_, 1)), loud(Streamed(loud_, 1));
    quiet->SetVolume(0.5f);  // copied by the channel
    quiet->Play(true, 0);
    ASSERT_TRUE(PumpUntil([] { return StreamChannelIsPlaying(1); }));
    auto first = Pump(50);
    // Amplitude 0.1 at once, at volume 0.5^0.2 (-1294 hundredths of a decibel).
    EXPECT_NEAR(Rms(first, 0), 2317.0 * std::pow(10.0, -1294 / 2000.0), 60);
    loud->Play(true, 0);
    ASSERT_TRUE(PumpUntil([&] { return !quiet->IsPlaying() && StreamChannelIsPlaying(1); }, 2000));
    Pump(20);
    // The sound that started the channel gives the volume through the
    // switch: eight times the amplitude at the same 0.5.
    const double level = Rms(first, 0);
    EXPECT_NEAR(Rms(Pump(100), 0), 8 * level, 8 * 60);
    // A volume change is applied without the fades' power: the starter's
    // 0.5 is -50 dB (0.1 would be -90 dB), whichever sound asked.
    loud->SetVolume(0.1f);
    Pump(100);
    const double full = 8 * level / std::pow(10.0, -1294 / 2000.0);
    EXPECT_NEAR(Rms(Pump(100), 0), full * std::pow(10.0, -5000 / 2000.0), 10);
    quiet->SetVolume(1.0f);  // the starter: full volume
    Pump(100);
    EXPECT_GT(Rms(Pump(100), 0), 16000);
}

TEST_F(StreamChannels, PlayingTheCurrentSoundAgainDoesNotRestartIt) {
    std::unique_ptr<Sound> s(Streamed(loud_, 3));
    s->Play(true, 0);
    ASSERT_TRUE(PumpUntil([] { return StreamChannelIsPlaying(3); }));
    Pump(1000);
    s->Stop();  // fading out ...
    Pump(150);
    s->Play(true, 0);  // ... and back in
    Pump(1500);
    EXPECT_TRUE(s->IsPlaying());
    EXPECT_GT(Rms(Pump(200), 0), 15000);
    EXPECT_EQ(g_stream_lines, 1);
    // A start position seeks into the file, modulo its length (3 s).
    std::unique_ptr<Sound> other(Streamed(click_, 4));
    other->Play(false, 7000 + 60);
    ASSERT_TRUE(PumpUntil([] { return TakeFinishedStreamChannels() == 16u; }));
}

TEST_F(StreamChannels, ChainedLinksOfAnotherRatePlayAtTheirOwnPitch) {
    // Two seconds of 440 Hz mono at 22.05 kHz, then two of stereo at 44.1 kHz.
    const std::string path =
        sound_test::WriteOgg(*dir_, "chain.ogg",
                             sound_test::Chain(vorbis_tone::Tone(1, 22050, 2.0, 440.0, 0.4f, 1),
                                               vorbis_tone::Tone(2, 44100, 2.0, 440.0, 0.4f, 2)));
    g_stream_channels[6].no_fade = true;
    g_stream_buffer_seconds = 0.5f;  // a second ahead: pitch and length are measured
    std::unique_ptr<Sound> s(Streamed(path, 6));
    s->Play(false, 0);
    std::vector<int16_t> out;
    for (int t = 0; t < 8000 && !(g_finished_channel_mask.load() & 64); t += 10) {
        auto block = Pump(10);
        out.insert(out.end(), block.begin(), block.end());
    }
    size_t first = 0, last = 0;
    for (size_t i = 0; i < out.size() / 2; ++i) {
        if (std::abs(out[2 * i]) > 300) {
            if (!first) first = i;
            last = i;
        }
    }
    EXPECT_NEAR(static_cast<double>(last - first), 4 * 44100, 441);
    for (int link : {0, 1})
        EXPECT_NEAR(sound_test::ZeroCrossings(out, 2, 0, first + link * 88200 + 11025, 66150), 1320, 8) << link;
    // A chain of six short links, whose opening reads far more than the file.
    const std::string links_path = sound_test::WriteOgg(*dir_, "links.ogg", sound_test::ShortLinks(6, 0.5, false));
    std::unique_ptr<Sound> links(Streamed(links_path, 7));
    links->Play(false, 1250);
    ASSERT_TRUE(PumpUntil([] { return StreamChannelIsPlaying(7); }, 2000));
    Pump(900);  // faded in
    EXPECT_GT(Rms(Pump(200), 0), 5000);
}

TEST_F(StreamChannels, MonoStreamsArePositioned) {
    std::unique_ptr<Sound> s(Streamed(mono_, 5));
    s->SetPosition(3, 0, 0);
    s->Play(true, 0);
    ASSERT_TRUE(PumpUntil([] { return StreamChannelIsPlaying(5); }));
    Pump(1200);
    auto out = Pump(200);
    EXPECT_LT(Rms(out, 0), 10);
    EXPECT_GT(Rms(out, 1), 1000);
    s->SetPosition(-3, 0, 0);
    Pump(100);
    out = Pump(200);
    EXPECT_GT(Rms(out, 0), 1000);
    EXPECT_LT(Rms(out, 1), 10);
    SetStreamChannelVolume(5, 0.0f);
    Pump(100);
    EXPECT_LT(Rms(Pump(100), 0), 1.0);
}

TEST_F(StreamChannels, AFreedSoundIsNeverTouchedAndShutDownJoinsEveryWorker) {
    for (int round = 0; round < 3; ++round) {
        Sound* a = Streamed(loud_, 6);
        Sound* b = Streamed(quiet_, 6);
        Sound* c = Streamed(click_, 7);
        a->Play(true, 0);
        c->Play(true, 0);
        Pump(50);
        b->Play(true, 0);
        delete b;  // queued, then freed
        Pump(30);
        delete a;  // current, freed while it fades
        a = Streamed(loud_, 6);
        a->Play(false, -1);
        Pump(30);
        StopAllStreamChannels();
        for (const StreamChannel& ch : g_stream_channels) {
            EXPECT_FALSE(ch.running.load());
            EXPECT_EQ(ch.thread, nullptr);
            EXPECT_EQ(ch.buffer, nullptr);
        }
        delete a;
        delete c;
    }
}

TEST_F(StreamChannels, PlayAndStopRacingTheWorkerNeverLoseTheLastWord) {
    std::atomic<bool> done{false};
    std::thread mixer([&] {
        std::vector<int16_t> out(441 * 2);
        while (!done) {
            g_sound_device.System()->Render(out.data(), 441);
            plat::SleepMs(1);
        }
    });
    g_stream_channels[0].no_fade = true;
    std::unique_ptr<Sound> a(Streamed(click_, 0)), b(Streamed(click_, 0));
    for (int i = 0; i < 40; ++i) {
        (i % 2 ? a : b)->Play(i % 3 == 0, 0);
        if (i % 5 == 0) plat::SleepMs(i % 7);
        if (i % 4 == 0) (i % 2 ? a : b)->Stop();
    }
    // The last word: b stopped, a played; a must end up playing. (Playing
    // the current sound again fades it back in but leaves a queued one
    // queued: without the stop, b could still take over.)
    b->Stop();
    a->Play(true, 0);
    bool playing = false;
    for (int t = 0; t < 300 && !playing; ++t) {
        playing = StreamChannelIsPlaying(0) && a->IsPlaying();
        plat::SleepMs(10);
    }
    EXPECT_TRUE(playing);
    a->Stop();
    for (int t = 0; t < 300 && a->IsPlaying(); ++t) plat::SleepMs(10);
    EXPECT_FALSE(a->IsPlaying());
    done = true;
    mixer.join();
}

TEST_F(StreamChannels, ExitWithoutShutDownWhileStreamsPlayEndsCleanly) {
    // A game that ends by exit() (a script panic) with streams playing: the
    // resource manager's static releases its sounds whenever exit() gets
    // to it, and a static built before the first stream finds every
    // worker ended by then.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static Sound* held = Streamed(quiet_, 1);
            std::atexit([] {
                for (const StreamChannel& ch : g_stream_channels) {
                    if (ch.running.load() || ch.thread) {
                        std::fputs("a stream worker still runs at exit\n", stderr);
                        std::_Exit(3);
                    }
                }
                delete held;
                delete dir_;
            });
            const std::string name = loud_.substr(0, loud_.size() - 4);  // without ".ogg"
            Sound* managed = Resources().GetSound(Resources().DeclareSound(name.c_str(), kSoundStreamed));
            if (!managed) std::_Exit(4);
            managed->Play(true, 0);
            held->Play(true, 0);
            if (!PumpUntil([] { return StreamChannelIsPlaying(0) && StreamChannelIsPlaying(1); })) std::_Exit(5);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
