// Writes the seed files of the Ogg sound fuzz target: small tones and
// clicks made here, in a few channel layouts and rates, long enough to
// span several pages, chained, and cut short.
//   g++ -std=c++20 tools/make_sound_corpus.cpp -lvorbisenc -lvorbis -logg -o /tmp/make_sound_corpus
//   /tmp/make_sound_corpus tests/fuzz/corpus/fuzz_ogg_sound
#include <cstdio>
#include <string>

#include "save_bytes.h"
#include "vorbis_tone.h"

int main(int argc, char** argv) {
    if (argc < 2) return 1;
    std::string dir = argv[1];
    SaveBytes(dir + "/tone_mono.ogg", vorbis_tone::Tone(1, 22050, 0.1, 440.0));
    SaveBytes(dir + "/click_stereo.ogg", vorbis_tone::Click(2, 44100, 0.05));
    SaveBytes(dir + "/tone_3ch.ogg", vorbis_tone::Tone(3, 8000, 0.1, 300.0));
    auto cut = vorbis_tone::Click(1, 11025, 0.3);
    cut.resize(cut.size() * 2 / 3);
    SaveBytes(dir + "/click_cut.ogg", cut);
    // Six channels are folded down to two by the decoder.
    SaveBytes(dir + "/tone_6ch.ogg", vorbis_tone::Tone(6, 8000, 0.05, 500.0));
    // Several audio pages at a low quality: short and long blocks.
    SaveBytes(dir + "/clicks_pages.ogg", vorbis_tone::Click(1, 8000, 1.5));
    // Two links of different formats one after the other.
    auto chained = vorbis_tone::Tone(1, 11025, 0.05, 220.0);
    auto second = vorbis_tone::Click(2, 22050, 0.03);
    chained.insert(chained.end(), second.begin(), second.end());
    SaveBytes(dir + "/chained.ogg", chained);
    // The same with serial numbers of their own, so the decoder sees two
    // links (the second is resampled to the first one's rate), and a third
    // of five channels at yet another rate.
    auto mixed = vorbis_tone::Tone(1, 11025, 0.05, 220.0, 0.5f, 1);
    auto mixed_second = vorbis_tone::Tone(2, 22050, 0.03, 330.0, 0.5f, 2);
    auto mixed_third = vorbis_tone::Tone(5, 8000, 0.04, 440.0, 0.5f, 3);
    mixed.insert(mixed.end(), mixed_second.begin(), mixed_second.end());
    mixed.insert(mixed.end(), mixed_third.begin(), mixed_third.end());
    SaveBytes(dir + "/chained_rates.ogg", mixed);
    // Eight short links: opening reads far more than the file for each.
    std::vector<uint8_t> many;
    for (int i = 0; i < 8; ++i) {
        auto link = vorbis_tone::Tone(i % 2 ? 1 : 2, i % 2 ? 11025 : 22050, 0.02, 220.0 + 40 * i, 0.5f, 10 + i);
        many.insert(many.end(), link.begin(), link.end());
    }
    SaveBytes(dir + "/chained_many.ogg", many);
    return 0;
}
