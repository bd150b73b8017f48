// The sound mixer: eight streamed Vorbis channels and 32 static 3-D sounds
// mixed on one core with their decoding, against decoding alone (ov_read);
// and the time from Play to the first sound the audio device receives.
#include <benchmark/benchmark.h>
#include <vorbis/vorbisfile.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "timed.h"
#include "../tools/vorbis_tone.h"
#include "media/sound/sound.h"
#include "media/sound/sound_device.h"
#include "media/sound/vorbis_source.h"
#include "platform/system.h"

namespace {

constexpr int kStreams = 8;
constexpr int kStatics = 32;
constexpr uint32_t kBlock = 4410;  // 0.1 s

const std::vector<std::vector<uint8_t>>& StreamFiles() {
    static std::vector<std::vector<uint8_t>> files = [] {
        std::vector<std::vector<uint8_t>> f;
        for (int i = 0; i < kStreams; ++i)
            f.push_back(vorbis_tone::Tone(2, 44100, 4.0, 220.0 + 55 * i, 0.3f));
        return f;
    }();
    return files;
}

struct MemoryFile {
    const std::vector<uint8_t>* bytes;
    size_t pos;
};

size_t BaselineRead(void* p, size_t size, size_t n, void* src) {
    auto* m = static_cast<MemoryFile*>(src);
    size_t items = std::min((m->bytes->size() - m->pos) / size, n);
    std::memcpy(p, m->bytes->data() + m->pos, items * size);
    m->pos += items * size;
    return items;
}

// Plain ov_read of the same files for the same length of sound.
void BM_OvReadBaseline(benchmark::State& state) {
    const auto& files = StreamFiles();
    std::vector<char> pcm(kBlock * 4);
    bench::Timed(state, [&] {
        for (const auto& file : files) {
            MemoryFile m{&file, 0};
            OggVorbis_File vf;
            ov_callbacks cb{BaselineRead, nullptr, nullptr, nullptr};
            if (ov_open_callbacks(&m, &vf, nullptr, 0, cb) != 0) continue;
            int section;
            long left = 44100L * 4 * 4;  // 4 s of stereo 16-bit
            while (left > 0) {
                long got = ov_read(&vf, pcm.data(), static_cast<int>(std::min<long>(left, pcm.size())), 0, 2,
                                   1, &section);
                if (got <= 0) break;
                left -= got;
            }
            ov_clear(&vf);
        }
    });
    state.counters["x_realtime"] = benchmark::Counter(4.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OvReadBaseline)->Unit(benchmark::kMillisecond);

// Four seconds of the full mix: each stream decodes its next block into the
// segment ahead of its cursor (as its worker would), then the mixer renders.
void BM_MixStreamsAndStatics(benchmark::State& state) {
    g_sound_device.SetManualOutput(true);
    g_sound_device.Create(nullptr, plat::kSoundLevelPriority, 2, 44100, 16);
    g_sound_device.CreateListener();
    const auto& files = StreamFiles();
    auto click = vorbis_tone::Click(1, 22050, 0.5);
    std::vector<std::unique_ptr<Sound>> statics;
    for (int i = 0; i < kStatics; ++i) {
        auto s = std::make_unique<Sound>();
        s->LoadFromMemory(click.data(), static_cast<uint32_t>(click.size()), true, "click");
        s->SetPosition(static_cast<float>(i % 7) - 3.0f, 0.0f, static_cast<float>(i % 5));
        s->Play(true, 0);
        statics.push_back(std::move(s));
    }
    plat::Event* events[3] = {plat::CreateEvent(), plat::CreateEvent(), plat::CreateEvent()};
    plat::WaveFormat format{plat::kWaveFormatPcm, 2, 44100, 44100 * 4, 4, 16};
    std::vector<SoundBufferRecord*> rings(kStreams);
    std::vector<VorbisSource> sources(kStreams);
    std::vector<int16_t> scratch(kBlock * 2), out(kBlock * 2);
    for (int i = 0; i < kStreams; ++i) {
        g_sound_device.CreateStreamingBuffer(format, kBlock * 4, 3, events, 8, &rings[i]);
        sources[i].OpenMemory(files[i].data(), static_cast<uint32_t>(files[i].size()), true, "stream");
        rings[i]->Play(0, plat::kPlayLooping);
    }
    bench::Timed(state, [&] {
        for (uint32_t block = 0; block < 40; ++block) {
            for (int i = 0; i < kStreams; ++i) {
                sources[i].Decode(scratch.data(), kBlock, 2);
                rings[i]->Fill(((block + 1) % 3) * kBlock * 4, kBlock * 4, scratch.data());
            }
            g_sound_device.System()->Render(out.data(), kBlock);
        }
        benchmark::DoNotOptimize(out.data());
    });
    state.counters["x_realtime"] = benchmark::Counter(4.0 * state.iterations(), benchmark::Counter::kIsRate);
    for (auto* r : rings) r->Release();
    statics.clear();
    for (auto* e : events) plat::DestroyEvent(e);
    g_sound_device.Release();
}
BENCHMARK(BM_MixStreamsAndStatics)->Unit(benchmark::kMillisecond);

struct LatencyProbe {
    std::atomic<int64_t> first_sound{0};
};

// Play on the SDL audio device (the dummy driver without sound hardware):
// time until the mix it pulls carries the sound, beside one device period.
void BM_PlayToFirstSample(benchmark::State& state) {
    g_sound_device.SetManualOutput(false);
    if (g_sound_device.Create(nullptr, plat::kSoundLevelPriority, 2, 44100, 16) != 0) {
        state.SkipWithError("no audio device");
        return;
    }
    LatencyProbe probe;
    plat::SoundSystem* system = g_sound_device.System();
    system->SetRenderObserver(
        [](const int16_t* s, uint32_t frames, void* user) {
            auto* p = static_cast<LatencyProbe*>(user);
            if (p->first_sound.load()) return;
            for (uint32_t i = 0; i < frames * 2; ++i)
                if (s[i]) {
                    p->first_sound = plat::PerfCounter();
                    return;
                }
        },
        &probe);
    std::vector<int16_t> tone(4410, 8000);
    plat::WaveFormat format{plat::kWaveFormatPcm, 1, 44100, 88200, 2, 16};
    SoundBufferRecord* buffer = nullptr;
    g_sound_device.CreateStaticBuffer(tone.data(), static_cast<uint32_t>(tone.size() * 2), format, 0,
                                      &buffer);
    double worst = 0;
    for (auto _ : state) {
        buffer->Stop();
        buffer->SetPosition(0);
        plat::SleepMs(30);
        probe.first_sound = 0;
        int64_t start = plat::PerfCounter();
        buffer->Play(0, 0);
        while (!probe.first_sound.load()) plat::SleepMs(0);
        double seconds = double(probe.first_sound.load() - start) / plat::PerfFrequency();
        worst = std::max(worst, seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["period_ms"] = 1000.0 * system->DevicePeriodFrames() / 44100.0;
    state.counters["worst_ms"] = worst * 1000.0;
    system->SetRenderObserver(nullptr, nullptr);
    buffer->Release();
    g_sound_device.Release();
}
BENCHMARK(BM_PlayToFirstSample)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
