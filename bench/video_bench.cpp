// Theora movie decoding: the player's frame step (Ogg reading, packet
// decoding and frame hand-out) against a plain libtheora decode loop over
// the same bytes in memory.
#include <benchmark/benchmark.h>
#include <ogg/ogg.h>
#include <theora/theora.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "timed.h"
#include "../tools/theora_frames.h"
#include "media/video/video_player.h"
#include "render/render_device.h"
#include "temp_folder.h"

namespace {

constexpr int kFrames = 30;

// 320 x 240, 30 frames of moving bars, kept in memory and in a file.
const std::vector<uint8_t>& Movie() {
    static std::vector<uint8_t> bytes = [] {
        theora_frames::MovieShape s;
        s.width = 320;
        s.height = 240;
        s.frames = kFrames;
        s.quality = 40;
        s.keyframeEvery = 16;
        return theora_frames::Bars(s);
    }();
    return bytes;
}

const std::string& MoviePath() {
    static std::string path = [] {
        static bench::TempFolder folder("quild-video-bench");
        std::string p = folder.file("movie.ogg");
        FILE* f = std::fopen(p.c_str(), "wb");
        if (f) {
            std::fwrite(Movie().data(), 1, Movie().size(), f);
            std::fclose(f);
        }
        return p;
    }();
    return path;
}

// libtheora alone: sync the whole buffer, read the three headers, decode
// and take out every frame.
void BM_TheoraDecodeBaseline(benchmark::State& state) {
    const auto& bytes = Movie();
    int64_t frames = 0;
    bench::Timed(state, [&] {
        ogg_sync_state oy;
        ogg_sync_init(&oy);
        char* buf = ogg_sync_buffer(&oy, long(bytes.size()));
        std::memcpy(buf, bytes.data(), bytes.size());
        ogg_sync_wrote(&oy, long(bytes.size()));
        theora_info ti;
        theora_comment tc;
        theora_info_init(&ti);
        theora_comment_init(&tc);
        ogg_stream_state os;
        bool stream = false;
        int headers = 0;
        theora_state td;
        bool decoding = false;
        ogg_page og;
        ogg_packet op;
        while (ogg_sync_pageout(&oy, &og) > 0) {
            if (!stream) {
                ogg_stream_init(&os, ogg_page_serialno(&og));
                stream = true;
            }
            ogg_stream_pagein(&os, &og);
            while (ogg_stream_packetout(&os, &op) > 0) {
                if (headers < 3) {
                    if (theora_decode_header(&ti, &tc, &op) == 0) ++headers;
                    if (headers == 3) decoding = theora_decode_init(&td, &ti) == 0;
                } else if (decoding && theora_decode_packetin(&td, &op) == 0) {
                    yuv_buffer yuv;
                    theora_decode_YUVout(&td, &yuv);
                    benchmark::DoNotOptimize(yuv.y[0]);
                    ++frames;
                }
            }
        }
        if (stream) ogg_stream_clear(&os);
        if (decoding) theora_clear(&td);
        theora_comment_clear(&tc);
        theora_info_clear(&ti);
        ogg_sync_clear(&oy);
    });
    state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TheoraDecodeBaseline)->Unit(benchmark::kMillisecond);

// The player over the same movie, buffered: start, one Update per frame,
// close. No display, so nothing is uploaded.
void BM_VideoPlayerDecode(benchmark::State& state) {
    RenderDevice* saved = g_renderDevice;
    g_renderDevice = nullptr;
    VideoPlayer player;
    if (player.Open(MoviePath().c_str(), true) != 1) {
        state.SkipWithError("movie not written");
        return;
    }
    int64_t frames = 0;
    bench::Timed(state, [&] {
        player.Start();
        while (player.Update()) ++frames;
        player.Close();
    });
    g_renderDevice = saved;
    state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VideoPlayerDecode)->Unit(benchmark::kMillisecond);

}  // namespace
