#include "media/sound/stream_channel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "base/log.h"
#include "media/sound/sound.h"
#include "media/sound/sound_device.h"
#include "media/sound/vorbis_source.h"

namespace {

// Built like any static, never destroyed (see the header).
union ChannelRecords {
    ChannelRecords() : channels{} {}
    ~ChannelRecords() {}
    StreamChannel channels[kStreamChannelCount];
};

ChannelRecords g_channel_records;

}  // namespace

StreamChannel (&g_stream_channels)[kStreamChannelCount] = g_channel_records.channels;
std::atomic<float> g_stream_channel_volumes[kStreamChannelCount] = {1.0f, 1.0f, 1.0f, 1.0f,
                                                                    1.0f, 1.0f, 1.0f, 1.0f};
std::atomic<float> g_stream_buffer_seconds{1.0f};
std::atomic<uint32_t> g_stream_notify_count{3};
std::atomic<uint32_t> g_finished_channel_mask{0};

namespace {

constexpr int kStopWaitMs = 3000;

uint32_t IndexOf(const StreamChannel& ch) {
    return static_cast<uint32_t>(&ch - g_stream_channels);
}

// Releases the buffers and events and resets the record; lock held, no
// worker left that uses them.
void ReleaseChannelLocked(StreamChannel& ch) {
    if (ch.buffer3d) ch.buffer3d->Release();
    if (ch.buffer) ch.buffer->Release();
    for (plat::Event*& e : ch.events) {
        plat::DestroyEvent(e);
        e = nullptr;
    }
    ch.buffer = nullptr;
    ch.buffer3d = nullptr;
    ch.running = false;
    ch.switch_pending = false;
    ch.playing = false;
    ch.channels = 0;
    ch.rate = 0;
    ch.commands = 0;
    ch.current = StreamSource(false);
    ch.queued = StreamSource(false);
    ch.no_fade = false;
    ch.notify_count = 0;
    ch.starter = nullptr;
    ch.volume = 1.0f;
    std::fill(ch.position, ch.position + 3, 0.0f);
    ch.exiting = false;
    ch.orphaned = false;
}

class StreamWorker {
public:
    explicit StreamWorker(StreamChannel& ch) : ch_(ch), index_(IndexOf(ch)) {}
    void Run();

private:
    enum class Fade { kNone, kIn, kOut };
    enum class End { kPlaying, kEndWritten, kEnding };
    enum class LoopEnd { kSourceDone, kStopNow };

    bool StartSource();
    // Plays the started source until it ends or is switched away from;
    // false when the worker was told to end at once.
    bool PlaySource();
    LoopEnd WaitLoop();
    uint32_t DecodeSegment();
    void Refill(uint32_t segment_index);
    void FadeStep(bool* end_loop);
    float Volume();
    void StartTail() {
        end_ = End::kEnding;
        tail_tick_ = plat::TickCount();
    }
    // The tail counts down in real time, whatever woke the worker.
    bool TailDone() {
        uint32_t now = plat::TickCount();
        remaining_ms_ -= now - tail_tick_;
        tail_tick_ = now;
        return remaining_ms_ <= 0;
    }
    void ApplyVolume(float v) { buffer_->SetVolume(v); }
    void Exit(bool finished);  // lock held

