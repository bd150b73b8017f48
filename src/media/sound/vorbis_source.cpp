#include "media/sound/vorbis_source.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/log.h"

namespace {

size_t MemoryRead(void* ptr, size_t size, size_t count, void* source) {
    auto* m = static_cast<VorbisMemoryFile*>(source);
    if (size == 0 || m->size == 0 || m->position > m->size) return 0;
    size_t items = std::min(static_cast<size_t>(m->size - m->position) / size, count);
    // Every call costs a byte of the bound besides the bytes it reads, so
    // asking again and again at the end of the file runs out too. Past the
    // bound a read fails, which the decoder gives up on (an end of file
    // would only send its page search round again).
    if (m->budget < 1 + (items > 0 ? size : 0)) {
        errno = EIO;
        return 0;
    }
    --m->budget;
    items = static_cast<size_t>(std::min<uint64_t>(items, m->budget / size));
    m->budget -= items * size;
    std::memcpy(ptr, m->data + m->position, items * size);
    uint64_t next = static_cast<uint64_t>(m->position) + items * size;
    // A looping file reads on from its start, which the decoder takes as a
    // new section of the same stream.
    m->position = static_cast<uint32_t>(m->loop ? next % m->size : std::min<uint64_t>(next, m->size));
    return items;
}

int MemorySeek(void* source, ogg_int64_t offset, int whence) {
    auto* m = static_cast<VorbisMemoryFile*>(source);
    int64_t base;
    switch (whence) {
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = m->position;
            break;
        case SEEK_END:
            base = m->size;
            break;
        default:
            return -1;
    }
    // Clamped to the block, from the end too.
    if (offset > static_cast<int64_t>(m->size)) offset = m->size;
    if (offset < -static_cast<int64_t>(m->size)) offset = -static_cast<int64_t>(m->size);
    m->position = static_cast<uint32_t>(std::clamp<int64_t>(base + offset, 0, m->size));
    return 0;
}

int MemoryClose(void*) {
    return 0;
}

long MemoryTell(void* source) {
    return static_cast<long>(static_cast<VorbisMemoryFile*>(source)->position);
}

// Where each channel of a file with more than two goes (Vorbis channel
// order): L left, R right, C both, l and r the surrounds of each side, B
// the back centre on both, N nowhere (low frequency).
const char* FoldRoles(int channels) {
    switch (channels) {
        case 3:
            return "LCR";
        case 4:
            return "LRlr";
        case 5:
            return "LCRlr";
        case 6:
            return "LCRlrN";
        case 7:
            return "LCRlrBN";
        case 8:
            return "LCRlrlrN";
        default:
            return nullptr;  // beyond eight: alternately left and right
    }
}

// Stereo weights of each channel: fronts in full, centre and surrounds at
// -3 dB, the back centre at -6 dB, and each side's weights divided by their
// sum, so that full scale on every channel stays within full scale.
struct FoldWeights {
    float left[256];
    float right[256];

