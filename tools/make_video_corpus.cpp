// Writes the seed files of the Theora movie fuzz target: a few small
// frames made here, whole, cropped, at an odd rate, with inter frames,
// with a sound stream beside the picture, and cut short.
//   g++ -std=c++20 tools/make_video_corpus.cpp -lvorbisenc -lvorbis -ltheora -logg -o /tmp/make_video_corpus
//   /tmp/make_video_corpus tests/fuzz/corpus/fuzz_theora
#include <cstdio>
#include <string>

#include "save_bytes.h"
#include "theora_frames.h"
#include "vorbis_tone.h"

namespace {

// The pages of a movie and a sound interleaved as a muxer lays them out:
// both first pages, the rest of the headers, then the data pages in turn.
std::vector<uint8_t> Interleave(const std::vector<uint8_t>& movie, const std::vector<uint8_t>& sound) {
    const auto a = theora_frames::Pages(movie), b = theora_frames::Pages(sound);
    std::vector<uint8_t> out;
    const size_t n = a.size() > b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        if (i < a.size()) out.insert(out.end(), a[i].begin(), a[i].end());
        if (i < b.size()) out.insert(out.end(), b[i].begin(), b[i].end());
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 1;
    const std::string dir = argv[1];
    theora_frames::MovieShape flat;
    flat.width = flat.height = 16;
    flat.frames = 3;
    flat.quality = 10;
    SaveBytes(dir + "/flat_16.ogg", theora_frames::Flat(flat, {{81, 90, 240}, {145, 54, 34}, {41, 240, 110}}));

    theora_frames::MovieShape crop;
    crop.width = 48;
    crop.height = 32;
    crop.pictureWidth = 37;
    crop.pictureHeight = 21;
    crop.offsetX = 6;
    crop.offsetY = 4;
    crop.frames = 3;
    crop.quality = 10;
    crop.keyframeEvery = 2;
    crop.fpsNumerator = 30000;
    crop.fpsDenominator = 1001;
    SaveBytes(dir + "/bars_cropped.ogg", theora_frames::Bars(crop));

    auto cut = theora_frames::Bars(flat);
    cut.resize(cut.size() - 40);
    SaveBytes(dir + "/bars_cut.ogg", cut);

    // Moving bars: one key frame, then frames coded against it.
    theora_frames::MovieShape moving;
    moving.width = 32;
    moving.height = 16;
    moving.frames = 6;
    moving.quality = 20;
    SaveBytes(dir + "/bars_inter.ogg", theora_frames::Bars(moving));

    SaveBytes(dir + "/with_sound.ogg", Interleave(theora_frames::Flat(flat, {{200, 100, 150}, {60, 140, 90}}),
                                                   vorbis_tone::Tone(1, 8000, 0.1, 400.0)));
    return 0;
}