    StreamChannel& ch_;
    const uint32_t index_;
    VorbisSource source_;
    std::vector<int16_t> scratch_;
    std::string path_;
    bool loop_ = false;
    uint32_t start_ = 0;
    SoundBufferRecord* buffer_ = nullptr;
    uint32_t segment_ = 0;
    uint32_t count_ = 0;
    uint32_t block_align_ = 0;
    uint32_t bytes_per_second_ = 0;
    int out_channels_ = 0;
    plat::Event* events_[kStreamMaxNotifications + 1] = {};
    Fade fade_ = Fade::kIn;
    float factor_ = 0.0f;
    End end_ = End::kPlaying;
    int64_t remaining_ms_ = 0x7FFFFFFF;
    uint32_t tail_tick_ = 0;
};

unsigned WorkerMain(void* arg) {
    StreamWorker worker(*static_cast<StreamChannel*>(arg));
    worker.Run();
    return 0;
}

void StreamWorker::Run() {
    {
        std::lock_guard<std::mutex> guard(ch_.lock);
        path_ = ch_.current.path;
        loop_ = ch_.current.loop;
        start_ = ch_.current.start;
        if (ch_.buffer) scratch_.assign(ch_.buffer->segment / 2, 0);
    }
    fade_ = Fade::kIn;
    factor_ = 0.0f;
    bool opened = source_.OpenFile(path_.c_str(), loop_);
    for (;;) {
        if (!opened || !StartSource()) {
            std::lock_guard<std::mutex> guard(ch_.lock);
            Exit(false);
            return;
        }
        if (!PlaySource()) return;
        std::unique_lock<std::mutex> lock(ch_.lock);
        if (!ch_.switch_pending || ch_.queued.path.empty()) {
            Exit(remaining_ms_ <= 0);
            return;
        }
        ch_.current = ch_.queued;
        ch_.queued.path.clear();
        ch_.queued.sound = nullptr;
        ch_.switch_pending = false;
        ch_.exiting = false;
        // The queue these asked for has been taken.
        ch_.commands.fetch_and(~(kStreamSwitch | kStreamFadeIn));
        path_ = ch_.current.path;
        loop_ = ch_.current.loop;
        start_ = ch_.current.start;
        lock.unlock();
        fade_ = Fade::kIn;
        opened = source_.OpenFile(path_.c_str(), loop_);
    }
}

bool StreamWorker::PlaySource() {
    for (;;) {
        LoopEnd how = WaitLoop();
        std::unique_lock<std::mutex> lock(ch_.lock);
        if (how == LoopEnd::kStopNow) {
            buffer_->Stop();
            Exit(false);
            return false;
        }
        // A Play of the current source that came while the loop was ending
        // is not lost: it resumes the source, or restarts one that ended.
        if ((ch_.commands.load() & kStreamFadeIn) && !ch_.switch_pending) {
            ch_.commands.fetch_and(~kStreamFadeIn);
            if (remaining_ms_ > 0) {
                fade_ = Fade::kIn;
                continue;
            }
            ch_.queued = ch_.current;
            ch_.switch_pending = true;
        }
        ch_.exiting = true;  // a Play from now on queues its sound
        lock.unlock();
        buffer_->Stop();
        ch_.playing = false;
        return true;
    }
}

void StreamWorker::Exit(bool finished) {
    if (finished) g_finished_channel_mask.fetch_or(1u << index_);
    ch_.switch_pending = false;
    ch_.current.sound = nullptr;
    ch_.current.loop = true;
    ch_.current.start = 0;
    if (ch_.starter) {
        // The sound that started the worker is bound again by its next
        // acquisition.
        StreamChannel* expected = &ch_;
        ch_.starter->channel.compare_exchange_strong(expected, nullptr);
        ch_.starter = nullptr;
    }
    ch_.commands = 0;
    if (ch_.events[0]) plat::ResetEvent(ch_.events[0]);
    ch_.playing = false;
    ch_.exiting = false;
    ch_.running = false;
    if (ch_.orphaned) ReleaseChannelLocked(ch_);  // the stopper stopped waiting for us
}

bool StreamWorker::StartSource() {
    const uint32_t rate = source_.Rate();
    out_channels_ = source_.Channels() == 1 ? 1 : 2;
    plat::WaveFormat format;
    format.channels = static_cast<uint16_t>(out_channels_);
    format.samples_per_sec = rate;
    format.bits_per_sample = 16;
    format.block_align = static_cast<uint16_t>(out_channels_ * 2);
    format.avg_bytes_per_sec = format.block_align * rate;
    block_align_ = format.block_align;
    bytes_per_second_ = format.avg_bytes_per_sec;

    bool keep;
    float position[3];
    {
        std::lock_guard<std::mutex> guard(ch_.lock);
        keep = ch_.buffer && ch_.channels == static_cast<uint32_t>(out_channels_) && ch_.rate == rate;
        ch_.CreateEventsLocked();
        std::copy(ch_.events, ch_.events + kStreamMaxNotifications + 1, events_);
        std::copy(ch_.position, ch_.position + 3, position);
        if (!keep) {
            if (ch_.buffer3d) ch_.buffer3d->Release();
            if (ch_.buffer) ch_.buffer->Release();
            ch_.buffer = nullptr;
            ch_.buffer3d = nullptr;
            ch_.channels = 0;
            ch_.rate = 0;
        }
    }
    if (!keep) {
        uint32_t count = std::clamp<uint32_t>(g_stream_notify_count.load(), 2, kStreamMaxNotifications);
        float seconds = g_stream_buffer_seconds.load();
        seconds = std::isfinite(seconds) ? std::clamp(seconds, 0.1f, 5.0f) : 1.0f;
        uint64_t segment = static_cast<uint64_t>(static_cast<double>(rate) * seconds) * format.block_align;
        SoundBufferRecord* record = nullptr;
        int32_t r = segment * count > 0x10000000u ? plat::kSoundInvalidParam
                                                  : g_sound_device.CreateStreamingBuffer(
                                                        format, static_cast<uint32_t>(segment), count,
                                                        events_ + 1, out_channels_ > 1 ? 8u : 24u, &record);
        if (plat::SoundFailed(r)) {
            LogPrintf("[ERROR] - STREAM SOUND[%u] : no buffer for %s (0x%08X)", index_, path_.c_str(),
                      static_cast<unsigned>(r));
            source_.Close();
            return false;
        }
        plat::SoundBuffer3D* b3 = nullptr;
        if (out_channels_ == 1 && !plat::SoundFailed(record->Query3D(&b3))) {
            b3->SetMode(plat::kMode3DNormal, plat::kApplyImmediate);
            b3->SetMinDistance(1.0f, plat::kApplyImmediate);
            b3->SetMaxDistance(10.0f, plat::kApplyImmediate);
            b3->SetPosition(position[0], position[1], position[2], plat::kApplyImmediate);
        }
        std::lock_guard<std::mutex> guard(ch_.lock);
        ch_.buffer = record;
        ch_.buffer3d = b3;
        ch_.channels = out_channels_;
        ch_.rate = rate;
        ch_.notify_count = count;
    }
    {
        std::lock_guard<std::mutex> guard(ch_.lock);
        buffer_ = ch_.buffer;
        count_ = ch_.notify_count;
    }
    segment_ = buffer_->segment;
    if (scratch_.size() != segment_ / 2) scratch_.assign(segment_ / 2, 0);

    if (start_ != 0) {
        int64_t total = source_.TotalFrames();
        if (total > 0)
            source_.SeekFrame(static_cast<int64_t>(static_cast<uint64_t>(rate) * start_ / 1000 % total));
    }
    uint32_t got = DecodeSegment();
    end_ = End::kPlaying;
    remaining_ms_ = 0x7FFFFFFF;
    if (got < segment_) {
        remaining_ms_ = static_cast<int64_t>(got) * 1000 / bytes_per_second_ + 100;
        StartTail();
    }
    buffer_->Stop();
    buffer_->SetPosition(0);
    // Without fading the source starts at its full level at once.
    if (ch_.no_fade) factor_ = 1.0f;
    ApplyVolume(ch_.no_fade ? std::pow(std::max(Volume(), 0.0f), 0.2f) : 0.0f);
    buffer_->Fill(0, segment_, scratch_.data());
    buffer_->Play(0, plat::kPlayLooping);
    ch_.playing = true;
    return true;
}

uint32_t StreamWorker::DecodeSegment() {
    uint32_t frames = source_.Decode(scratch_.data(), segment_ / block_align_, out_channels_);
    uint32_t bytes = frames * block_align_;
    std::fill(scratch_.begin() + bytes / 2, scratch_.end(), 0);
    return bytes;
}

void StreamWorker::Refill(uint32_t segment_index) {
    uint32_t got = DecodeSegment();
    if (got < segment_ && end_ == End::kPlaying) {
        remaining_ms_ = static_cast<int64_t>(got) * 1000 / bytes_per_second_ + 100;
        end_ = End::kEndWritten;
    }
    buffer_->Fill(segment_index * segment_, segment_, scratch_.data());
}

float StreamWorker::Volume() {
    float v;
    {
        std::lock_guard<std::mutex> guard(ch_.lock);
        v = ch_.volume;
    }
    return v * factor_ * g_stream_channel_volumes[index_].load();
}

void StreamWorker::FadeStep(bool* end_loop) {
    if (fade_ == Fade::kIn) {
        factor_ += 0.15f;
        if (factor_ >= 1.0f) {
            factor_ = 1.0f;
            fade_ = Fade::kNone;
        }
        if (!ch_.no_fade) ApplyVolume(std::pow(std::max(Volume(), 0.0f), 0.2f));
    } else if (fade_ == Fade::kOut) {
        factor_ = std::max(factor_ - 0.15f, 0.0f);
        ApplyVolume(std::pow(std::max(Volume(), 0.0f), 0.2f));
        if (factor_ <= 0.0f) *end_loop = true;
    }
}

StreamWorker::LoopEnd StreamWorker::WaitLoop() {
    bool end_loop = false;
    while (!end_loop) {
        int which = plat::WaitForEvents(events_, static_cast<int>(count_ + 1), 100);
        if (end_ == End::kEnding && TailDone()) break;
        if (which == plat::kWaitTimeout) {
            FadeStep(&end_loop);
            continue;
        }
        if (which > 0) {
            if (end_ == End::kEndWritten) StartTail();
            Refill(static_cast<uint32_t>(which) % count_);
            FadeStep(&end_loop);
            continue;
        }
        const uint32_t bits = ch_.commands.load();
        if (bits & kStreamPosition) {
            std::lock_guard<std::mutex> guard(ch_.lock);
            if (ch_.buffer3d) {
                const float* p = ch_.position;
                ch_.buffer3d->SetPosition(p[0], p[1], p[2], plat::kApplyImmediate);
            }
            ch_.commands.fetch_and(~kStreamPosition);
        }
        if (bits & kStreamVolume) {
            ch_.commands.fetch_and(~kStreamVolume);
            ApplyVolume(Volume());
        }
        if (bits & kStreamStop) return LoopEnd::kStopNow;
        if (bits & kStreamFadeIn) {
            ch_.commands.fetch_and(~kStreamFadeIn);
            fade_ = Fade::kIn;
            // A switch still pending must not wait for an unrelated command.
            if (ch_.commands.load() & kStreamSwitch) plat::SetEvent(events_[0]);
            continue;
        }
        if (bits & kStreamSwitch) {
            ch_.commands.fetch_and(~kStreamSwitch);
            if (ch_.no_fade) break;
            fade_ = Fade::kOut;
            continue;
        }
        FadeStep(&end_loop);
    }
    return LoopEnd::kSourceDone;
}

bool Matches(const Sound* sound, const Sound* held, const std::string& held_path) {
    return sound && held == sound && sound->source_path && held_path == sound->source_path;
}

}  // namespace

