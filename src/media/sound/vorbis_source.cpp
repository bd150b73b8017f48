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
    // asking again and again at the end of the block runs out too. Past the
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
    m->position += static_cast<uint32_t>(items * size);
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

// What one seek may read: the link a few times over, which every
// well-formed link needs far less than.
uint64_t ScanBudget(uint32_t size) {
    return uint64_t{4} * size + (uint64_t{8} << 10);
}

// What opening one link may read: its headers, its last page found by
// reading back from its end, its first pages again; a few times its size.
uint64_t OpenBudget(uint32_t size) {
    return uint64_t{4} * size + (uint64_t{16} << 10);
}

constexpr size_t kPageHeader = 27;
constexpr size_t kMaxPage = kPageHeader + 255 + 255 * 255;

// The length of the Ogg page at data[at] (its checksum right), else 0.
// Pages are found as libogg finds them, so that vorbisfile reads the same
// pages in a link as this engine does in the whole file. The bytes
// checksummed are taken from work.
size_t PageAt(const uint8_t* data, size_t size, size_t at, uint64_t& work) {
    // libogg takes a page of any version here (and refuses it later).
    if (at + kPageHeader > size || std::memcmp(data + at, "OggS", 4) != 0) return 0;
    const size_t header = kPageHeader + data[at + 26];
    if (at + header > size) return 0;
    size_t body = 0;
    for (size_t i = kPageHeader; i < header; ++i) body += data[at + i];
    if (at + header + body > size || work < header + body) return 0;
    work -= header + body;
    uint8_t copy[kPageHeader + 255];
    std::memcpy(copy, data + at, header);
    ogg_page page{copy, static_cast<long>(header), const_cast<unsigned char*>(data + at + header),
                  static_cast<long>(body)};
    ogg_page_checksum_set(&page);
    return std::memcmp(copy + 22, data + at + 22, 4) == 0 ? header + body : 0;
}

bool BeginsStream(const uint8_t* page) {
    return (page[5] & 2) != 0;
}

// Pages that begin a stream hidden inside other pages: vorbisfile's
// searches start anywhere and would find them, and read a chain this
// engine does not see. Looked for from [from, to); true when one is a page.
bool HidesAStreamStart(const uint8_t* data, size_t size, size_t from, size_t to, int& checks,
                       uint64_t& work) {
    const size_t end = std::min(to + 3, size);  // a capture pattern may run on past to
    while (from < to) {
        const void* found = memmem(data + from, end - from, "OggS", 4);
        if (!found) return false;
        const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(found) - data);
        if (at >= to || at + 6 > size) return false;
        if (BeginsStream(data + at)) {
            // Never so in a file made to be played; past a few the file is
            // taken for made to hide them, without checking them all.
            if (++checks > 16 || work < kMaxPage || PageAt(data, size, at, work) > 0) return true;
        }
        from = at + 1;
    }
    return false;
}

// The most frames a seek reads and drops to land on its frame.
constexpr int64_t kMaxSeekSkip = int64_t{1} << 16;

// What one read of decoded sound may read: from anywhere to the next sound
// packet of the link.
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
    data_ = file_.Data();
    size_ = file_.Size();
    loop_ = loop;
    return OpenBlock(path);
}

bool VorbisSource::OpenMemory(const uint8_t* data, uint32_t size, bool loop, const char* name) {
    Close();
    data_ = data;
    size_ = data ? size : 0;
    loop_ = loop;
    return OpenBlock(name ? name : "(memory)");
}

bool VorbisSource::OpenBlock(const char* name) {
    if (!FindLinks()) {
        LogPrintf("[ERROR] - SOUND : %s is not an Ogg Vorbis file", name);
        Close();
        return false;
    }
    open_ = true;
    if (!ReadLinks(name) || !OpenLink(0)) {
        Close();
        return false;
    }
    return true;
}

