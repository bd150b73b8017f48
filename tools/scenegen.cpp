// Writes test scene content into a data root: PNG cube faces and pages,
// zlib hotspot maps, depth maps, the hotspot palette and node scripts that
// trace their callbacks. Built by CMake for the tests and benchmarks.
//
//   quild_scenegen <root> <command> [arguments] [<command> [arguments] ...]
//     palette                          data/misc/hotspots.bin: value n shown as (n*40, 255-n*40, n*90)
//     cube <scene> <size>              stages/<scene>/01.png .. 06.png, one colour per face with a grid
//     mask <scene> <size>              stages/<scene>/a_01.png .. a_06.png, a left-to-right grey ramp
//     pages <scene> <count> <w> <h>    stages/<scene>/page<n>.png, one colour each, and page{} lines in data.lua
//     map <scene> <yaw0> <yaw1> <pitch0> <pitch1> <value>
//                                      stages/<scene>/hotspots.bin: the cells of the box hold value
//     badmap <scene>                   stages/<scene>/hotspots.bin that is not a zlib stream
//     zbuffer <scene> <bytes> <value>  stages/<scene>/zbuffer.bin of that many bytes
//     trace <scene>                    stages/<scene>/script.lua tracing every scene callback as "<scene>:<event>"
//     data <scene> <lua text>          appends the text and a newline to stages/<scene>/data.lua
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "save_bytes.h"

namespace {

// The stage folder every command writes under (DIR_STAGES of the test
// scripts).
const char* kStages = "stages";

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    Put32(out, uint32_t(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32(out, uint32_t(crc32(0, out.data() + start, uInt(out.size() - start))));
}

// An 8-bit RGB PNG of the pixels (0xRRGGBB, rows top to bottom).
std::vector<uint8_t> EncodePng(const std::vector<uint32_t>& px, int w, int h) {
    std::vector<uint8_t> raw;
    raw.reserve(size_t(h) * (size_t(w) * 3 + 1));
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        for (int x = 0; x < w; ++x) {
            uint32_t p = px[size_t(y) * w + x];
            raw.push_back(uint8_t(p >> 16));
            raw.push_back(uint8_t(p >> 8));
            raw.push_back(uint8_t(p));
        }
    }
    uLongf zlen = compressBound(uLong(raw.size()));
    std::vector<uint8_t> z(zlen);
    if (compress(z.data(), &zlen, raw.data(), uLong(raw.size())) != Z_OK) return {};
    z.resize(zlen);
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    Put32(ihdr, uint32_t(w));
    Put32(ihdr, uint32_t(h));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    Chunk(out, "IHDR", ihdr);
    Chunk(out, "IDAT", z);
    Chunk(out, "IEND", {});
    return out;
}

std::string SceneDir(const std::string& root, const std::string& scene) {
    std::string dir = root + "/" + kStages + "/" + scene;
    std::filesystem::create_directories(dir);
    return dir;
}

void AppendText(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// Face colours: front red, right green, back blue, left yellow, top
// magenta, bottom cyan.
constexpr uint32_t kFaceColours[6] = {0xC03030, 0x30C030, 0x3030C0, 0xC0C030, 0xC030C0, 0x30C0C0};

void WriteCube(const std::string& dir, int size) {
    for (int f = 0; f < 6; ++f) {
        std::vector<uint32_t> px(size_t(size) * size);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                bool line = x % (size / 8 ? size / 8 : 1) == 0 || y % (size / 8 ? size / 8 : 1) == 0;
                px[size_t(y) * size + x] = line ? 0xFFFFFF : kFaceColours[f];
            }
        SaveBytes(dir + "/0" + std::to_string(f + 1) + ".png", EncodePng(px, size, size));
    }
}

void WriteMask(const std::string& dir, int size) {
    for (int f = 0; f < 6; ++f) {
        std::vector<uint32_t> px(size_t(size) * size);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                uint32_t g = uint32_t(x * 255 / (size > 1 ? size - 1 : 1));
                px[size_t(y) * size + x] = g << 16 | g << 8 | g;
            }
        SaveBytes(dir + "/a_0" + std::to_string(f + 1) + ".png", EncodePng(px, size, size));
    }
}

void WritePages(const std::string& dir, const std::string& scene, int count, int w, int h) {
    for (int n = 1; n <= count; ++n) {
        std::vector<uint32_t> px(size_t(w) * h, kFaceColours[(n - 1) % 6]);
        for (int y = h / 4; y < h / 4 + h / 8; ++y)
            for (int x = w / 4; x < w / 4 + w / 2 * n / count; ++x) px[size_t(y) * w + x] = 0xFFFFFF;
        std::string file = "page" + std::to_string(n);
        SaveBytes(dir + "/" + file + ".png", EncodePng(px, w, h));
        AppendText(dir + "/data.lua",
                   "page{name=\"" + file + "\",image=\"" + kStages + "/" + scene + "/" + file + "\"}\n");
    }
}

