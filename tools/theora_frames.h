#pragma once
// Makes Ogg Theora test content: a few small frames drawn by a function
// and encoded in memory with libtheora's encoder. Used by the tests, the
// benchmarks and the corpus maker.
#include <theora/theora.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

namespace theora_frames {

struct MovieShape {
    int width = 32, height = 32;              // coded frame, multiples of 16
    int pictureWidth = 0, pictureHeight = 0;  // 0: the whole frame
    int offsetX = 0, offsetY = 0;             // picture offset from the top left
    int frames = 4;
    uint32_t fpsNumerator = 25, fpsDenominator = 1;
    int quality = 63;
    uint32_t keyframeEvery = 64;
    uint32_t serial = 0x5649444F;
};

// The sample of a plane (0 Y, 1 U, 2 V) at (x, y) of frame f; chroma planes
// are half size in both directions.
using PlaneFn = std::function<uint8_t(int f, int plane, int x, int y)>;

inline void PutPage(std::vector<uint8_t>& out, const ogg_page& og) {
    out.insert(out.end(), og.header, og.header + og.header_len);
    out.insert(out.end(), og.body, og.body + og.body_len);
}

inline std::vector<uint8_t> Encode(const MovieShape& s, const PlaneFn& sample) {
    std::vector<uint8_t> out;
    theora_info ti;
    theora_info_init(&ti);
    ti.width = uint32_t(s.width);
    ti.height = uint32_t(s.height);
    ti.frame_width = uint32_t(s.pictureWidth ? s.pictureWidth : s.width);
    ti.frame_height = uint32_t(s.pictureHeight ? s.pictureHeight : s.height);
    ti.offset_x = uint32_t(s.offsetX);
    ti.offset_y = uint32_t(s.offsetY);
    ti.fps_numerator = s.fpsNumerator;
    ti.fps_denominator = s.fpsDenominator;
    ti.aspect_numerator = 1;
    ti.aspect_denominator = 1;
    ti.colorspace = OC_CS_UNSPECIFIED;
    ti.pixelformat = OC_PF_420;
    ti.target_bitrate = 0;
    ti.quality = s.quality;
    ti.quick_p = 1;
    ti.dropframes_p = 0;
    ti.keyframe_auto_p = 1;
    ti.keyframe_frequency = s.keyframeEvery;
    ti.keyframe_frequency_force = s.keyframeEvery;
    ti.keyframe_data_target_bitrate = 0;
    ti.keyframe_auto_threshold = 80;
    ti.keyframe_mindistance = 8;
    ti.noise_sensitivity = 1;
    ti.sharpness = 0;
    theora_state te;
    if (theora_encode_init(&te, &ti) != 0) {
        theora_info_clear(&ti);
        return out;
    }
    ogg_stream_state os;
    ogg_stream_init(&os, int(s.serial));
    ogg_page og;
    ogg_packet op;
    // The identification header alone on the first page, then the others.
    theora_encode_header(&te, &op);
    ogg_stream_packetin(&os, &op);
    while (ogg_stream_flush(&os, &og)) PutPage(out, og);
    theora_comment tc;
    theora_comment_init(&tc);
    theora_encode_comment(&tc, &op);
    ogg_stream_packetin(&os, &op);
    std::free(op.packet);  // the comment packet is the caller's
    theora_comment_clear(&tc);
    theora_encode_tables(&te, &op);
    ogg_stream_packetin(&os, &op);
    while (ogg_stream_flush(&os, &og)) PutPage(out, og);

    const int cw = s.width / 2, ch = s.height / 2;
    std::vector<uint8_t> y(size_t(s.width) * s.height), u(size_t(cw) * ch), v(size_t(cw) * ch);
    for (int f = 0; f < s.frames; ++f) {
        for (int j = 0; j < s.height; ++j)
            for (int i = 0; i < s.width; ++i) y[size_t(j) * s.width + i] = sample(f, 0, i, j);
        for (int j = 0; j < ch; ++j)
            for (int i = 0; i < cw; ++i) {
                u[size_t(j) * cw + i] = sample(f, 1, i, j);
                v[size_t(j) * cw + i] = sample(f, 2, i, j);
            }
        yuv_buffer yb;
        yb.y_width = s.width;
        yb.y_height = s.height;
        yb.y_stride = s.width;
        yb.uv_width = cw;
        yb.uv_height = ch;
        yb.uv_stride = cw;
        yb.y = y.data();
        yb.u = u.data();
        yb.v = v.data();
        theora_encode_YUVin(&te, &yb);
        while (theora_encode_packetout(&te, f == s.frames - 1, &op) > 0) {
            ogg_stream_packetin(&os, &op);
            while (ogg_stream_pageout(&os, &og)) PutPage(out, og);
        }
    }
    while (ogg_stream_flush(&os, &og)) PutPage(out, og);
    ogg_stream_clear(&os);
    theora_clear(&te);
    theora_info_clear(&ti);
    return out;
}

// Frames of one flat colour each: colours[f % n] as {Y, U, V}.
inline std::vector<uint8_t> Flat(const MovieShape& s, const std::vector<std::array<uint8_t, 3>>& colours) {
    return Encode(
        s, [&colours](int f, int plane, int, int) { return colours[size_t(f) % colours.size()][plane]; });
}

// Bars across the frame: luma rising left to right, chroma in quarters,
// shifted by the frame number.
inline std::vector<uint8_t> Bars(const MovieShape& s) {
    return Encode(s, [&s](int f, int plane, int x, int y) -> uint8_t {
        if (plane == 0) return uint8_t(16 + ((x + f * 2) * 219 / s.width) % 220);
        const int q = (plane == 1 ? x * 4 / (s.width / 2) : y * 4 / (s.height / 2));
        return uint8_t(64 + 40 * q);
    });
}

// Splits an Ogg file into its pages (bytes of each page).
inline std::vector<std::vector<uint8_t>> Pages(const std::vector<uint8_t>& file) {
    std::vector<std::vector<uint8_t>> pages;
    ogg_sync_state oy;
    ogg_sync_init(&oy);
    char* buf = ogg_sync_buffer(&oy, long(file.size()));
    std::copy(file.begin(), file.end(), buf);
    ogg_sync_wrote(&oy, long(file.size()));
    ogg_page og;
    while (ogg_sync_pageout(&oy, &og) > 0) {
        std::vector<uint8_t> p(og.header, og.header + og.header_len);
        p.insert(p.end(), og.body, og.body + og.body_len);
        pages.push_back(std::move(p));
    }
    ogg_sync_clear(&oy);
    return pages;
}

}  // namespace theora_frames
