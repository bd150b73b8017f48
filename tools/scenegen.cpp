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

#include "asset_writers.h"

namespace {

using asset_writers::AppendText;
using asset_writers::EncodePng;

// The stage folder every command writes under (DIR_STAGES of the test
// scripts).
const char* kStages = "stages";

std::string SceneDir(const std::string& root, const std::string& scene) {
    std::string dir = root + "/" + kStages + "/" + scene;
    std::filesystem::create_directories(dir);
    return dir;
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
    std::vector<uint8_t> map(asset_writers::kMapWidth * asset_writers::kMapHeight, 0);
    std::string path = dir + "/hotspots.bin";
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        // Several regions go into one map.
        std::vector<uint8_t> z(1 << 20);
        size_t n = std::fread(z.data(), 1, z.size(), f);
        std::fclose(f);
        uLongf len = uLongf(map.size());
        uncompress(map.data(), &len, z.data(), uLong(n));
    }
    asset_writers::MapBox(map, yaw0, yaw1, pitch0, pitch1, value);
    SaveBytes(path, asset_writers::Deflate(map));
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