    explicit FoldWeights(int channels) {
        const char* roles = FoldRoles(channels);
        constexpr float kHalfPower = 0.70710678f;
        float left_sum = 0, right_sum = 0;
        for (int c = 0; c < channels && c < 256; ++c) {
            const char role = roles ? roles[c] : (c % 2 ? 'R' : 'L');
            float l = 0, r = 0;
            switch (role) {
                case 'L':
                    l = 1;
                    break;
                case 'R':
                    r = 1;
                    break;
                case 'C':
                    l = r = kHalfPower;
                    break;
                case 'l':
                    l = kHalfPower;
                    break;
                case 'r':
                    r = kHalfPower;
                    break;
                case 'B':
                    l = r = 0.5f;
                    break;
                default:
                    break;
            }
            left[c] = l;
            right[c] = r;
            left_sum += l;
            right_sum += r;
        }
        for (int c = 0; c < channels && c < 256; ++c) {
            if (left_sum > 0) left[c] /= left_sum;
            if (right_sum > 0) right[c] /= right_sum;
        }
    }
};

inline int16_t Clamp16(int v) {
    return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}

// mono_mean: stereo to mono by the mean of left and right instead of their
// sum. More channels always go to mono by the mean of their stereo fold.
void Convert(const int16_t* in, uint32_t frames, int in_channels, int16_t* out, int out_channels,
             bool mono_mean) {
    if (in_channels > 2) {
        const FoldWeights fold(in_channels);
        for (uint32_t f = 0; f < frames; ++f, in += in_channels, out += out_channels) {
            float l = 0, r = 0;
            for (int c = 0; c < in_channels; ++c) {
                l += fold.left[c] * in[c];
                r += fold.right[c] * in[c];
            }
            const int left = static_cast<int>(std::lrint(l)), right = static_cast<int>(std::lrint(r));
            if (out_channels == 2) {
                out[0] = Clamp16(left);
                out[1] = Clamp16(right);
            } else {
                out[0] = Clamp16((left + right) / 2);  // within full scale too
            }
        }
        return;
    }
    for (uint32_t f = 0; f < frames; ++f, in += in_channels, out += out_channels) {
        int left, right;
        if (in_channels == 1) {
            left = right = in[0];
        } else {
            left = in[0];
            right = in[1];
        }
        if (out_channels == 2) {
            out[0] = Clamp16(left);
            out[1] = Clamp16(right);
        } else if (in_channels == 1) {
            out[0] = in[0];
        } else {
            out[0] = Clamp16(mono_mean ? (left + right) / 2 : left + right);
        }
    }
}

// Longer than any link that holds sound (some 200 years at 44.1 kHz).
constexpr int64_t kMaxLinkFrames = int64_t{1} << 48;

// What one seek may read: the file a few times over, which every
// well-formed file needs far less than.
uint64_t ScanBudget(uint32_t size) {
    return uint64_t{4} * size + (uint64_t{8} << 10);
}

// The pages that begin a Vorbis stream: one per link of a chained file.
uint32_t CountLinks(const uint8_t* data, uint32_t size) {
    constexpr size_t kHeader = 27;
    uint32_t links = 0;
    for (size_t at = 0; at + kHeader <= size;) {
        const void* found = memmem(data + at, size - at, "OggS", 4);
        if (!found) break;
        at = static_cast<size_t>(static_cast<const uint8_t*>(found) - data);
        if (at + kHeader > size) break;
        const uint8_t* page = data + at;
        const size_t body = at + kHeader + page[26];
        if (page[4] == 0 && (page[5] & 2) && body + 7 <= size && std::memcmp(data + body, "\x01vorbis", 7) == 0)
            ++links;
        at += 4;
    }
    return links;
}

// What opening may read. The decoder scans each link of a chain for its
// end, reading back from there in steps of 64 KiB, so a chain of short
// links costs it up to some 64 KiB a link (17 times the file for 64 links
// of 4 KiB): each link beyond the first adds 128 KiB, up to 64 times the
// file, which a link of 1 KiB on average would need (a Vorbis setup
// header alone is larger). Pages that only pretend to begin links buy a
// hostile file no more than that.
uint64_t OpenBudget(uint32_t size, uint32_t links) {
    const uint64_t extra = uint64_t{links > 1 ? links - 1 : 0} * (uint64_t{128} << 10);
    return ScanBudget(size) + std::min(extra, uint64_t{64} * size);
}

// The most frames a seek reads and drops to land on its frame.
constexpr int64_t kMaxSeekSkip = int64_t{1} << 16;

// What one read of decoded sound may read: from anywhere to the next sound
// packet, round the end of a looping file once.
uint64_t ReadBudget(uint32_t size) {
    return uint64_t{2} * size + (uint64_t{64} << 10);
}

}  // namespace

bool VorbisSource::OpenFile(const char* path, bool loop) {
    Close();
    if (!path || !file_.LoadFile(path)) {
        LogPrintf("[ERROR] - SOUND FILE : %s", path ? path : "(null)");
        return false;
    }
    memory_ = {0, file_.Size(), file_.Data(), loop};
    return OpenBlock(path);
}

