// Ogg Theora movie input: header search, decoder set-up and every frame
// decoded and uploaded into a movie texture held in memory. Page checksums
// are set right first, so mutated packets reach the Theora decoder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../media/recording_device.h"
#include "fuzz_support.h"
#include "media/video/video_player.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MemoryDevice* device = [] {
        fuzz::QuietLog();
        auto* d = new MemoryDevice;
        g_renderDevice = d;
        return d;
    }();
    const std::string& path = fuzz::ScratchPath("quild-theora");
    if (size > (1u << 20)) return 0;
    const std::vector<uint8_t> fixed = fuzz::WithOggChecksums(data, size);
    if (!fuzz::WriteScratch(path, fixed.data(), fixed.size())) return 0;
    // Read whole or streamed from the file, by the input's last bit: both
    // ways are covered at half the cost.
    const bool buffered = size % 2 == 0;
    {
        VideoPlayer player;
        if (player.Open(path.c_str(), buffered) == 1) {
            if (player.Start()) {
                player.GetFrameRate();
                for (int frames = 0; frames < 32 && player.Update(); ++frames) {
                }
            }
            player.Close();
        }
    }
    ReleaseVideoOutput();
    device->calls.clear();
    return 0;
}
