#pragma once
// An Ogg Vorbis file held whole in memory and decoded through vorbisfile,
// optionally looping (reads start over at the end), converted to 16-bit PCM
// of one or two channels whatever the file carries. The links of a chained
// file play at the first link's rate: links of other rates are resampled,
// so every link keeps its length and pitch.
//
// The links of a chain are found here, by one pass over its pages, and
// vorbisfile sees one link at a time: its own walk of a chain costs each
// link a search over the rest of the file, and a chain it fails to open
// part-way through leaves the setup of every link it had read allocated.
#include <vorbis/vorbisfile.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "base/byte_stream.h"
#include "media/sound/resampler.h"

// The memory block (one link of the file) the vorbisfile callbacks read
// from.
struct VorbisMemoryFile {
    uint32_t position = 0;
    uint32_t size = 0;
    const uint8_t* data = nullptr;
    // Bytes the decoder may still read in the current open, seek or decode
    // call: pages that promise what they do not hold would otherwise send
    // its searches back and forth.
    uint64_t budget = 0;
};

class VorbisSource {
public:
    VorbisSource() = default;
    ~VorbisSource() { Close(); }
    VorbisSource(const VorbisSource&) = delete;
    VorbisSource& operator=(const VorbisSource&) = delete;

    // Reads the whole file (packages first). False, with a log line, when it
    // cannot be read or is not Ogg Vorbis.
    bool OpenFile(const char* path, bool loop);
    // Decodes from a block the caller keeps alive until Close.
    bool OpenMemory(const uint8_t* data, uint32_t size, bool loop, const char* name);
    void Close();
    bool IsOpen() const { return open_; }

    int Channels() const { return channels_; }  // of the first section
    uint32_t Rate() const { return rate_; }     // of the first section: every frame's
    int64_t TotalFrames();  // at Rate(); negative when unknown
    bool SeekFrame(int64_t frame);

    // Decodes up to max_frames frames of out_channels (1 or 2) channels.
    // More channels are folded down to stereo frame by frame with weights
    // that keep full scale within full scale, and to mono by the mean of that
    // fold; stereo to mono is the clamped sum of left and right (the mean in
    // a file whose first link is mono).
    // Returns the frames written; fewer than asked only at the end of the
    // stream.
    uint32_t Decode(int16_t* out, uint32_t max_frames, int out_channels);

private:
    // One link of a chained file: its bytes, its length in its own frames,
    // and where it starts and how long it is at Rate().
    struct Link {
        uint32_t begin = 0;
        uint32_t end = 0;
        int64_t frames = 0;
        int64_t out_start = 0;
        int64_t out_frames = 0;
        uint32_t rate = 0;
    };

    bool OpenBlock(const char* name);
    // Finds the links' bytes (links_); false when the block is not one
    // chain of Ogg pages that vorbisfile would read as this engine does.
    bool FindLinks();
    // vorbisfile on one link: the link's bytes and the decoder.
    struct Decoder {
        size_t link = 0;
        uint64_t used = 0;  // when last made the current one
        VorbisMemoryFile memory;
        OggVorbis_File vf{};
        ~Decoder() { ov_clear(&vf); }
    };

    // Makes a link's decoder the current one, opening it unless it is one
    // of the few kept; fresh tells whether it was opened (and stands at
    // its start).
    bool OpenLink(size_t link, bool* fresh = nullptr);
    // Makes a link's decoder the current one, at its first frame.
    bool EnterLink(size_t link);
    // Opens every link once for its format and length.
    bool ReadLinks(const char* name);
    // Runs a vorbisfile seek within a read bound.
    template <typename Seek>
    int SeekOnce(Seek seek);
    // Seeks to a frame of the open link so that the next frame decoded is
    // that one: frames before it that the seek lands on are dropped
    // (skip_).
    bool SeekExactly(int64_t target);
    // Moves held frames to out; converts them first when asked for another
    // channel count than they were made for.
    uint32_t TakePending(int16_t* out, uint32_t max_frames, int out_channels);
    // Hands frames of one link on: straight to out when at Rate() and
    // nothing is held, else through the held frames (and the resampler).
    uint32_t Deliver(const int16_t* pcm, uint32_t frames, int channels, int link, int16_t* out,
                     uint32_t room, int out_channels);
    // Whether link_ is read through the resampler.
    bool Resampling() const;
    // Ends the run of link_: the resampler hands on what it still owes.
    void EndLinkRun();

    ByteStream file_;
    const uint8_t* data_ = nullptr;  // the whole file
    uint32_t size_ = 0;
    bool loop_ = false;
    // The decoders of the links read last, kept so that a looping chain of
    // a few links does not build its links' decoders over and over.
    std::vector<std::unique_ptr<Decoder>> decoders_;
    uint64_t uses_ = 0;
    uint64_t link_opens_ = 0;  // decoders opened
    VorbisMemoryFile* memory_ = nullptr;  // of the current decoder
    OggVorbis_File* vf_ = nullptr;
    int open_link_ = -1;  // the link vf_ reads, -1 when none
    bool open_ = false;
    int channels_ = 0;
    uint32_t rate_ = 0;
    std::vector<Link> links_;
    bool mixed_rates_ = false;  // some link has another rate than the first
    int link_ = -1;             // the link read last, -1 before any
    int64_t skip_ = 0;          // frames still to drop after a seek
    Resampler resampler_;
    std::vector<int16_t> pending_;  // frames decoded but not yet handed out
    size_t pending_at_ = 0;         // in samples
    int pending_channels_ = 0;
    std::vector<int16_t> converted_;
};