bool VorbisSource::OpenMemory(const uint8_t* data, uint32_t size, bool loop, const char* name) {
    Close();
    memory_ = {0, data ? size : 0, data, loop};
    return OpenBlock(name ? name : "(memory)");
}

bool VorbisSource::OpenBlock(const char* name) {
    ov_callbacks callbacks{MemoryRead, MemorySeek, MemoryClose, MemoryTell};
    memory_.budget = OpenBudget(memory_.size, CountLinks(memory_.data, memory_.size));
    if (memory_.size == 0 || ov_open_callbacks(&memory_, &vf_, nullptr, 0, callbacks) != 0) {
        LogPrintf("[ERROR] - SOUND : %s is not an Ogg Vorbis file", name);
        file_.Close();
        return false;
    }
    open_ = true;
    // libvorbis keeps a link's decoding books once it has tried to build
    // them, even when that failed, and decodes with the broken ones the
    // next time (a division by zero in the residue decoder). Every link's
    // decoder is built once here, before any read or seek: a link whose
    // books cannot be built refuses the file.
    for (long link = 0; link < ov_streams(&vf_); ++link) {
        vorbis_info* vi = ov_info(&vf_, static_cast<int>(link));
        vorbis_dsp_state dsp;
        if (!vi || vorbis_synthesis_init(&dsp, vi) != 0) {
            LogPrintf("[ERROR] - SOUND : %s has a damaged Vorbis setup header", name);
            Close();
            return false;
        }
        vorbis_dsp_clear(&dsp);
    }
    if (ov_streams(&vf_) > 1) {
        // vorbisfile opens a chained file past its first link when all of
        // that link's sound is in one page; from the start it plays it.
        SeekOnce([this] { return ov_raw_seek(&vf_, 0); });
    }
    return ReadLinks(name);
}

template <typename Seek>
int VorbisSource::SeekOnce(Seek seek) {
    // A seek reads on from a page to its frame; in a looping file whose
    // pages promise more frames than they hold it would read round and
    // round for ever. Seeks read the file once.
    const bool loop = memory_.loop;
    memory_.loop = false;
    memory_.budget = ScanBudget(memory_.size);
    const int result = seek();
    memory_.loop = loop;
    return result;
}

bool VorbisSource::ReadLinks(const char* name) {
    const long count = ov_streams(&vf_);
    links_.clear();
    for (long i = 0; i < count; ++i) {
        vorbis_info* info = ov_info(&vf_, static_cast<int>(i));
        if (!info || info->channels < 1 || info->rate < 100 || info->rate > 200000) {
            LogPrintf("[ERROR] - SOUND : %s has an unsupported format", name);
            Close();
            return false;
        }
        Link link;
        link.rate = static_cast<uint32_t>(info->rate);
        // Lengths past any real sound (damaged granule positions) are cut
        // short, so that the sums below cannot overflow.
        link.start = links_.empty() ? 0 : std::min(links_.back().start + links_.back().frames, INT64_MAX / 2);
        link.frames = std::clamp<int64_t>(ov_pcm_total(&vf_, static_cast<int>(i)), 0, kMaxLinkFrames);
        links_.push_back(link);
    }
    if (links_.empty()) {
        LogPrintf("[ERROR] - SOUND : %s has an unsupported format", name);
        Close();
        return false;
    }
    vorbis_info* first = ov_info(&vf_, 0);
    channels_ = first->channels;
    rate_ = links_[0].rate;
    int64_t out_start = 0;
    for (Link& link : links_) {
        mixed_rates_ = mixed_rates_ || link.rate != rate_;
        link.out_start = out_start;
        link.out_frames = static_cast<int64_t>(std::min<uint64_t>(
            Resampler::OutputFrames(static_cast<uint64_t>(link.frames), link.rate, rate_), kMaxLinkFrames));
        out_start = std::min(out_start + link.out_frames, INT64_MAX / 2);
    }
    return true;
}

void VorbisSource::Close() {
    if (open_) ov_clear(&vf_);
    open_ = false;
    channels_ = 0;
    rate_ = 0;
    memory_ = {};
    file_.Close();
    links_.clear();
    mixed_rates_ = false;
    link_ = -1;
    skip_ = 0;
    pending_.clear();
    pending_at_ = 0;
}

