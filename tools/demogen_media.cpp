// The game's sounds, music and movie, encoded by our own Ogg Vorbis and
// Theora writers from sample functions.
#include <cmath>

#include "demogen.h"
#include "theora_frames.h"
#include "vorbis_tone.h"

namespace demogen {
namespace {

constexpr long kRate = 44100;
constexpr double kTau = 6.283185307179586;

double NoteHz(int semitones_from_a4) { return 440.0 * std::pow(2.0, semitones_from_a4 / 12.0); }

// Deterministic white noise in -1..1.
float White(long i, int channel) { return Hash(int(i), channel, 99) * 2 - 1; }

// A soft synth voice: a sine with a little octave, struck and decaying.
float Pluck(double t, double hz, double decay) {
    if (t < 0) return 0;
    const double env = std::min(1.0, t * 200) * std::exp(-t * decay);
    return float(env * (std::sin(kTau * hz * t) + 0.3 * std::sin(kTau * 2 * hz * t)));
}

// Sixteen bars of arpeggios over a slow pad, stereo, looping cleanly.
std::vector<uint8_t> Theme() {
    const int chords[4][3] = {{-9, -5, -2}, {-14, -10, -7}, {-11, -7, -4}, {-16, -12, -9}};  // Am F C G
    const double beat = 0.25, seconds = 16 * 8 * beat / 2;
    return vorbis_tone::Encode(2, kRate, long(seconds * kRate), [=](long i, int ch) {
        const double t = double(i) / kRate;
        const int step = int(t / beat);
        const int* chord = chords[(step / 8) % 4];
        const int note = chord[step % 3] + 12 * ((step % 8) / 3 == 1 ? 1 : 0);
        float v = 0.22f * Pluck(t - step * beat, NoteHz(note), 5.0);
        for (int k = 0; k < 3; ++k) v += 0.06f * float(std::sin(kTau * NoteHz(chord[k] - 12) * t + ch * 0.7 * k));
        const double edge = std::min(t, seconds - t);  // no click where it loops
        return float(v * std::min(1.0, edge * 20));
    }, 0.3f);
}

std::vector<uint8_t> Click() {
    return vorbis_tone::Encode(1, kRate, kRate / 10, [](long i, int) {
        const double t = double(i) / kRate;
        return float(0.5 * std::exp(-t * 60) * std::sin(kTau * 1800 * t));
    });
}

// Two footfalls of filtered noise.
std::vector<uint8_t> Steps() {
    float low = 0;
    return vorbis_tone::Encode(1, kRate, long(kRate * 0.9), [low](long i, int c) mutable {
        const double t = std::fmod(double(i) / kRate, 0.45);
        low += 0.08f * (White(i, c) - low);
        return float(3.0 * low * std::exp(-t * 25) * std::min(1.0, t * 400));
    });
}

// A creaking door: a wavering low saw.
std::vector<uint8_t> Creak() {
    double phase = 0;
    return vorbis_tone::Encode(1, kRate, long(kRate * 1.2), [phase](long i, int) mutable {
        const double t = double(i) / kRate;
        phase += (140 + 60 * std::sin(t * 9) + 30 * std::sin(t * 23)) / kRate;
        const double saw = 2 * (phase - std::floor(phase)) - 1;
        return float(0.3 * saw * std::sin(3.14159 * t / 1.2));
    });
}

// A torch: crackles over a rumble, for a sound placed in the room.
std::vector<uint8_t> Fire() {
    float low = 0;
    return vorbis_tone::Encode(1, kRate, long(kRate * 4), [low](long i, int c) mutable {
        low += 0.02f * (White(i, c) - low);
        const float crackle = Hash(int(i / 300), 5, 98) > 0.93f ? White(i, c + 1) * 0.5f : 0.f;
        const double edge = std::min(double(i), kRate * 4.0 - i) / kRate;
        return float((2.5f * low + crackle) * std::min(1.0, edge * 10));
    });
}

// A bright rising chime for achievements.
std::vector<uint8_t> Chime() {
    return vorbis_tone::Encode(1, kRate, long(kRate * 1.5), [](long i, int) {
        const double t = double(i) / kRate;
        return 0.3f * (Pluck(t, NoteHz(3), 3) + Pluck(t - 0.12, NoteHz(7), 3) + Pluck(t - 0.24, NoteHz(10), 3));
    });
}

// The intro movie: a sun rising over rolling hills, 320 x 240, 3 seconds.
std::vector<uint8_t> Movie() {
    theora_frames::MovieShape s;
    s.width = 320;
    s.height = 240;
    s.frames = 75;
    s.quality = 48;
    return theora_frames::Encode(s, [](int f, int plane, int x, int y) -> uint8_t {
        const float t = f / 74.f;
        if (plane == 0) {
            const float hill = 170 - 25 * std::sin(x * 0.03f + t * 2) - 10 * std::sin(x * 0.071f);
            if (y > hill) return uint8_t(40 + 20 * std::sin(x * 0.2f + y * 0.1f));
            const float sun = std::hypot(x - 160.f, y - (200 - 120 * t));
            if (sun < 28) return 235;
            return uint8_t(std::min(230.f, 60 + 120 * t + 0.4f * y * (1 - t) + 900.f / (sun + 10)));
        }
        const float hill = 85 - 12 * std::sin(x * 0.06f + t * 2) - 5 * std::sin(x * 0.142f);
        if (y > hill) return plane == 1 ? 110 : 100;  // green ground
        return plane == 1 ? uint8_t(150 - 40 * t) : uint8_t(120 + 50 * t);  // blue sky warming
    });
}

}  // namespace

void WriteMedia(const Output& out) {
    out.Bytes("data/music/theme.ogg", Theme());
    out.Bytes("data/sounds/click.ogg", Click());
    out.Bytes("data/sounds/steps.ogg", Steps());
    out.Bytes("data/sounds/creak.ogg", Creak());
    out.Bytes("data/sounds/fire.ogg", Fire());
    out.Bytes("data/sounds/chime.ogg", Chime());
    out.Bytes("data/videos/intro.ogg", Movie());
}

}  // namespace demogen