void StreamChannel::CreateEventsLocked() {
    for (plat::Event*& e : events)
        if (!e) e = plat::CreateEvent();
}

void StreamChannel::PostCommandLocked(uint32_t bits) {
    if (!running) return;
    CreateEventsLocked();
    commands.fetch_or(bits);
    plat::SetEvent(events[0]);
}

void StreamChannel::PostCommand(uint32_t bits) {
    std::lock_guard<std::mutex> guard(lock);
    PostCommandLocked(bits);
}

uint32_t TakeFinishedStreamChannels() {
    return g_finished_channel_mask.exchange(0);
}

void SetStreamChannelVolume(unsigned channel, float v) {
    if (channel >= kStreamChannelCount) return;
    g_stream_channel_volumes[channel] = v;
    for (StreamChannel& ch : g_stream_channels) {
        std::lock_guard<std::mutex> guard(ch.lock);
        if (!(ch.commands.load() & kStreamVolume)) ch.PostCommandLocked(kStreamVolume);
    }
}

bool StreamChannelIsPlaying(unsigned channel) {
    return channel < kStreamChannelCount && g_stream_channels[channel].playing.load();
}

namespace {

// However the program ends, exit() ends every worker before it destroys
// the statics built before the first one started, which the workers and
// the sounds those statics release rely on.
void StopWorkersAtExit() {
    static const bool registered = std::atexit([] { StopAllStreamChannels(); }) == 0;
    (void)registered;
}

StreamSource SourceOf(const Sound* sound, bool loop, uint32_t start) {
    StreamSource s;
    s.path = sound->source_path;
    s.sound = const_cast<Sound*>(sound);
    s.loop = loop;
    s.start = start;
    return s;
}

}  // namespace