bool VorbisSource::FindLinks() {
    links_.clear();
    // A link begins with the pages that begin its streams; the first one
    // with the file.
    bool beginning = false;
    int checks = 0;
    // Made-up page headers, each asking for a checksum over up to 64 KiB,
    // may cost the search a bounded amount, far above what any file made
    // to be played needs (every byte once, and some junk).
    uint64_t work = uint64_t{16} * size_ + (uint64_t{1} << 20);
    for (size_t at = 0; at + kPageHeader <= size_;) {
        const void* found = memmem(data_ + at, size_ - at, "OggS", 4);
        if (!found) break;
        if (work < kMaxPage) return false;
        at = static_cast<size_t>(static_cast<const uint8_t*>(found) - data_);
        const size_t length = PageAt(data_, size_, at, work);
        if (length == 0) {
            ++at;
            continue;
        }
        const bool begins = BeginsStream(data_ + at);
        if (begins && !beginning) {
            if (!links_.empty()) links_.back().end = static_cast<uint32_t>(at);
            Link link;
            link.begin = links_.empty() ? 0 : static_cast<uint32_t>(at);
            links_.push_back(link);
        }
        beginning = begins;
        if (HidesAStreamStart(data_, size_, at + 1, at + length, checks, work)) return false;
        at += length;
    }
    if (links_.empty()) return false;
    links_.back().end = size_;
    return true;
}

bool VorbisSource::OpenLink(size_t link, bool* fresh) {
    if (fresh) *fresh = false;
    if (open_link_ >= 0 && static_cast<size_t>(open_link_) == link) return true;
    open_link_ = -1;
    vf_ = nullptr;
    memory_ = nullptr;
    if (link >= links_.size()) return false;
    Decoder* decoder = nullptr;
    for (auto& kept : decoders_)
        if (kept->link == link) decoder = kept.get();
    if (!decoder) {
        constexpr size_t kKept = 4;
        if (decoders_.size() >= kKept) {
            auto oldest = std::min_element(decoders_.begin(), decoders_.end(),
                                           [](const auto& a, const auto& b) { return a->used < b->used; });
            decoders_.erase(oldest);
        }
        auto made = std::make_unique<Decoder>();
        const Link& l = links_[link];
        made->link = link;
        made->memory = {0, l.end - l.begin, data_ + l.begin, OpenBudget(l.end - l.begin)};
        ov_callbacks callbacks{MemoryRead, MemorySeek, MemoryClose, MemoryTell};
        // vorbisfile clears what it made when it fails (and clearing it
        // again is harmless).
        if (ov_open_callbacks(&made->memory, &made->vf, nullptr, 0, callbacks) != 0) return false;
        // One link holds one chain link; anything else is read otherwise
        // than here.
        if (ov_streams(&made->vf) != 1) return false;
        decoder = made.get();
        decoders_.push_back(std::move(made));
        ++link_opens_;
        if (fresh) *fresh = true;
    }
    decoder->used = ++uses_;
    vf_ = &decoder->vf;
    memory_ = &decoder->memory;
    open_link_ = static_cast<int>(link);
    return true;
}

bool VorbisSource::EnterLink(size_t link) {
    bool fresh = false;
    if (!OpenLink(link, &fresh)) return false;
    if (fresh) return true;
    skip_ = 0;
    // A seek to the first frame keeps the link's decoder; reading on from
    // the first byte would pass its first page and build it anew.
    return SeekOnce([this] { return ov_pcm_seek(vf_, 0); }) == 0 ||
           SeekOnce([this] { return ov_raw_seek(vf_, 0); }) == 0;
}

bool VorbisSource::ReadLinks(const char* name) {
    for (size_t i = 0; i < links_.size(); ++i) {
        if (!OpenLink(i)) {
            LogPrintf("[ERROR] - SOUND : %s is not an Ogg Vorbis file", name);
            return false;
        }
        // libvorbis keeps a link's decoding books once it has tried to
        // build them, even when that failed, and decodes with the broken
        // ones the next time (a division by zero in the residue decoder).
        // Every link's decoder is built once here, before any read or seek:
        // a link whose books cannot be built refuses the file.
        vorbis_info* info = ov_info(vf_, 0);
        vorbis_dsp_state dsp;
        if (!info || vorbis_synthesis_init(&dsp, info) != 0) {
            LogPrintf("[ERROR] - SOUND : %s has a damaged Vorbis setup header", name);
            return false;
        }
        vorbis_dsp_clear(&dsp);
        if (info->channels < 1 || info->rate < 100 || info->rate > 200000) {
            LogPrintf("[ERROR] - SOUND : %s has an unsupported format", name);
            return false;
        }
        if (i == 0) {
            channels_ = info->channels;
            rate_ = static_cast<uint32_t>(info->rate);
        }
        Link& link = links_[i];
        link.rate = static_cast<uint32_t>(info->rate);
        // Lengths past any real sound (damaged granule positions) are cut
        // short, so that the sums below cannot overflow.
        link.frames = std::clamp<int64_t>(ov_pcm_total(vf_, 0), 0, kMaxLinkFrames);
        mixed_rates_ = mixed_rates_ || link.rate != rate_;
        link.out_start = i == 0 ? 0 : std::min(links_[i - 1].out_start + links_[i - 1].out_frames, INT64_MAX / 2);
        link.out_frames = static_cast<int64_t>(std::min<uint64_t>(
            Resampler::OutputFrames(static_cast<uint64_t>(link.frames), link.rate, rate_), kMaxLinkFrames));
    }
    return true;
}

