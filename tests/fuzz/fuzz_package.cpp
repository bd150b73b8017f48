// Package tables from hostile bytes: the reader must refuse or bound them.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "base/log.h"
#include "base/package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        SetLogSink(nullptr);
        return true;
    }();
    (void)quiet;
    if (size == 0) return 0;
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!f) return 0;
    std::vector<PackageEntry> entries;
    uint64_t data_start = 0;
    if (ReadPackageTable(f, "fuzz", entries, &data_start)) {
        if (data_start > size) __builtin_trap();
        for (const PackageEntry& e : entries)
            if (data_start + e.offset + e.size > size) __builtin_trap();
    }
    std::fclose(f);
    return 0;
}