int64_t VorbisSource::TotalFrames() {
    if (!open_) return -1;
    if (!mixed_rates_) return ov_pcm_total(&vf_, -1);
    return links_.back().out_start + links_.back().out_frames;
}

bool VorbisSource::SeekFrame(int64_t frame) {
    if (!open_) return false;
    // The link the frame lies in; at Rate() throughout when no link has
    // another rate.
    int link = -1;
    for (size_t i = 0; i < links_.size() && link < 0; ++i)
        if (frame >= links_[i].out_start && frame < links_[i].out_start + links_[i].out_frames)
            link = static_cast<int>(i);
    // Where the frame lies in the file's own frames; a link of another
    // rate is entered far enough ahead for the resampler's window.
    int64_t target = frame;
    if (mixed_rates_) {
        if (link < 0) return false;
        const Link& l = links_[static_cast<size_t>(link)];
        const uint64_t output = static_cast<uint64_t>(frame - l.out_start);
        const uint64_t input = l.rate != rate_ ? resampler_.Start(l.rate, rate_, output) : output;
        target = l.start + static_cast<int64_t>(input);
    }
    pending_.clear();
    pending_at_ = 0;
    const bool ok = SeekExactly(target, link >= 0 ? links_[static_cast<size_t>(link)].start : target);
    link_ = ok && mixed_rates_ ? link : -1;
    return ok;
}

bool VorbisSource::SeekExactly(int64_t target, int64_t floor) {
    skip_ = 0;
    int64_t aim = target;
    for (int tries = 0; tries < 3; ++tries) {
        if (SeekOnce([this, aim] { return ov_pcm_seek(&vf_, aim); }) != 0) return false;
        const int64_t landed = ov_pcm_tell(&vf_);
        if (landed <= target) {
            if (landed >= 0 && target - landed <= kMaxSeekSkip) skip_ = target - landed;
            return true;
        }
        // vorbisfile judges the frames a seek must decode ahead by the
        // first link's longest block: in a link whose blocks are longer it
        // lands up to half a block past its target (and says where).
        if (aim <= floor) break;
        aim = std::max(floor, aim - 2 * std::min(landed - target, kMaxSeekSkip) - 1024);
    }
    return true;  // as near as the file lets it come
}

bool VorbisSource::Resampling() const {
    return link_ >= 0 && static_cast<size_t>(link_) < links_.size() && links_[static_cast<size_t>(link_)].rate != rate_;
}

void VorbisSource::EndLinkRun() {
    if (Resampling()) resampler_.Finish(pending_);
    link_ = -1;
}

uint32_t VorbisSource::TakePending(int16_t* out, uint32_t max_frames, int out_channels) {
    if (pending_at_ >= pending_.size() || pending_channels_ == 0) return 0;
    const size_t held = (pending_.size() - pending_at_) / pending_channels_;
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(held, max_frames));
    Convert(pending_.data() + pending_at_, n, pending_channels_, out, out_channels, channels_ == 1);
    pending_at_ += static_cast<size_t>(n) * pending_channels_;
    if (pending_at_ >= pending_.size()) {
        pending_.clear();
        pending_at_ = 0;
    }
    return n;
}

