#include "media/sound/resampler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace {

// The kernel in units of the lower rate's frames: zero crossings on each
// side, table steps per unit, the cut-off as a fraction of the lower
// Nyquist frequency, and the Kaiser window's shape (about 75 dB down).
constexpr int kZeroCrossings = 32;
constexpr int kSteps = 256;
constexpr double kCutoff = 0.92;
constexpr double kBeta = 7.5;
constexpr int kTableSize = kZeroCrossings * kSteps + 2;
// The most taps a run works out ahead for all its output frames.
constexpr size_t kMaxPhaseTaps = size_t{1} << 16;

double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50 && term > sum * 1e-12; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// Trivially destructible, so a stream worker may still read it while the
// program's statics go.
const std::array<float, kTableSize>& Kernel() {
    static const std::array<float, kTableSize> table = [] {
        std::array<float, kTableSize> t{};
        const double pi = 3.14159265358979323846;
        for (int i = 0; i < kTableSize; ++i) {
            const double u = static_cast<double>(i) / kSteps;
            if (u >= kZeroCrossings) break;
            const double x = u / kZeroCrossings;
            const double window = BesselI0(kBeta * std::sqrt(1.0 - x * x)) / BesselI0(kBeta);
            const double sinc = u == 0 ? 1.0 : std::sin(pi * kCutoff * u) / (pi * kCutoff * u);
            t[i] = static_cast<float>(kCutoff * sinc * window);
        }
        return t;
    }();
    return table;
}

}  // namespace

uint64_t Resampler::OutputFrames(uint64_t frames, uint32_t in_rate, uint32_t out_rate) {
    if (in_rate == 0) return 0;
    const unsigned __int128 scaled = static_cast<unsigned __int128>(frames) * out_rate + in_rate - 1;
    return static_cast<uint64_t>(scaled / in_rate);
}

uint64_t Resampler::Start(uint32_t in_rate, uint32_t out_rate, uint64_t next_output) {
    in_rate_ = std::max<uint32_t>(in_rate, 1);
    out_rate_ = std::max<uint32_t>(out_rate, 1);
    scale_ = std::min(1.0f, static_cast<float>(out_rate_) / static_cast<float>(in_rate_));
    half_width_ = static_cast<int64_t>(std::ceil(kZeroCrossings / static_cast<double>(scale_)));
    channels_ = 0;
    next_ = next_output;
    held_first_ = FirstInputFor(next_output);
    held_.clear();
    // Output frames stand at out / gcd(in, out) places between input
    // frames; when that table is small enough their taps are worked out
    // here once, else for each frame.
    const size_t taps = static_cast<size_t>(2 * half_width_);
    const uint32_t step = std::gcd(in_rate_, out_rate_);
    const size_t phases = out_rate_ / step;
    phase_step_ = phases * taps <= kMaxPhaseTaps ? step : 0;
    weights_.assign(phase_step_ ? phases * taps : taps, 0.0f);
    for (size_t p = 0; phase_step_ && p < phases; ++p)
        FillWeights(static_cast<uint32_t>(p) * phase_step_, weights_.data() + p * taps);
    return held_first_;
}

void Resampler::FillWeights(uint32_t offset, float* weights) const {
    const auto& kernel = Kernel();
    const float frac = static_cast<float>(offset) / static_cast<float>(out_rate_);
    const float unit = scale_ * kSteps;
    for (int64_t i = 0; i < 2 * half_width_; ++i) {
        const float u = std::fabs(static_cast<float>(i - half_width_ + 1) - frac) * unit;
        const int at = static_cast<int>(u);
        const float w =
            at >= kZeroCrossings * kSteps ? 0.0f : kernel[at] + (u - at) * (kernel[at + 1] - kernel[at]);
        weights[i] = w * scale_;
    }
}

uint64_t Resampler::FirstInputFor(uint64_t output_frame) const {
    const uint64_t centre = output_frame * in_rate_ / out_rate_;
    return centre + 1 > static_cast<uint64_t>(half_width_) ? centre + 1 - half_width_ : 0;
}

void Resampler::Push(const int16_t* in, uint32_t frames, int channels, std::vector<int16_t>& out) {
    if (in_rate_ == 0 || !in || (channels != 1 && channels != 2)) return;
    if (channels_ != channels) {
        if (channels_ != 0) held_first_ += held_.size() / channels_;
        held_.clear();
        channels_ = channels;
    }
    held_.insert(held_.end(), in, in + static_cast<size_t>(frames) * channels);
    Emit(false, out);
}

void Resampler::Finish(std::vector<int16_t>& out) {
    if (in_rate_ != 0 && channels_ != 0) Emit(true, out);
    held_first_ += channels_ ? held_.size() / channels_ : 0;
    held_.clear();
}

void Resampler::Emit(bool finishing, std::vector<int16_t>& out) {
    const int64_t held_frames = static_cast<int64_t>(held_.size() / channels_);
    const int64_t first = static_cast<int64_t>(held_first_);
    const int64_t end = first + held_frames;
    for (;;) {
        // Output frame next_ stands offset / out_rate_ past input frame centre.
        const uint64_t num = next_ * in_rate_;
        const int64_t centre = static_cast<int64_t>(num / out_rate_);
        const uint32_t offset = static_cast<uint32_t>(num % out_rate_);
        if (finishing ? centre >= end : centre + half_width_ >= end) break;
        const int64_t lo = centre - half_width_ + 1;
        const float* weights = weights_.data();
        if (phase_step_)
            weights += offset / phase_step_ * static_cast<size_t>(2 * half_width_);
        else
            FillWeights(offset, weights_.data());
        float acc[2] = {0.0f, 0.0f};
        const int64_t from = std::max(lo, first), to = std::min(lo + 2 * half_width_, end);
        for (int64_t j = from; j < to; ++j) {
            const float w = weights[j - lo];
            const int16_t* s = held_.data() + (j - first) * channels_;
            for (int c = 0; c < channels_; ++c) acc[c] += w * s[c];
        }
        for (int c = 0; c < channels_; ++c)
            out.push_back(static_cast<int16_t>(std::clamp(std::lrint(acc[c]), -32768L, 32767L)));
        ++next_;
    }
    // Keep what the next output frame reads.
    const int64_t keep_from = std::clamp<int64_t>(static_cast<int64_t>(FirstInputFor(next_)), first, end);
    held_.erase(held_.begin(), held_.begin() + (keep_from - first) * channels_);
    held_first_ = static_cast<uint64_t>(keep_from);
}
