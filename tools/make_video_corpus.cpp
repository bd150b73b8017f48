// Writes the seed files of the Theora movie fuzz target: a few small
// frames made here, whole, cropped, at an odd rate and cut short.
//   g++ -std=c++20 tools/make_video_corpus.cpp -ltheora -logg -o /tmp/make_video_corpus
//   /tmp/make_video_corpus tests/fuzz/corpus/fuzz_theora
#include <cstdio>
#include <string>

#include "save_bytes.h"
#include "theora_frames.h"

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
    return 0;
}
