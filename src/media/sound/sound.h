#pragma once
// A loaded sound: either static (an Ogg Vorbis file decoded whole into one
// buffer, plain or positioned in 3-D) or streamed (it names its file and
// plays through one of the eight stream channels).
#include <atomic>
#include <cstdint>

struct SoundBufferRecord;
struct StreamChannel;
namespace plat {
class SoundBuffer3D;
}

// Largest decoded size a static sound may have.
constexpr int64_t kMaxStaticSoundBytes = 0x6400000;

class Sound {
public:
    Sound() = default;
    ~Sound() { Release(); }
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    // Decodes the whole file into a static buffer; is3d mixes it down to
    // mono and gives it 3-D control. False, with a log line, on failure.
    bool Load(const char* path, bool is3d);
    bool LoadFromMemory(const uint8_t* data, uint32_t size, bool is3d, const char* name);
    // Makes this a streamed sound on channel 0..7 that plays the file at path
    // (the caller keeps the text alive).
    bool BindStream(uint32_t channel, const char* path);

    // start: a byte offset for static sounds (negative keeps the position),
    // milliseconds for streamed ones. Streamed sounds report false.
    bool Play(bool loop, int32_t start);
    void Stop();
    void SetVolume(float v);
    void SetPosition(float x, float y, float z);
    bool IsPlaying();
    // Stops the sound and releases its buffers; safe to call twice.
    void Release();

    plat::SoundBuffer3D* buffer3d = nullptr;
    SoundBufferRecord* buffer = nullptr;
    bool streamed = false;
    const char* source_path = nullptr;
    std::atomic<StreamChannel*> channel{nullptr};  // cleared by a worker when its source ends
    uint32_t channel_index = 0;
    uint32_t size = 0;
    float volume = 1.0f;
    float position[3] = {0, 0, 0};
    bool looping = false;
    Sound* next_playing = nullptr;
};

extern float g_sfx_volume;          // master volume of static sounds
extern uint8_t g_software_buffers;  // 1: static buffers ask for software mixing
extern Sound* g_playing_sounds;     // static sounds started, newest first

// Stores the master volume and applies it to every playing static sound,
// dropping the finished ones from the playing list.
void SetSfxVolume(float v);