template <typename Seek>
int VorbisSource::SeekOnce(Seek seek) {
    memory_->budget = ScanBudget(memory_->size);
    return seek();
}

void VorbisSource::Close() {
    decoders_.clear();
    vf_ = nullptr;
    memory_ = nullptr;
    open_link_ = -1;
    open_ = false;
    channels_ = 0;
    rate_ = 0;
    data_ = nullptr;
    size_ = 0;
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
    return links_.back().out_start + links_.back().out_frames;
}

bool VorbisSource::SeekFrame(int64_t frame) {
    if (!open_) return false;
    // The link the frame lies in; the end of the file is the end of its
    // last link.
    size_t link = links_.size();
    for (size_t i = 0; i < links_.size() && link == links_.size(); ++i)
        if (frame >= links_[i].out_start && frame < links_[i].out_start + links_[i].out_frames) link = i;
    if (link == links_.size() && frame == TotalFrames() && !mixed_rates_) link = links_.size() - 1;
    if (link == links_.size()) return false;
    // Where the frame lies in the link's own frames; a link of another
    // rate is entered far enough ahead for the resampler's window.
    const Link& l = links_[link];
    const uint64_t output = static_cast<uint64_t>(frame - l.out_start);
    const uint64_t input = l.rate != rate_ ? resampler_.Start(l.rate, rate_, output) : output;
    pending_.clear();
    pending_at_ = 0;
    const bool ok = OpenLink(link) && SeekExactly(static_cast<int64_t>(input));
    link_ = ok && mixed_rates_ ? static_cast<int>(link) : -1;
    return ok;
}

bool VorbisSource::SeekExactly(int64_t target) {
    skip_ = 0;
    int64_t aim = target;
    for (int tries = 0; tries < 3; ++tries) {
        if (SeekOnce([this, aim] { return ov_pcm_seek(vf_, aim); }) != 0) return false;
        const int64_t landed = ov_pcm_tell(vf_);
        if (landed <= target) {
            if (landed >= 0 && target - landed <= kMaxSeekSkip) skip_ = target - landed;
            return true;
        }
        // Should vorbisfile land past its target, it seeks again from
        // further back.
        if (aim <= 0) break;
        aim = std::max<int64_t>(0, aim - 2 * std::min(landed - target, kMaxSeekSkip) - 1024);
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
    const uint64_t opens = link_opens_;
    while (done < max_frames && open_link_ >= 0) {
        vorbis_info* info = ov_info(vf_, -1);
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
        // A link whose pages hold no sound ends the read here.
        memory_->budget = ReadBudget(memory_->size);
        long got = ov_read(vf_, reinterpret_cast<char*>(scratch), static_cast<int>(want * channels * 2), 0,
                           2, 1, &section);
        if (got == 0) {
            // The end of a link: what a resampled one still owes.
            EndLinkRun();
            done += TakePending(out + static_cast<size_t>(done) * out_channels, max_frames - done, out_channels);
            if (static_cast<size_t>(open_link_) + 1 < links_.size()) {
                skip_ = 0;
                if (EnterLink(static_cast<size_t>(open_link_) + 1)) continue;
                break;
            }
            // A looping file starts over (not twice without sound in
            // between, or a file with none would go round for ever, and a
            // bounded number of times, opening a bounded number of links'
            // decoders: a chain of many links with little sound would
            // build them round and round).
            if (loop_ && !restarted && restarts < 256 && link_opens_ - opens < 256 && done < max_frames &&
                EnterLink(0)) {
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
        info = ov_info(vf_, -1);
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
        done += Deliver(pcm, frames, section_channels, open_link_, out + static_cast<size_t>(done) * out_channels,
                        max_frames - done, out_channels);
    }
    return done;
}
