#pragma once
// Sound test helpers: a manual-output sound device, Ogg files made on the
// spot, and measures of rendered stereo.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "../../../tools/vorbis_tone.h"
#include "media/sound/sound_device.h"
#include "support/test_support.h"

namespace sound_test {

inline void OpenManualDevice() {
    g_sound_device.SetManualOutput(true);
    ASSERT_EQ(g_sound_device.Create(nullptr, plat::kSoundLevelPriority, 2, 44100, 16), 0);
    ASSERT_EQ(g_sound_device.CreateListener(), 0);
}

inline std::vector<int16_t> Render(uint32_t frames) {
    std::vector<int16_t> out(frames * 2);
    g_sound_device.System()->Render(out.data(), frames);
    return out;
}

// Root mean square of one channel (0 left, 1 right) of interleaved stereo
// (or of as many channels as given).
inline double Rms(const std::vector<int16_t>& s, int channel, size_t first = 0, size_t frames = SIZE_MAX,
                  int channels = 2) {
    size_t end = std::min(s.size() / channels, frames == SIZE_MAX ? SIZE_MAX : first + frames);
    double sum = 0;
    size_t n = 0;
    for (size_t i = first; i < end; ++i, ++n) {
        const double v = s[channels * i + channel];
        sum += v * v;
    }
    return n ? std::sqrt(sum / n) : 0.0;
}

// Sign changes of one channel of interleaved samples in frames
// [first, first + frames).
inline int ZeroCrossings(const std::vector<int16_t>& s, int channels, int channel, size_t first = 0,
                         size_t frames = SIZE_MAX) {
    const size_t end = std::min(s.size() / channels, frames == SIZE_MAX ? SIZE_MAX : first + frames);
    int n = 0;
    for (size_t i = first + 1; i < end; ++i)
        if ((s[(i - 1) * channels + channel] < 0) != (s[i * channels + channel] < 0)) ++n;
    return n;
}

// One file after the other: a chained Ogg file (the links need serial
// numbers of their own).
inline std::vector<uint8_t> Chain(std::vector<uint8_t> first, const std::vector<uint8_t>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// n links of the given seconds of sine each, alternately stereo at
// 44.1 kHz and mono at 22.05 kHz (or all stereo at 44.1 kHz), each of
// another pitch.
inline std::vector<uint8_t> ShortLinks(int n, double seconds, bool mixed = true) {
    std::vector<uint8_t> chain;
    for (int i = 0; i < n; ++i) {
        const bool mono = mixed && i % 2 == 1;
        chain = Chain(std::move(chain),
                      vorbis_tone::Tone(mono ? 1 : 2, mono ? 22050 : 44100, seconds, 300.0 + 20 * i, 0.4f, 100 + i));
    }
    return chain;
}

inline std::string WriteOgg(const quild_test::TempDir& dir, const std::string& name,
                            const std::vector<uint8_t>& ogg) {
    std::string path = dir.file(name);
    quild_test::WriteFile(path, std::string(ogg.begin(), ogg.end()));
    return path;
}

}  // namespace sound_test
