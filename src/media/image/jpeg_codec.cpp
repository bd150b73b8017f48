#include "media/image/jpeg_codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "base/file_stream.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/memory_writer.h"
#include "base/stream.h"

namespace {

constexpr size_t kBufferSize = 4096;
// Progressive files can ask for any number of scans; a genuine image never
// needs this many, a hostile one would spin for minutes.
constexpr int kMaxScans = 1000;

// ---------------------------------------------------------------------------
// Errors: each call keeps its own error record on its stack; a fatal error
// logs libjpeg's message and jumps back to the call, which destroys the
// object. libjpeg is never re-entered for the failed step.

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

void OutputMessage(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    cinfo->err->format_message(cinfo, text);
    LogPrintf("[ERROR] JPEGLIB : %s", text);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    cinfo->err->output_message(cinfo);
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void SetUpErrors(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.output_message = OutputMessage;
    err.pub.error_exit = ErrorExit;
}

// ---------------------------------------------------------------------------
// Source: a buffer filled from a Stream.

struct StreamSource {
    jpeg_source_mgr pub;
    Stream* stream;
    bool start_of_file;
    JOCTET buffer[kBufferSize];
};

void InitSource(j_decompress_ptr cinfo) {
    reinterpret_cast<StreamSource*>(cinfo->src)->start_of_file = true;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<StreamSource*>(cinfo->src);
    uint32_t n = src->stream->Read(src->buffer, kBufferSize);
    if (n == 0) {
        if (src->start_of_file) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        // A fake end-of-image marker lets the decoder finish the image.
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        n = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = n;
    src->start_of_file = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    auto* src = reinterpret_cast<StreamSource*>(cinfo->src);
    if (count <= 0) return;
    while (count > long(src->pub.bytes_in_buffer)) {
        count -= long(src->pub.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= size_t(count);
}

void TermSource(j_decompress_ptr) {}

void SetUpSource(j_decompress_ptr cinfo, StreamSource& src, Stream& stream) {
    std::memset(&src.pub, 0, sizeof src.pub);
    src.pub.init_source = InitSource;
    src.pub.fill_input_buffer = FillInputBuffer;
    src.pub.skip_input_data = SkipInputData;
    src.pub.resync_to_restart = jpeg_resync_to_restart;
    src.pub.term_source = TermSource;
    src.stream = &stream;
    src.start_of_file = true;
    cinfo->src = &src.pub;
}

struct ScanLimit {
    jpeg_progress_mgr pub;
    ErrorManager* err;
};

void CheckScans(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (cinfo->is_decompressor && d->input_scan_number > kMaxScans) {
        LogPrintf("[ERROR] JPEGLIB : too many scans (%d)", d->input_scan_number);
        std::longjmp(reinterpret_cast<ScanLimit*>(cinfo->progress)->err->jump, 1);
    }
}

// ---------------------------------------------------------------------------
// Destination: a buffer written to a Stream.

struct StreamDestination {
    jpeg_destination_mgr pub;
    Stream* stream;
    JOCTET buffer[kBufferSize];
};

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<StreamDestination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<StreamDestination*>(cinfo->dest);
    if (dest->stream->Write(dest->buffer, kBufferSize) != kBufferSize) ERREXIT(cinfo, JERR_FILE_WRITE);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<StreamDestination*>(cinfo->dest);
    uint32_t n = uint32_t(kBufferSize - dest->pub.free_in_buffer);
    if (n && dest->stream->Write(dest->buffer, n) != n) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// Reading, with every libjpeg call inside the jump's reach. Kept apart from
// anything with a destructor, which the jump would skip.
bool Decompress(jpeg_decompress_struct& cinfo, ErrorManager& err, Stream& stream, ImageData& image) {
    StreamSource src;
    ScanLimit limit{};
    limit.err = &err;
    limit.pub.progress_monitor = CheckScans;
    // volatile: read again after a jump back here
    volatile bool started = false;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        LogPrintf(started ? "[ERROR] - CAN'T READ JPEG!" : "[ERROR] - ONLY RGB JPEGS ARE SUPPORTED!");
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &limit.pub;
    SetUpSource(&cinfo, src, stream);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.out_color_space != JCS_RGB) {
        jpeg_destroy_decompress(&cinfo);
        LogPrintf("[ERROR] - ONLY RGB JPEGS ARE SUPPORTED!");
        return false;
    }
    if (!CheckImageSize("JPEG", cinfo.image_width, cinfo.image_height, 3)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    if (cinfo.out_color_space != JCS_RGB || cinfo.output_components != 3) {
        jpeg_destroy_decompress(&cinfo);
        LogPrintf("[ERROR] - ONLY RGB JPEGS ARE SUPPORTED!");
        return false;
    }
    started = true;
    size_t stride = size_t(cinfo.output_width) * 3;
    image.pixels = static_cast<uint8_t*>(MemAllocUncleared(stride * cinfo.output_height));  // every scanline is written
    if (!image.pixels) {
        jpeg_destroy_decompress(&cinfo);
        LogPrintf("[ERROR] - OUT OF MEMORY FOR JPEG : %ux%u", cinfo.output_width, cinfo.output_height);
        return false;
    }
    image.width = cinfo.output_width;
    image.height = cinfo.output_height;
    image.bits = kImageRgb;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[8];
        JDIMENSION n = cinfo.output_height - cinfo.output_scanline;
        if (n > 8) n = 8;
        for (JDIMENSION i = 0; i < n; ++i) rows[i] = image.pixels + (cinfo.output_scanline + i) * stride;
        jpeg_read_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool Compress(jpeg_compress_struct& cinfo, ErrorManager& err, const ImageData& image, int quality,
              Stream& out) {
    StreamDestination dest;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    std::memset(&dest.pub, 0, sizeof dest.pub);
    dest.pub.init_destination = InitDestination;
    dest.pub.empty_output_buffer = EmptyOutputBuffer;
    dest.pub.term_destination = TermDestination;
    dest.stream = &out;
    cinfo.dest = &dest.pub;
    cinfo.image_width = image.width;
    cinfo.image_height = image.height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality < 0 ? 0 : quality > 100 ? 100 : quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    size_t stride = size_t(image.width) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = image.pixels + cinfo.next_scanline * stride;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

bool ReadJpeg(Stream& stream, ImageData& image) {
    image.Reset();
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    SetUpErrors(err);
    cinfo.err = &err.pub;
    if (Decompress(cinfo, err, stream, image)) return true;
    image.Reset();
    return false;
}

bool LoadJpeg(ImageData& image, const char* path) {
    return ReadImageFile(path, image, ReadJpeg);
}

uint8_t* EncodeJpeg(const ImageData& image, int quality, size_t& size) {
    size = 0;
    if (image.bits != kImageRgb || !image.pixels || image.width == 0 || image.height == 0 ||
        image.width > JPEG_MAX_DIMENSION || image.height > JPEG_MAX_DIMENSION)
        return nullptr;
    MemoryWriter out;
    jpeg_compress_struct cinfo;
    ErrorManager err;
    SetUpErrors(err);
    cinfo.err = &err.pub;
    if (!Compress(cinfo, err, image, quality, out)) return nullptr;
    return out.Take(size);
}

bool SaveJpeg(const ImageData& image, const char* path, int quality) {
    size_t size = 0;
    uint8_t* bytes = EncodeJpeg(image, quality, size);
    std::string target;
    bool ok = bytes && path && GetUserFilePath(path, target) && WriteFileAtomic(target.c_str(), bytes, size);
    MemFree(bytes);
    if (!ok) LogPrintf("[ERROR] - CAN'T WRITE JPEG!");
    return ok;
}