bool StreamPlay(StreamChannel& ch, Sound* sound, bool loop, int32_t start_ms) {
    if (!sound || !sound->source_path) return false;
    const uint32_t start = static_cast<uint32_t>(std::max(start_ms, 0));
    std::lock_guard<std::mutex> guard(ch.lock);
    if (!ch.running) {
        StopWorkersAtExit();
        if (ch.thread) {
            // The last worker has made its exit and is only returning.
            plat::WaitThread(ch.thread, -1);
            plat::CloseThread(ch.thread);
            ch.thread = nullptr;
        }
        ch.current = SourceOf(sound, loop && start_ms >= 0, start);
        ch.queued.path.clear();
        ch.queued.sound = nullptr;
        ch.switch_pending = false;
        ch.commands = 0;
        if (ch.events[0]) plat::ResetEvent(ch.events[0]);
        ch.starter = sound;
        ch.volume = sound->volume;
        std::copy(sound->position, sound->position + 3, ch.position);
        ch.exiting = false;
        ch.running = true;
        ch.thread = plat::CreateThread(WorkerMain, &ch);
        LogPrintf("[STREAM SOUND][%u] : %s", IndexOf(ch), sound->source_path);
        return false;
    }
    if (!ch.exiting && Matches(sound, ch.current.sound, ch.current.path)) {
        // A stop not yet carried out is taken back.
        if (!ch.switch_pending) ch.commands.fetch_and(~kStreamSwitch);
        ch.PostCommandLocked(kStreamFadeIn);
        return false;
    }
    if (ch.exiting || !Matches(sound, ch.queued.sound, ch.queued.path)) {
        ch.queued = SourceOf(sound, loop, start);
        LogPrintf("[STREAM SOUND][%u] : %s", IndexOf(ch), sound->source_path);
    }
    ch.switch_pending = true;
    ch.commands.fetch_and(~kStreamFadeIn);
    ch.PostCommandLocked(kStreamSwitch);
    return false;
}

