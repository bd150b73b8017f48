// The sound mixer: eight streamed Vorbis channels and 32 static 3-D sounds
// mixed on one core with their decoding, against decoding alone (ov_read);
// opening a chain of short links (and of short links before a long one)
// and starting inside a link of longer blocks than the first, against
// vorbisfile alone; and the time from Play to the first sound the audio
// device receives.
#include <benchmark/benchmark.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
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

int BaselineSeek(void* src, ogg_int64_t offset, int whence) {
    auto* m = static_cast<MemoryFile*>(src);
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<int64_t>(m->pos)
                                                                     : static_cast<int64_t>(m->bytes->size());
    m->pos = static_cast<size_t>(std::clamp<int64_t>(base + offset, 0, static_cast<int64_t>(m->bytes->size())));
    return 0;
}

long BaselineTell(void* src) {
    return static_cast<long>(static_cast<MemoryFile*>(src)->pos);
}

// Twelve links of half a second, alternately 44.1 kHz stereo and
// 22.05 kHz mono.
const std::vector<uint8_t>& ShortLinks() {
    static const std::vector<uint8_t> chain = [] {
        std::vector<uint8_t> c;
        for (int i = 0; i < 12; ++i) {
            const auto link = vorbis_tone::Tone(i % 2 ? 1 : 2, i % 2 ? 22050 : 44100, 0.5, 300.0 + 20 * i, 0.4f,
                                                100 + i);
            c.insert(c.end(), link.begin(), link.end());
        }
        return c;
    }();
    return chain;
}

// 100 links of 10 ms at 8 kHz, then ten seconds of noise at 44.1 kHz in
// pages of 64 KiB, as muxers that write a page a second make them.
const std::vector<uint8_t>& ShortThenLong() {
    static const std::vector<uint8_t> chain = [] {
        std::vector<uint8_t> c;
        for (int i = 0; i < 100; ++i) {
            const auto link = vorbis_tone::Tone(1, 8000, 0.01, 300.0 + 10 * i, 0.4f, 100 + i);
            c.insert(c.end(), link.begin(), link.end());
        }
        const auto noise = vorbis_tone::Noise(2, 44100, 10.0, 0.6f, 7, 65535);
        c.insert(c.end(), noise.begin(), noise.end());
        return c;
    }();
    return chain;
}

// Opening a chain: the engine's open (the links found by one pass over the
// pages, each link opened, measured and its decoder built once) beside
// vorbisfile's own.
void OpenChain(benchmark::State& state, const std::vector<uint8_t>& chain) {
    bench::Timed(state, [&] {
        VorbisSource src;
        benchmark::DoNotOptimize(src.OpenMemory(chain.data(), static_cast<uint32_t>(chain.size()), false, "links"));
    });
}

void OpenChainOv(benchmark::State& state, const std::vector<uint8_t>& chain) {
    bench::Timed(state, [&] {
        MemoryFile m{&chain, 0};
        OggVorbis_File vf;
        ov_callbacks cb{BaselineRead, BaselineSeek, nullptr, BaselineTell};
        if (ov_open_callbacks(&m, &vf, nullptr, 0, cb) == 0) ov_clear(&vf);
    });
}

void BM_OpenShortLinks(benchmark::State& state) {
    OpenChain(state, ShortLinks());
}
BENCHMARK(BM_OpenShortLinks)->Unit(benchmark::kMicrosecond);

void BM_OpenShortLinksOvBaseline(benchmark::State& state) {
    OpenChainOv(state, ShortLinks());
}
BENCHMARK(BM_OpenShortLinksOvBaseline)->Unit(benchmark::kMicrosecond);

void BM_OpenShortLinksThenLong(benchmark::State& state) {
    OpenChain(state, ShortThenLong());
}
BENCHMARK(BM_OpenShortLinksThenLong)->Unit(benchmark::kMicrosecond);

void BM_OpenShortLinksThenLongOvBaseline(benchmark::State& state) {
    OpenChainOv(state, ShortThenLong());
}
BENCHMARK(BM_OpenShortLinksThenLongOvBaseline)->Unit(benchmark::kMicrosecond);

// Half a second at 44.1 kHz, then a second at the same rate in longer
// blocks: 40 starts inside the second link and their first 256 frames. The
// engine lands on each frame exactly (vorbisfile's seek lands up to half a
// block past it there, and the engine seeks again from further back and
// drops the frames before it); the baseline takes where vorbisfile lands.
const std::vector<uint8_t>& LongerBlocksSecond() {
    static const std::vector<uint8_t> chain = [] {
        const auto sine = [](long i, int) { return 0.4f * static_cast<float>(std::sin(i * 0.0627)); };
        auto c = vorbis_tone::Encode(1, 44100, 22050, sine, 0.2f, 1);
        const auto longer = vorbis_tone::Encode(1, 44100, 44100, sine, -0.1f, 2);
        c.insert(c.end(), longer.begin(), longer.end());
        return c;
    }();
    return chain;
}

int64_t StartFrame(int i) {
    return 22050 + 1000 * i + 7;
}

void BM_StartInsideALinkOfLongerBlocks(benchmark::State& state) {
    const auto& chain = LongerBlocksSecond();
    VorbisSource src;
    src.OpenMemory(chain.data(), static_cast<uint32_t>(chain.size()), false, "chain");
    std::vector<int16_t> pcm(256);
    bench::Timed(state, [&] {
        for (int i = 0; i < 40; ++i) {
            src.SeekFrame(StartFrame(i));
            benchmark::DoNotOptimize(src.Decode(pcm.data(), 256, 1));
        }
    });
}
BENCHMARK(BM_StartInsideALinkOfLongerBlocks)->Unit(benchmark::kMicrosecond);

void BM_StartInsideALinkOfLongerBlocksOvBaseline(benchmark::State& state) {
    const auto& chain = LongerBlocksSecond();
    MemoryFile m{&chain, 0};
    OggVorbis_File vf;
    ov_callbacks cb{BaselineRead, BaselineSeek, nullptr, BaselineTell};
    if (ov_open_callbacks(&m, &vf, nullptr, 0, cb) != 0) {
        state.SkipWithError("not opened");
        return;
    }
    std::vector<char> pcm(256 * 2);
    bench::Timed(state, [&] {
        for (int i = 0; i < 40; ++i) {
            ov_pcm_seek(&vf, StartFrame(i));
            int section;
            for (long left = static_cast<long>(pcm.size()); left > 0;) {
                const long got = ov_read(&vf, pcm.data(), static_cast<int>(left), 0, 2, 1, &section);
                if (got <= 0) break;
                left -= got;
            }
            benchmark::DoNotOptimize(pcm.data());
        }
    });
    ov_clear(&vf);
}
BENCHMARK(BM_StartInsideALinkOfLongerBlocksOvBaseline)->Unit(benchmark::kMicrosecond);

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