void WriteMap(const std::string& dir, int yaw0, int yaw1, int pitch0, int pitch1, int value) {
    std::vector<uint8_t> map(360 * 180, 0);
    std::string path = dir + "/hotspots.bin";
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        // Several regions go into one map.
        std::vector<uint8_t> z(1 << 20);
        size_t n = std::fread(z.data(), 1, z.size(), f);
        std::fclose(f);
        uLongf len = uLongf(map.size());
        uncompress(map.data(), &len, z.data(), uLong(n));
    }
    for (int p = pitch0; p <= pitch1; ++p)
        for (int y = yaw0; y <= yaw1; ++y)
            if (p >= -90 && p < 90 && y >= 0 && y < 360) map[size_t(p + 90) * 360 + y] = uint8_t(value);
    uLongf zlen = compressBound(uLong(map.size()));
    std::vector<uint8_t> z(zlen);
    compress(z.data(), &zlen, map.data(), uLong(map.size()));
    z.resize(zlen);
    SaveBytes(path, z);
}

const char* kTraceScript = R"lua(-- Traces every scene callback of this node.
local node = "%s"
local function t(event, ...)
  local args = {...}
  for i = 1, #args do args[i] = tostring(args[i]) end
  trace(node .. ":" .. event .. "(" .. table.concat(args, ",") .. ")")
end
function OnSceneLeave(...) t("OnSceneLeave", ...) end
function OnSceneExit(...) t("OnSceneExit", ...) end
function OnSceneInit(...) t("OnSceneInit", ...) end
function OnSceneEnter(...) t("OnSceneEnter", ...) end
)lua";

int Usage() {
    std::fprintf(stderr, "usage: quild_scenegen <root> <command> [arguments] ...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string root = argv[1];
    int i = 2;
    auto arg = [&](int k) { return std::string(i + k < argc ? argv[i + k] : ""); };
    auto num = [&](int k) { return std::atoi(arg(k).c_str()); };
    while (i < argc) {
        const std::string cmd = argv[i];
        if (cmd == "palette") {
            std::filesystem::create_directories(root + "/data/misc");
            std::vector<uint8_t> pal(768);
            for (int n = 0; n < 256; ++n) {
                pal[n * 3] = uint8_t(n * 40), pal[n * 3 + 1] = uint8_t(255 - n * 40), pal[n * 3 + 2] = uint8_t(n * 90);
            }
            SaveBytes(root + "/data/misc/hotspots.bin", pal);
            i += 1;
        } else if (cmd == "cube" && i + 2 < argc) {
            WriteCube(SceneDir(root, arg(1)), num(2));
            i += 3;
        } else if (cmd == "mask" && i + 2 < argc) {
            WriteMask(SceneDir(root, arg(1)), num(2));
            i += 3;
        } else if (cmd == "pages" && i + 4 < argc) {
            WritePages(SceneDir(root, arg(1)), arg(1), num(2), num(3), num(4));
            i += 5;
        } else if (cmd == "map" && i + 6 < argc) {
            WriteMap(SceneDir(root, arg(1)), num(2), num(3), num(4), num(5), num(6));
            i += 7;
        } else if (cmd == "badmap" && i + 1 < argc) {
            SaveBytes(SceneDir(root, arg(1)) + "/hotspots.bin", {'n', 'o', 't', ' ', 'z', 'l', 'i', 'b'});
            i += 2;
        } else if (cmd == "zbuffer" && i + 3 < argc) {
            SaveBytes(SceneDir(root, arg(1)) + "/zbuffer.bin", std::vector<uint8_t>(size_t(num(2)), uint8_t(num(3))));
            i += 4;
        } else if (cmd == "trace" && i + 1 < argc) {
            char text[2048];
            std::snprintf(text, sizeof text, kTraceScript, arg(1).c_str());
            const std::string path = SceneDir(root, arg(1)) + "/script.lua";
            std::remove(path.c_str());
            AppendText(path, text);
            i += 2;
        } else if (cmd == "data" && i + 2 < argc) {
            AppendText(SceneDir(root, arg(1)) + "/data.lua", arg(2) + "\n");
            i += 3;
        } else {
            return Usage();
        }
    }
    return 0;
}
