// Image decoding beside the libraries' own read loops and a memory copy, on
// the same 2048 x 2048 picture.
#include <benchmark/benchmark.h>
#include <png.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <utility>
#include <vector>

#include "timed.h"
#include "base/byte_stream.h"
#include "base/memory.h"
#include "media/image/image_data.h"
#include "media/image/jpeg_codec.h"
#include "media/image/png_codec.h"
#include "media/image/tga_codec.h"

namespace {

constexpr uint32_t kSide = 2048;

// A photo-like picture: smooth gradients with some texture, so that the
// compressors have real work and the filters differ from row to row.
void MakePicture(ImageData& image, uint32_t bits, uint32_t side = kSide) {
    image.width = image.height = side;
    image.bits = bits;
    uint32_t bpp = bits / 8;
    image.pixels = static_cast<uint8_t*>(MemAlloc(size_t(side) * side * bpp));
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x) {
            noise = noise * 1103515245u + 12345u;
            uint8_t* p = image.pixels + (size_t(y) * side + x) * bpp;
            p[0] = uint8_t((x >> 3) + (noise >> 29));
            p[1] = uint8_t((y >> 3) + ((x * y) >> 14));
            p[2] = uint8_t(((x + y) >> 4) ^ (noise >> 30));
            if (bpp == 4) p[3] = 255;
        }
}

std::vector<uint8_t> Take(uint8_t* block, size_t size) {
    std::vector<uint8_t> v(block, block + size);
    MemFree(block);
    return v;
}

