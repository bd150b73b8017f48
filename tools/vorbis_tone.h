#pragma once
// Makes Ogg Vorbis test content: tones and clicks encoded in memory with
// libvorbisenc. Used by the tests, the benchmarks and the corpus maker.
#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <vector>

namespace vorbis_tone {

// gen(frame, channel) gives a sample in -1..1. Links of a chained file need
// serial numbers of their own. Pages are of some 4 KiB, or filled to about
// page_bytes when given (up to 64 KiB).
inline std::vector<uint8_t> Encode(int channels, long rate, long frames,
                                   const std::function<float(long, int)>& gen, float quality = 0.2f,
                                   int serial = 0x51554C44, int page_bytes = 0) {
    std::vector<uint8_t> out;
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) {
        vorbis_info_clear(&vi);
        return out;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, serial);
    auto put = [&out](const ogg_page& og) {
        out.insert(out.end(), og.header, og.header + og.header_len);
        out.insert(out.end(), og.body, og.body + og.body_len);
    };
    ogg_packet h0, h1, h2;
    vorbis_analysis_headerout(&vd, &vc, &h0, &h1, &h2);
    ogg_stream_packetin(&os, &h0);
    ogg_stream_packetin(&os, &h1);
    ogg_stream_packetin(&os, &h2);
    ogg_page og;
    while (ogg_stream_flush(&os, &og)) put(og);

    const long chunk = 1024;
    bool eos = false;
    for (long done = 0; !eos;) {
        long n = frames - done < chunk ? frames - done : chunk;
        if (n > 0) {
            float** buf = vorbis_analysis_buffer(&vd, static_cast<int>(n));
            for (long i = 0; i < n; ++i)
                for (int c = 0; c < channels; ++c) buf[c][i] = gen(done + i, c);
            vorbis_analysis_wrote(&vd, static_cast<int>(n));
            done += n;
        } else {
            vorbis_analysis_wrote(&vd, 0);
        }
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet op;
            while (vorbis_bitrate_flushpacket(&vd, &op)) {
                ogg_stream_packetin(&os, &op);
                while (page_bytes > 0 ? ogg_stream_pageout_fill(&os, &og, page_bytes)
                                      : ogg_stream_pageout(&os, &og)) {
                    put(og);
                    if (ogg_page_eos(&og)) eos = true;
                }
            }
        }
        if (n <= 0 && !eos) {
            while (ogg_stream_flush(&os, &og)) put(og);
            eos = true;
        }
    }
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return out;
}

// A sine of the given frequency on every channel.
inline std::vector<uint8_t> Tone(int channels, long rate, double seconds, double hz, float amplitude = 0.5f,
                                 int serial = 0x51554C44) {
    long frames = static_cast<long>(rate * seconds);
    return Encode(
        channels, rate, frames,
        [=](long i, int) { return amplitude * static_cast<float>(std::sin(2.0 * 3.14159265358979 * hz * i / rate)); },
        0.2f, serial);
}

// A short burst of noise that decays.
inline std::vector<uint8_t> Click(int channels, long rate, double seconds) {
    long frames = static_cast<long>(rate * seconds);
    unsigned seed = 12345;
    return Encode(channels, rate, frames, [=](long i, int) mutable {
        seed = seed * 1103515245u + 12345u;
        float noise = static_cast<float>((seed >> 16) & 0x7FFF) / 16384.0f - 1.0f;
        return 0.6f * noise * static_cast<float>(std::exp(-6.0 * i / frames));
    });
}

// White noise at a quarter of full scale, in pages of about page_bytes
// (some 4 KiB when 0).
inline std::vector<uint8_t> Noise(int channels, long rate, double seconds, float quality, int serial,
                                  int page_bytes = 0) {
    unsigned seed = 1;
    return Encode(
        channels, rate, static_cast<long>(rate * seconds),
        [&seed](long, int) {
            seed = seed * 1103515245u + 12345u;
            return static_cast<float>((seed >> 16) & 0x7FFF) / 65536.0f - 0.25f;
        },
        quality, serial, page_bytes);
}

}  // namespace vorbis_tone