uint32_t VorbisSource::Deliver(const int16_t* pcm, uint32_t frames, int channels, int link, int16_t* out,
                               uint32_t room, int out_channels) {
    const bool mono_mean = channels_ == 1;
    if (link != link_) {
        EndLinkRun();
        link_ = link;
        if (Resampling()) resampler_.Start(links_[static_cast<size_t>(link)].rate, rate_);
    }
    const bool resampling = Resampling();
    // Frames held are of the channel count asked for when they were made.
    if (pending_at_ < pending_.size() && pending_channels_ != out_channels) {
        const uint32_t held = static_cast<uint32_t>((pending_.size() - pending_at_) / pending_channels_);
        converted_.resize(static_cast<size_t>(held) * out_channels);
        Convert(pending_.data() + pending_at_, held, pending_channels_, converted_.data(), out_channels,
                mono_mean);
        pending_.assign(converted_.begin(), converted_.end());
        pending_at_ = 0;
    }
    pending_channels_ = out_channels;
    uint32_t direct = 0;
    if (!resampling && pending_.empty()) {
        direct = std::min(frames, room);
        Convert(pcm, direct, channels, out, out_channels, mono_mean);
        pcm += static_cast<size_t>(direct) * channels;
        frames -= direct;
        if (frames == 0) return direct;
    }
    converted_.resize(static_cast<size_t>(frames) * out_channels);
    Convert(pcm, frames, channels, converted_.data(), out_channels, mono_mean);
    if (resampling)
        resampler_.Push(converted_.data(), frames, out_channels, pending_);
    else
        pending_.insert(pending_.end(), converted_.begin(), converted_.end());
    return direct + TakePending(out + static_cast<size_t>(direct) * out_channels, room - direct, out_channels);
}

uint32_t VorbisSource::Decode(int16_t* out, uint32_t max_frames, int out_channels) {
    if (!open_ || !out || (out_channels != 1 && out_channels != 2)) return 0;
    int16_t scratch[4096];
    uint32_t done = TakePending(out, max_frames, out_channels);
    int failures = 0;
    bool restarted = false;
    int restarts = 0;
    while (done < max_frames) {
        vorbis_info* info = ov_info(&vf_, -1);
        int channels = info && info->channels > 0 ? info->channels : channels_;
        uint32_t want = std::min<uint32_t>(max_frames - done, 4096 / channels);
        if (skip_ > 0) {
            want = static_cast<uint32_t>(std::min<int64_t>(skip_, 4096 / channels));
        } else if (Resampling()) {
            // No more of a resampled link than the frames asked for need.
            const uint64_t need = uint64_t{max_frames - done} * links_[static_cast<size_t>(link_)].rate / rate_;
            want = static_cast<uint32_t>(std::clamp<uint64_t>(need + 1, 1, want));
        }
        if (want == 0) break;
        int section = 0;
        // A looping file whose pages hold no sound ends the read here.
        memory_.budget = ReadBudget(memory_.size);
        long got = ov_read(&vf_, reinterpret_cast<char*>(scratch), static_cast<int>(want * channels * 2), 0,
                           2, 1, &section);
        if (got == 0) {
            // The end: what a resampled last link still owes.
            EndLinkRun();
            done += TakePending(out + static_cast<size_t>(done) * out_channels, max_frames - done, out_channels);
            // A looping file reads round by itself, except after a seek:
            // then vorbisfile stops at its end, and it starts over here
            // (not twice without sound in between, or a file with none
            // would go round for ever, and a bounded number of times).
            if (memory_.loop && !restarted && restarts < 256 && done < max_frames &&
                SeekOnce([this] { return ov_raw_seek(&vf_, 0); }) == 0) {
                skip_ = 0;
                restarted = true;
                ++restarts;
                continue;
            }
            break;
        }
        if (got == OV_EREAD) break;
        if (got < 0) {
            // Holes and bad pages are skipped; a stream that only fails ends.
            if (++failures > 64) break;
            continue;
        }
        failures = 0;
        info = ov_info(&vf_, section);
        int section_channels = info && info->channels > 0 ? info->channels : channels;
        uint32_t frames = static_cast<uint32_t>(got) / (section_channels * 2);
        if (frames > 0) restarted = false;
        const int16_t* pcm = scratch;
        if (skip_ > 0) {
            // What a seek landed ahead of its frame is dropped.
            const uint32_t drop = static_cast<uint32_t>(std::min<int64_t>(skip_, frames));
            skip_ -= drop;
            frames -= drop;
            pcm += static_cast<size_t>(drop) * section_channels;
            if (frames == 0) continue;
        }
        done += Deliver(pcm, frames, section_channels, section, out + static_cast<size_t>(done) * out_channels,
                        max_frames - done, out_channels);
    }
    return done;
}