void PngWrite(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void PngFlush(png_structp) {}

// Written by libpng with its default (adaptive) filtering.
const std::vector<uint8_t>& PngFile() {
    static std::vector<uint8_t> file = [] {
        ImageData image;
        MakePicture(image, 24);
        std::vector<uint8_t> out;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_set_write_fn(png, &out, PngWrite, PngFlush);
        png_set_IHDR(png, info, kSide, kSide, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (uint32_t y = 0; y < kSide; ++y) png_write_row(png, image.pixels + size_t(y) * kSide * 3);
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        return out;
    }();
    return file;
}

const std::vector<uint8_t>& JpegFile() {
    static std::vector<uint8_t> file = [] {
        ImageData image;
        MakePicture(image, 24);
        size_t size = 0;
        uint8_t* bytes = EncodeJpeg(image, 90, size);
        return Take(bytes, size);
    }();
    return file;
}

// The TGA benchmarks' sides: from a block the caches hold to one several
// times the largest cache.
constexpr int kTgaSides[] = {512, 1024, 2048, 4096};

const std::vector<uint8_t>& TgaFile(uint32_t bits, uint32_t side) {
    static std::map<std::pair<uint32_t, uint32_t>, std::vector<uint8_t>> files;
    std::vector<uint8_t>& file = files[{bits, side}];
    if (file.empty()) {
        ImageData image;
        MakePicture(image, bits, side);
        size_t size = 0;
        uint8_t* bytes = EncodeTga(image, size);
        file = Take(bytes, size);
    }
    return file;
}

void Decode(benchmark::State& state, const std::vector<uint8_t>& file, bool (*reader)(Stream&, ImageData&)) {
    bench::Timed(state, [&] {
        ByteStream s;
        s.Borrow(file.data(), uint32_t(file.size()));
        ImageData image;
        if (!reader(s, image)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.pixels);
    });
    state.SetBytesProcessed(int64_t(state.iterations()) * kSide * kSide * 3);
}

void BM_PngDecodeEngine(benchmark::State& state) {
    Decode(state, PngFile(), ReadPng);
}
BENCHMARK(BM_PngDecodeEngine)->Unit(benchmark::kMillisecond);

struct PngSource {
    const uint8_t* data;
    size_t left;
};
void PngRead(png_structp png, png_bytep out, png_size_t n) {
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (n > src->left) png_error(png, "short");
    std::memcpy(out, src->data, n);
    src->data += n;
    src->left -= n;
}

void BM_PngDecodeLibpngBaseline(benchmark::State& state) {
    const auto& file = PngFile();
    bench::Timed(state, [&] {
        PngSource src{file.data(), file.size()};
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_set_read_fn(png, &src, PngRead);
        png_read_info(png, info);
        uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
        auto* pixels = static_cast<uint8_t*>(std::malloc(size_t(w) * h * 3));
        for (uint32_t y = 0; y < h; ++y) png_read_row(png, pixels + size_t(y) * w * 3, nullptr);
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        benchmark::DoNotOptimize(pixels);
        std::free(pixels);
    });
    state.SetBytesProcessed(int64_t(state.iterations()) * kSide * kSide * 3);
}
BENCHMARK(BM_PngDecodeLibpngBaseline)->Unit(benchmark::kMillisecond);

void BM_JpegDecodeEngine(benchmark::State& state) {
    Decode(state, JpegFile(), ReadJpeg);
}
BENCHMARK(BM_JpegDecodeEngine)->Unit(benchmark::kMillisecond);

void BM_JpegDecodeLibjpegBaseline(benchmark::State& state) {
    const auto& file = JpegFile();
    bench::Timed(state, [&] {
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, file.data(), file.size());
        jpeg_read_header(&cinfo, TRUE);
        jpeg_start_decompress(&cinfo);
        size_t stride = size_t(cinfo.output_width) * 3;
        auto* pixels = static_cast<uint8_t*>(std::malloc(stride * cinfo.output_height));
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = pixels + cinfo.output_scanline * stride;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(pixels);
        std::free(pixels);
    });
    state.SetBytesProcessed(int64_t(state.iterations()) * kSide * kSide * 3);
}
BENCHMARK(BM_JpegDecodeLibjpegBaseline)->Unit(benchmark::kMillisecond);

void TgaDecode(benchmark::State& state, uint32_t bits) {
    const uint32_t side = uint32_t(state.range(0));
    Decode(state, TgaFile(bits, side), ReadTga);
    state.SetBytesProcessed(int64_t(state.iterations()) * side * side * (bits / 8));
}
void BM_TgaDecodeEngine24(benchmark::State& state) {
    TgaDecode(state, 24);
}
BENCHMARK(BM_TgaDecodeEngine24)->ArgsProduct({{std::begin(kTgaSides), std::end(kTgaSides)}})->Unit(benchmark::kMillisecond);

void BM_TgaDecodeEngine32(benchmark::State& state) {
    TgaDecode(state, 32);
}
BENCHMARK(BM_TgaDecodeEngine32)->ArgsProduct({{std::begin(kTgaSides), std::end(kTgaSides)}})->Unit(benchmark::kMillisecond);

// The floor for any loader: a fresh block and one copy of the pixels.
void MemcpyBaseline(benchmark::State& state, uint32_t bpp) {
    const uint32_t side = uint32_t(state.range(0));
    const auto& file = TgaFile(bpp * 8, side);
    size_t n = size_t(side) * side * bpp;
    bench::Timed(state, [&] {
        auto* pixels = static_cast<uint8_t*>(std::malloc(n));
        std::memcpy(pixels, file.data() + file.size() - n, n);
        benchmark::DoNotOptimize(pixels);
        std::free(pixels);
    });
    state.SetBytesProcessed(int64_t(state.iterations()) * n);
}
void BM_TgaMemcpyBaseline24(benchmark::State& state) {
    MemcpyBaseline(state, 3);
}
BENCHMARK(BM_TgaMemcpyBaseline24)->ArgsProduct({{std::begin(kTgaSides), std::end(kTgaSides)}})->Unit(benchmark::kMillisecond);
void BM_TgaMemcpyBaseline32(benchmark::State& state) {
    MemcpyBaseline(state, 4);
}
BENCHMARK(BM_TgaMemcpyBaseline32)->ArgsProduct({{std::begin(kTgaSides), std::end(kTgaSides)}})->Unit(benchmark::kMillisecond);

}  // namespace