void StreamStop(StreamChannel& ch, Sound* sound) {
    std::lock_guard<std::mutex> guard(ch.lock);
    if (!ch.running) return;
    bool queued = Matches(sound, ch.queued.sound, ch.queued.path);
    if (!queued && !Matches(sound, ch.current.sound, ch.current.path)) return;
    if (queued) {
        ch.switch_pending = false;
        ch.queued.sound = nullptr;
        ch.queued.path.clear();
    }
    ch.commands.fetch_and(~kStreamFadeIn);
    ch.PostCommandLocked(kStreamSwitch);
}

void StreamSetVolume(StreamChannel& ch, Sound* sound, float v) {
    std::lock_guard<std::mutex> guard(ch.lock);
    if (sound && ch.starter == sound) ch.volume = v;
    if (!(ch.commands.load() & kStreamVolume)) ch.PostCommandLocked(kStreamVolume);
}

void StreamSetPosition(StreamChannel& ch, Sound* sound, const float* position) {
    std::lock_guard<std::mutex> guard(ch.lock);
    if (sound && ch.starter == sound) std::copy(position, position + 3, ch.position);
    if (ch.buffer3d) ch.PostCommandLocked(kStreamPosition);
}

bool StreamIsPlaying(StreamChannel& ch, const Sound* sound) {
    std::lock_guard<std::mutex> guard(ch.lock);
    return ch.running && (Matches(sound, ch.current.sound, ch.current.path) ||
                          Matches(sound, ch.queued.sound, ch.queued.path));
}

void StreamForget(Sound* sound) {
    if (StreamChannel* ch = sound->channel.load()) {
        StreamStop(*ch, sound);
        // Let a fade-out finish, but never wait without end.
        for (int waited = 0; waited < kStopWaitMs; waited += 10) {
            {
                std::lock_guard<std::mutex> guard(ch->lock);
                if (!ch->running || !ch->playing || ch->current.sound != sound) break;
            }
            plat::SleepMs(10);
        }
    }
    for (StreamChannel& ch : g_stream_channels) {
        std::lock_guard<std::mutex> guard(ch.lock);
        if (ch.current.sound == sound) ch.current.sound = nullptr;
        if (ch.queued.sound == sound) {
            ch.queued.sound = nullptr;
            ch.queued.path.clear();
            ch.switch_pending = false;
        }
        if (ch.starter == sound) ch.starter = nullptr;
    }
}

void StopAllStreamChannels() {
    for (StreamChannel& ch : g_stream_channels) {
        plat::Thread* thread;
        {
            std::lock_guard<std::mutex> guard(ch.lock);
            thread = ch.thread;
            ch.thread = nullptr;
            if (ch.running) ch.PostCommandLocked(kStreamStop);
        }
        if (thread && !plat::WaitThread(thread, kStopWaitMs)) {
            bool orphaned = false;
            {
                std::lock_guard<std::mutex> guard(ch.lock);
                if (ch.running) orphaned = ch.orphaned = true;
            }
            if (orphaned) {
                // It tears the channel down itself when it ends.
                LogPrintf("[WARNING] : stream channel %u did not stop in %d ms", IndexOf(ch), kStopWaitMs);
                plat::CloseThread(thread);
                continue;
            }
            plat::WaitThread(thread, -1);  // past its exit already
        }
        plat::CloseThread(thread);
        std::lock_guard<std::mutex> guard(ch.lock);
        ReleaseChannelLocked(ch);
    }
}
