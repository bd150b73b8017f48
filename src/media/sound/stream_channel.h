#pragma once
// The eight stream channels: long sounds decoded on a worker thread per
// channel into a looping buffer of segments, refilled one segment ahead of
// the play cursor, with fades between sources and one queued source.
//
// The main thread talks to a worker through the command word and event 0;
// everything else the two share is guarded by the channel's mutex. A worker
// never touches a Sound: it works from copies of the paths, and of the
// volume and position of the sound that started it, which serve the
// worker's whole life, through every switch.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/system.h"

class Sound;
struct SoundBufferRecord;
namespace plat {
class SoundBuffer3D;
}

constexpr int kStreamChannelCount = 8;
constexpr int kStreamMaxNotifications = 15;

// Command bits.
constexpr uint32_t kStreamSwitch = 1;     // end the current source, then start the queued one
constexpr uint32_t kStreamStop = 2;       // end the worker at once
constexpr uint32_t kStreamVolume = 4;     // apply the volume
constexpr uint32_t kStreamFadeIn = 8;     // fade the current source (back) in
constexpr uint32_t kStreamPosition = 16;  // apply the 3-D position

// What a channel plays, or is to play next.
struct StreamSource {
    StreamSource() = default;
    explicit StreamSource(bool looping) : loop(looping) {}

    std::string path;
    uint32_t start = 0;     // milliseconds
    Sound* sound = nullptr;  // compared, never dereferenced by the worker
    bool loop = true;
};

struct StreamChannel {
    // Owned by the worker while it runs; released by StopAllStreamChannels.
    SoundBufferRecord* buffer = nullptr;
    plat::SoundBuffer3D* buffer3d = nullptr;
    std::atomic<bool> running{false};
    bool switch_pending = false;
    std::atomic<bool> playing{false};
    plat::Thread* thread = nullptr;
    uint32_t channels = 0;
    uint32_t rate = 0;
    std::atomic<uint32_t> commands{0};
    std::atomic<bool> no_fade{false};
    plat::Event* events[kStreamMaxNotifications + 1] = {};

    // Guards every field above that is not atomic, and the ones below.
    std::mutex lock;
    uint32_t index = 0;
    uint32_t notify_count = 0;  // notification points of the current buffer
    StreamSource current;
    StreamSource queued{false};
    Sound* starter = nullptr;  // the sound that started the worker
    float volume = 1.0f;       // the starter's, for the worker's life
    float position[3] = {0, 0, 0};
    bool exiting = false;      // the worker has left its wait loop
    bool orphaned = false;     // the stopper gave up waiting: the worker tears down

    // Does nothing unless the channel is running.
    void PostCommand(uint32_t bits);
    // Same, with the lock held.
    void PostCommandLocked(uint32_t bits);
    void CreateEventsLocked();
};

// The records are never destroyed: a sound that a static destructor
// releases finds them whatever order exit() runs destructors in. Every
// worker is ended at exit before the statics built ahead of the first
// stream go.
extern StreamChannel (&g_stream_channels)[kStreamChannelCount];

// Settings read by buffers created afterwards (and by workers).
extern std::atomic<float> g_stream_channel_volumes[kStreamChannelCount];
extern std::atomic<float> g_stream_buffer_seconds;     // 1.0
extern std::atomic<uint32_t> g_stream_notify_count;    // 3
extern std::atomic<uint32_t> g_finished_channel_mask;  // bit per channel number

// Reads and clears the finished-channel mask in one step.
uint32_t TakeFinishedStreamChannels();
// Stores the volume of channel table entry 0..7 and posts the volume command
// to every running channel that has none pending.
void SetStreamChannelVolume(unsigned channel, float v);
// True while the channel's buffer plays a source.
bool StreamChannelIsPlaying(unsigned channel);
// Shut-down: ends every worker (waiting up to 3000 ms each) and releases
// the buffers and events.
void StopAllStreamChannels();

// Used by Sound: the channel's part of Play, Stop, SetVolume, SetPosition,
// IsPlaying and release for a streamed sound.
bool StreamPlay(StreamChannel& ch, Sound* sound, bool loop, int32_t start_ms);
void StreamStop(StreamChannel& ch, Sound* sound);
void StreamSetVolume(StreamChannel& ch, Sound* sound, float v);
void StreamSetPosition(StreamChannel& ch, Sound* sound, const float* position);
bool StreamIsPlaying(StreamChannel& ch, const Sound* sound);
void StreamForget(Sound* sound);
