// Ogg Vorbis sound input: the in-memory decoder (looping, with a seek) and
// the static sound load, 2-D or 3-D. Page checksums are set
// right first, so mutated packets reach the Vorbis decoder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "media/sound/sound.h"
#include "media/sound/sound_device.h"
#include "media/sound/vorbis_source.h"

namespace {

void Feed(const uint8_t* data, uint32_t n) {
    {
        VorbisSource source;
        if (source.OpenMemory(data, n, true, "fuzz")) {
            std::vector<int16_t> pcm(4096 * 2);
            source.Decode(pcm.data(), 4096, 2);
            int64_t total = source.TotalFrames();
            if (total > 0) source.SeekFrame(total / 2);
            source.Decode(pcm.data(), 4096, 1);
        }
    }
    // A static sound, 2-D or 3-D by the input's last bit.
    Sound sound;
    sound.LoadFromMemory(data, n, n % 2 == 1, "fuzz");
    if (sound.buffer) {
        sound.Play(false, 0);
        int16_t out[512 * 2];
        g_sound_device.System()->Render(out, 512);
        sound.Stop();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        fuzz::QuietLog();
        g_sound_device.SetManualOutput(true);
        g_sound_device.Create(nullptr, plat::kSoundLevelPriority, 2, 44100, 16);
        return true;
    }();
    (void)ready;
    if (size > (1u << 20)) return 0;
    const std::vector<uint8_t> fixed = fuzz::WithOggChecksums(data, size);
    Feed(fixed.data(), static_cast<uint32_t>(fixed.size()));
    return 0;
}
