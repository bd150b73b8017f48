#include "media/sound/vorbis_source.h"

#include <algorithm>
#include <cerrno>
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
// order): L left, R right, C both at half, N nowhere (low frequency).
const char* FoldRoles(int channels) {
    switch (channels) {
        case 3:
            return "LCR";
        case 4:
            return "LRLR";
        case 5:
            return "LCRLR";
        case 6:
            return "LCRLRN";
        case 7:
            return "LCRLRCN";
        case 8:
            return "LCRLRLRN";
        default:
            return nullptr;  // beyond eight: alternately left and right
    }
}

inline int16_t Clamp16(int v) {
    return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}

void Convert(const int16_t* in, uint32_t frames, int in_channels, int16_t* out, int out_channels) {
    const char* roles = FoldRoles(in_channels);
    for (uint32_t f = 0; f < frames; ++f, in += in_channels, out += out_channels) {
        int left, right;
        if (in_channels == 1) {
            left = right = in[0];
        } else if (in_channels == 2) {
            left = in[0];
            right = in[1];
        } else {
            left = right = 0;
            for (int c = 0; c < in_channels; ++c) {
                char role = roles ? roles[c] : (c % 2 ? 'R' : 'L');
                if (role == 'L')
                    left += in[c];
                else if (role == 'R')
                    right += in[c];
                else if (role == 'C') {
                    left += in[c] / 2;
                    right += in[c] / 2;
                }
            }
        }
        if (out_channels == 2) {
            out[0] = Clamp16(left);
            out[1] = Clamp16(right);
        } else {
            out[0] = in_channels == 1 ? in[0] : Clamp16(left + right);
        }
    }
}

// What one open or seek may read: the file a few times over, which every
// well-formed file needs far less than.
uint64_t ScanBudget(uint32_t size) {
    return uint64_t{4} * size + (uint64_t{8} << 10);
}

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
    memory_.budget = ScanBudget(memory_.size);
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
    vorbis_info* info = ov_info(&vf_, -1);
    if (!info || info->channels < 1 || info->rate < 100 || info->rate > 200000) {
        LogPrintf("[ERROR] - SOUND : %s has an unsupported format", name);
        Close();
        return false;
    }
    channels_ = info->channels;
    rate_ = static_cast<uint32_t>(info->rate);
    return true;
}

void VorbisSource::Close() {
    if (open_) ov_clear(&vf_);
    open_ = false;
    channels_ = 0;
    rate_ = 0;
    memory_ = {};
    file_.Close();
}

int64_t VorbisSource::TotalFrames() {
    return open_ ? ov_pcm_total(&vf_, -1) : -1;
}

bool VorbisSource::SeekFrame(int64_t frame) {
    if (!open_) return false;
    // A seek reads on from a page to its frame; in a looping file whose
    // pages promise more frames than they hold it would read round and
    // round for ever. Seeks read the file once.
    const bool loop = memory_.loop;
    memory_.loop = false;
    memory_.budget = ScanBudget(memory_.size);
    const bool ok = ov_pcm_seek(&vf_, frame) == 0;
    memory_.loop = loop;
    return ok;
}

uint32_t VorbisSource::Decode(int16_t* out, uint32_t max_frames, int out_channels) {
    if (!open_ || !out || (out_channels != 1 && out_channels != 2)) return 0;
    int16_t scratch[4096];
    uint32_t done = 0;
    int failures = 0;
    while (done < max_frames) {
        vorbis_info* info = ov_info(&vf_, -1);
        int channels = info && info->channels > 0 ? info->channels : channels_;
        uint32_t want = std::min<uint32_t>(max_frames - done, 4096 / channels);
        if (want == 0) break;
        int section = 0;
        // A looping file whose pages hold no sound ends the read here.
        memory_.budget = ReadBudget(memory_.size);
        long got = ov_read(&vf_, reinterpret_cast<char*>(scratch), static_cast<int>(want * channels * 2), 0,
                           2, 1, &section);
        if (got == 0 || got == OV_EREAD) break;
        if (got < 0) {
            // Holes and bad pages are skipped; a stream that only fails ends.
            if (++failures > 64) break;
            continue;
        }
        failures = 0;
        info = ov_info(&vf_, section);
        int section_channels = info && info->channels > 0 ? info->channels : channels;
        uint32_t frames =
            std::min<uint32_t>(static_cast<uint32_t>(got) / (section_channels * 2), max_frames - done);
        Convert(scratch, frames, section_channels, out + static_cast<size_t>(done) * out_channels,
                out_channels);
        done += frames;
    }
    return done;
}
