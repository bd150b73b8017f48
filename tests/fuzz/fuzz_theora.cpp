// Ogg Theora movie input: header search, decoder set-up and every frame
// decoded and uploaded into a movie texture held in memory.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../media/recording_device.h"
#include "base/log.h"
#include "media/video_player.h"

namespace {

// Movie textures are real memory of their full size; released ones give
// it back, and the call log is dropped after every input.
class MemoryDevice : public media_test::RecordingDevice {
public:
    TextureRecord* CreateTexture(int32_t w, int32_t h, int32_t kind, const void*, uint32_t) override {
        TextureRecord* r = RecordingDevice::CreateTexture(w, h, kind, nullptr, 0);
        Find(r)->pixels.assign(size_t(w) * size_t(h) * 4, 0);
        return r;
    }
    void ReleaseTexture(TextureRecord* r) override {
        if (Texture* t = Find(r)) std::vector<uint8_t>().swap(t->pixels);
        RecordingDevice::ReleaseTexture(r);
    }
};

std::string g_path;

void RemoveInputFile() {
    if (!g_path.empty()) std::remove(g_path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MemoryDevice* device = [] {
        SetLogSink(nullptr);
        std::string name = (std::filesystem::temp_directory_path() / "quild-theora-XXXXXX").string();
        int fd = mkstemp(name.data());
        if (fd >= 0) {
            close(fd);
            g_path = name;
            std::atexit(RemoveInputFile);
        }
        auto* d = new MemoryDevice;
        g_renderDevice = d;
        return d;
    }();
    if (size > (1u << 20) || g_path.empty()) return 0;
    FILE* f = std::fopen(g_path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    for (bool buffered : {true, false}) {
        VideoPlayer player;
        if (player.Open(g_path.c_str(), buffered) != 1) continue;
        if (player.Start()) {
            player.GetFrameRate();
            for (int frames = 0; frames < 64 && player.Update(); ++frames) {
            }
        }
        player.Close();
    }
    ReleaseVideoOutput();
    device->calls.clear();
    return 0;
}
