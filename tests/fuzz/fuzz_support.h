#pragma once
// Helpers shared by the fuzz targets: no log file for the millions of
// inputs a run feeds, a scratch file for readers that want a path, and Ogg
// pages whose checksums are made right again so that mutated packets get
// past the page layer into the decoders.
#include <ogg/ogg.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/log.h"

namespace fuzz {

// Log lines go nowhere: no console, and no per-user folder for log.txt
// (the folder comes from these variables; empty, there is none).
inline bool QuietLog() {
    SetLogSink(nullptr);
    setenv("XDG_DOCUMENTS_DIR", "", 1);
    setenv("HOME", "", 1);
    return true;
}

// One file for the whole run, removed at exit: in memory (/dev/shm) where
// there is such a folder, since it is rewritten and opened many times per
// input, else in the temporary folder.
inline const std::string& ScratchPath(const char* stem) {
    static std::string path = [stem] {
        std::error_code ec;
        const std::filesystem::path folder = std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
                                                 ? std::filesystem::path("/dev/shm")
                                                 : std::filesystem::temp_directory_path();
        std::string name = (folder / (std::string(stem) + "-XXXXXX")).string();
        const int fd = mkstemp(name.data());
        if (fd < 0) return std::string();
        close(fd);
        std::atexit([] { std::remove(ScratchPath("").c_str()); });
        return name;
    }();
    return path;
}

inline bool WriteScratch(const std::string& path, const uint8_t* data, size_t size) {
    if (path.empty()) return false;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// A copy of the bytes with the checksum of every complete Ogg page set
// anew. Bytes between pages stay as they are.
inline std::vector<uint8_t> WithOggChecksums(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out(data, data + size);
    constexpr size_t kHeader = 27;
    size_t i = 0;
    while (i + kHeader <= out.size()) {
        uint8_t* p = out.data() + i;
        if (p[0] != 'O' || p[1] != 'g' || p[2] != 'g' || p[3] != 'S') {
            ++i;
            continue;
        }
        const size_t segments = p[26];
        const size_t header = kHeader + segments;
        if (i + header > out.size()) break;
        size_t body = 0;
        for (size_t s = 0; s < segments; ++s) body += p[kHeader + s];
        if (i + header + body > out.size()) {
            ++i;
            continue;
        }
        ogg_page page;
        page.header = p;
        page.header_len = static_cast<long>(header);
        page.body = p + header;
        page.body_len = static_cast<long>(body);
        ogg_page_checksum_set(&page);
        i += header + body;
    }
    return out;
}

}  // namespace fuzz
