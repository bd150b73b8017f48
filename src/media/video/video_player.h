#pragma once
// Ogg Theora movies (picture only; a movie's sound is a separate streamed
// sound) decoded one frame per call into the one shared movie output: a
// YUY2 texture, a YUY2 off-screen surface stretched into the screen
// target, or a 32-bit texture filled by a software colour conversion.
#include <ogg/ogg.h>
#include <theora/theora.h>

#include <cstdint>

#include "base/byte_stream.h"
#include "base/file_stream.h"

struct Rect;
struct TextureRecord;
namespace plat::gpu {
class Surface;
}

class VideoPlayer {
public:
    // Bytes handed to the Ogg sync layer per read.
    static constexpr uint32_t kReadSize = 4192;
    // Largest coded frame side accepted; larger streams are refused at start.
    static constexpr uint32_t kMaxFrameSide = 4096;

    VideoPlayer();
    ~VideoPlayer();
    VideoPlayer(const VideoPlayer&) = delete;
    VideoPlayer& operator=(const VideoPlayer&) = delete;

    // Buffered: the whole file is read into memory; unbuffered: it is read
    // while playing. 1 when open (at once while a stream is still current),
    // -1 when the file cannot be read.
    int Open(const char* path, bool buffered);
    // Reads the headers and sets up the decoder and the output; true when
    // the player then plays.
    bool Start();
    // Decodes the next frame and uploads it to the output; false at the end
    // of the stream (or when not playing).
    bool Update();
    // Ends playing and logs the frame statistics.
    void Close();

    // Frames per second; 0 when the stream leaves the rate undefined.
    float GetFrameRate() const;
    // The displayed picture's size.
    int32_t GetWidth() const { return int32_t(info_.frame_width); }
    int32_t GetHeight() const { return int32_t(info_.frame_height); }

    bool IsPlaying() const { return playing_; }
    bool IsOpen() const { return stream_ != nullptr; }
    // The granule position of the last frame decoded (-1 before the first)
    // and the time it ends, in seconds.
    int64_t GranulePos() const { return granulePos_; }
    double FrameTime() const { return frameTime_; }
    float FramesDecoded() const { return frames_; }
    float TotalDecodeMs() const { return totalMs_; }
    float LastStepMs() const { return lastStepMs_; }
    // The last frame decoded, planes as the decoder gives them.
    const yuv_buffer& Frame() const { return yuv_; }

private:
    uint32_t ReadData();
    void QueuePage();
    // Clears whatever of the Ogg and Theora state is set up.
    void ReleaseCodec();
    bool FailStart();
    void Upload();

    ogg_sync_state sync_;
    ogg_page page_;
    ogg_stream_state theoraStream_;
    theora_info info_;
    theora_comment comment_;
    theora_state decoder_;
    FileStream file_;
    ByteStream bytes_;
    Stream* stream_ = nullptr;
    ogg_packet packet_;
    yuv_buffer yuv_;
    int theoraHeaders_ = 0;  // 0: no Theora stream; 3: headers complete
    bool headersDone_ = false;
    bool playing_ = false;
    bool buffered_ = false;
    float totalMs_ = 0;
    float frames_ = 0;
    bool frameReady_ = false;
    int64_t granulePos_ = -1;
    double frameTime_ = 0;
    float lastStepMs_ = 0;
    // Which parts of the codec state are set up (each is cleared once).
    bool syncReady_ = false;
    bool infoReady_ = false;
    bool decoderReady_ = false;
};

// The shared movie output.
struct VideoOutput {
    plat::gpu::Surface* surface = nullptr;  // YUY2 off-screen surface, or null
    TextureRecord* texture = nullptr;       // YUY2 or X8R8G8B8 movie texture, or null
    bool software = false;                  // the texture is filled by the software conversion
    int32_t width = 0;
    int32_t height = 0;
};
const VideoOutput& GetVideoOutput();

// Draws the current output into the rectangle (nothing without output).
void DrawVideoFrame(const Rect& rect);
// Releases the output's surface and texture (display reset, shut-down).
void ReleaseVideoOutput();
// The screen-sized render target and whole-screen rectangle that the
// surface output is stretched into and drawn from; set by the display.
void SetVideoScreenTarget(TextureRecord* target, const Rect& screen);

// The one streaming player that streamed video records share.
VideoPlayer* GetSharedVideoPlayer();

// What the resource manager uses for video records (installed at start).
struct ResourceKindOps;
extern const ResourceKindOps kVideoResourceOps;

// One pixel of the software conversion: 0x00RRGGBB.
uint32_t ConvertYuvPixel(int y, int u, int v);
