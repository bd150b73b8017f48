#pragma once
// A bitmap font made in the tests: a 16 x 16 grid of 8 x 8 cells, each
// character's 3 x 5 glyph drawn white and opaque at (1, 1) of its cell
// (lower case as upper case; unknown characters stay empty), written as a
// 32-bit TGA file and declared as an image resource.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "media/image/image_builders.h"
#include "media/resource_manager.h"
#include "support/test_support.h"

namespace media_test {

struct Glyph3x5 {
    char c;
    const char* rows;  // five rows of three, '#' set
};

inline const char* GlyphRows(char c) {
    static const Glyph3x5 kGlyphs[] = {
        {'A', ".#.#.#####.##.#"}, {'B', "##.#.###.#.###."},  {'C', ".###..#..#...##"},
        {'D', "##.#.##.##.###."}, {'E', "####..##.#..###"},  {'F', "####..##.#..#.."},
        {'G', ".###..#.##.#.##"}, {'H', "#.##.#####.##.#"},  {'I', "###.#..#..#.###"},
        {'J', "..#..#..##.#.#."}, {'K', "#.##.###.#.##.#"},  {'L', "#..#..#..#..###"},
        {'M', "#.########.##.#"}, {'N', "##.#.##.##.##.#"},  {'O', ".#.#.##.##.#.#."},
        {'P', "##.#.###.#..#.."}, {'Q', ".#.#.##.###..##"},  {'R', "##.#.###.#.##.#"},
        {'S', ".###...#...###."}, {'T', "###.#..#..#..#."},  {'U', "#.##.##.##.####"},
        {'V', "#.##.##.##.#.#."}, {'W', "#.##.########.#"},  {'X', "#.##.#.#.#.##.#"},
        {'Y', "#.##.#.#..#..#."}, {'Z', "###..#.#.#..###"},  {'0', "####.##.##.####"},
        {'1', ".#.##..#..#.###"}, {'2', "##...#.#.#..###"},  {'3', "##...#.#...###."},
        {'4', "#.##.####..#..#"}, {'5', "####..##...###."},  {'6', ".###..####.####"},
        {'7', "###..#.#..#..#."}, {'8', "####.#####.####"},  {'9', "####.####..###."},
        {'!', ".#..#..#.....#."}, {'.', ".............#."},  {',', "..........#.#.."},
        {':', "....#.....#...."}, {'?', "##...#.#.....#."},  {'=', "...###...###..."},
        {'_', "............###"}, {'>', "#...#...#.#.#.."},  {'<', "..#.#.#...#...#"},
        {'(', ".#.#..#..#...#."}, {')', ".#...#..#..#.#."},  {'+', "....#.###.#...."},
        {'-', "......###......"}, {'*', "#.#.#.#.#......"},  {'/', "..#..#.#.#..#.."},
        {'"', "#.##.#........."}, {'\'', ".#..#.........."}, {'[', "##.#..#..#..##."},
        {']', ".##..#..#..#.##"},
    };
    const char u = char(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph3x5& g : kGlyphs)
        if (g.c == u) return g.rows;
    return nullptr;
}

// Whether pixel (x, y) of the 3 x 5 glyph is set.
inline bool GlyphBit(char c, int x, int y) {
    const char* rows = GlyphRows(c);
    return rows && rows[y * 3 + x] == '#';
}

// The font image as a 32-bit TGA; cells of cell x cell pixels.
inline std::string FontTga(int cell = 8) {
    const int side = cell * 16;
    std::string pixels(size_t(side) * side * 4, '\0');
    for (int c = 33; c < 256; ++c) {
        const int cx = (c % 16) * cell, cy = (c / 16) * cell;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 3; ++x)
                if (GlyphBit(char(c), x, y)) {
                    // The TGA rows run bottom to top.
                    const int py = side - 1 - (cy + 1 + y);
                    std::memset(&pixels[(size_t(py) * side + size_t(cx + 1 + x)) * 4], 0xFF, 4);
                }
    }
    TgaShape shape;
    shape.width = uint16_t(side);
    shape.height = uint16_t(side);
    shape.depth = 32;
    return MakeTga(shape, "", pixels);
}

// Writes the font image into a fresh folder (made the current one) and
// declares it; the record is removed again at the end.
class FontImageScope {
public:
    explicit FontImageScope(const std::string& name, int cell = 8) {
        if (!getcwd(cwd_, sizeof cwd_)) cwd_[0] = 0;
        if (chdir(dir_.path().c_str()) != 0) return;
        quild_test::WriteFile(dir_.file(name + ".tga"), FontTga(cell));
        record = Resources().DeclareImage(name.c_str(), 0);
    }
    ~FontImageScope() {
        if (record) Resources().Remove(record, true);
        if (cwd_[0] && chdir(cwd_) != 0) cwd_[0] = 0;
    }
    FontImageScope(const FontImageScope&) = delete;
    FontImageScope& operator=(const FontImageScope&) = delete;
    ResourceRecord* record = nullptr;

private:
    quild_test::TempDir dir_;
    char cwd_[4096] = {};
};

}  // namespace media_test
