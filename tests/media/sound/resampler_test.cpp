#include "media/sound/resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct Rates {
    uint32_t in, out;
};

// Up and down, by small and large ratios; the last pair has too many
// places between input frames for a table of taps and works each frame's
// taps out alone.
constexpr Rates kRates[] = {{8000, 44100},  {11025, 44100}, {22050, 44100}, {48000, 44100},
                            {44100, 22050}, {44100, 8000},  {96000, 8000},  {44099, 48000}};

// A sine on the left and a cosine on the right.
std::vector<int16_t> Sines(uint32_t rate, double hz, uint32_t frames) {
    std::vector<int16_t> s(size_t{frames} * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        s[2 * i] = static_cast<int16_t>(std::lrint(16000 * std::sin(2 * M_PI * hz * i / rate)));
        s[2 * i + 1] = static_cast<int16_t>(std::lrint(12000 * std::cos(2 * M_PI * hz * i / rate)));
    }
    return s;
}

// Pushes in pieces of an odd size, then finishes.
std::vector<int16_t> Resample(Resampler& r, const std::vector<int16_t>& in, uint32_t from = 0) {
    std::vector<int16_t> out;
    const uint32_t frames = static_cast<uint32_t>(in.size() / 2);
    for (uint32_t at = from; at < frames; at += 777)
        r.Push(in.data() + size_t{at} * 2, std::min<uint32_t>(777, frames - at), 2, out);
    r.Finish(out);
    return out;
}

TEST(Resampler, EveryOutputFrameIsTheSignalAtItsOwnTime) {
    // Output frame k stands at time k / out: each one, whatever place
    // between input frames it falls on, is the sine there, up to 0.8 of
    // the lower rate's Nyquist frequency. A place given the taps of its
    // neighbour is off by a fraction of an input frame: tens of steps.
    for (const Rates& r : kRates) {
        for (double part : {0.1, 0.4}) {
            const double hz = part * std::min(r.in, r.out);
            SCOPED_TRACE(testing::Message() << r.in << " to " << r.out << " at " << hz << " Hz");
            const uint32_t frames = r.in / 2;
            Resampler resampler;
            EXPECT_EQ(resampler.Start(r.in, r.out), 0u);
            const std::vector<int16_t> out = Resample(resampler, Sines(r.in, hz, frames));
            const uint64_t made = out.size() / 2;
            ASSERT_EQ(made, Resampler::OutputFrames(frames, r.in, r.out));
            // Away from the ends, where the silence around the run is in reach.
            const uint64_t edge = 40 * r.out / std::min(r.in, r.out) + 2;
            double worst = 0;
            uint64_t worst_at = 0;
            for (uint64_t k = edge; k + edge < made; ++k) {
                const double t = static_cast<double>(k) / r.out;
                const double error =
                    std::max(std::fabs(out[2 * k] - 16000 * std::sin(2 * M_PI * hz * t)),
                             std::fabs(out[2 * k + 1] - 12000 * std::cos(2 * M_PI * hz * t)));
                if (error > worst) {
                    worst = error;
                    worst_at = k;
                }
            }
            EXPECT_LT(worst, 4.0) << "at output frame " << worst_at;
        }
    }
}

TEST(Resampler, ARunStartedPartWayGivesWhatTheWholeRunGivesThere) {
    for (const Rates& r : kRates) {
        SCOPED_TRACE(testing::Message() << r.in << " to " << r.out);
        const uint32_t frames = r.in / 4;
        const std::vector<int16_t> in = Sines(r.in, 0.3 * std::min(r.in, r.out), frames);
        Resampler whole;
        whole.Start(r.in, r.out);
        const std::vector<int16_t> all = Resample(whole, in);
        for (uint64_t next : {uint64_t{1}, uint64_t{777}, all.size() / 2 - 100}) {
            Resampler part;
            const uint64_t first = part.Start(r.in, r.out, next);
            ASSERT_LE(first, next * r.in / r.out);
            const std::vector<int16_t> rest = Resample(part, in, static_cast<uint32_t>(first));
            ASSERT_EQ(rest.size(), all.size() - next * 2) << next;
            EXPECT_TRUE(std::equal(rest.begin(), rest.end(), all.begin() + static_cast<ptrdiff_t>(next * 2)))
                << next;
        }
    }
}

}  // namespace
