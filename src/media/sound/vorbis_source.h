#pragma once
// An Ogg Vorbis file held whole in memory and decoded through vorbisfile,
// optionally looping (reads wrap to the start of the file), converted to
// 16-bit PCM of one or two channels whatever the file carries.
#include <vorbis/vorbisfile.h>

#include <cstdint>

#include "base/byte_stream.h"

// The memory block the vorbisfile callbacks read from.
struct VorbisMemoryFile {
    uint32_t position = 0;
    uint32_t size = 0;
    const uint8_t* data = nullptr;
    bool loop = false;
    // Bytes the decoder may still read in the current open, seek or decode
    // call: a looping file never ends, and pages that promise what they do
    // not hold would otherwise be read round and round.
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
    uint32_t Rate() const { return rate_; }
    int64_t TotalFrames();  // negative when unknown
    bool SeekFrame(int64_t frame);

    // Decodes up to max_frames frames of out_channels (1 or 2) channels.
    // More channels are folded down to stereo frame by frame; stereo to mono
    // is the clamped sum of left and right. Returns the frames written; fewer
    // than asked only at the end of the stream.
    uint32_t Decode(int16_t* out, uint32_t max_frames, int out_channels);

private:
    bool OpenBlock(const char* name);

    ByteStream file_;
    VorbisMemoryFile memory_;
    OggVorbis_File vf_{};
    bool open_ = false;
    int channels_ = 0;
    uint32_t rate_ = 0;
};
