// Package files from hostile bytes: the table reader must refuse or bound
// them, and every entry of a package that mounts must read back exactly its
// own bytes through the mounted package, whatever the stream is asked.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/file_stream.h"
#include "base/package.h"
#include "fuzz_support.h"

namespace {

// Names looked up by path, as game code does; the seeds carry some of them.
const char* const kNames[] = {"a", "targa.tga", "ogg.ogg", "pk\\sub\\Y.ogg", "scripts/main.lua"};

void CheckEntry(FileStream& s, const PackageEntry& e, const uint8_t* data, size_t size, uint64_t data_start) {
    const uint64_t start = data_start + e.offset;
    if (start + e.size > size) __builtin_trap();
    if (s.Size() != e.size || s.Tell() != 0) __builtin_trap();
    std::vector<uint8_t> got(e.size + 16);
    uint32_t total = 0;
    // Odd-sized reads, then one that asks for more than is left.
    for (uint32_t step = 1; total < e.size; step = step * 3 + 1) {
        const uint32_t n = s.Read(got.data() + total, step);
        if (n == 0) break;
        total += n;
    }
    total += s.Read(got.data() + total, 16);
    if (total != e.size || !s.Eof()) __builtin_trap();
    if (e.size && std::memcmp(got.data(), data + start, e.size) != 0) __builtin_trap();
    // Seeks stay inside the entry.
    s.SeekAbsolute(e.size + 7);
    if (s.Tell() > e.size || s.Read(got.data(), 1) != 0) __builtin_trap();
    s.SeekRelative(-0x7FFFFFFF);
    if (s.Tell() != 0) __builtin_trap();
    if (e.size && s.GetChar() != data[start]) __builtin_trap();
    s.Rewind();
    if (s.Tell() != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = fuzz::QuietLog();
    (void)quiet;
    if (size == 0 || size > (1u << 20)) return 0;
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!f) return 0;
    std::vector<PackageEntry> entries;
    uint64_t data_start = 0;
    const bool table = ReadPackageTable(f, "fuzz", entries, &data_start);
    std::fclose(f);
    if (table) {
        if (data_start > size) __builtin_trap();
        for (const PackageEntry& e : entries)
            if (data_start + e.offset + e.size > size) __builtin_trap();
    }

    const std::string& path = fuzz::ScratchPath("quild-package");
    if (!fuzz::WriteScratch(path, data, size)) return 0;
    if (MountPackage(path.c_str()) != table) __builtin_trap();
    if (const Package* package = g_packages.head) {
        for (const PackageEntry& e : package->entries) {
            // The lookup gives the first entry of a hash.
            const Package* owner = nullptr;
            const PackageEntry* found = g_packages.Find(e.hash, &owner);
            if (!found || owner != package || found->hash != e.hash) __builtin_trap();
            FileStream s;
            if (!s.OpenPackageEntry(owner, found, owner->path.c_str(), owner->data_start + found->offset,
                                    found->size))
                continue;
            CheckEntry(s, *found, data, size, package->data_start);
        }
        for (const char* name : kNames) {
            FileStream s;
            if (!s.OpenRead(name)) continue;
            // The same lookup OpenRead made, separator fall-backs included.
            const PackageEntry* e = FindPackagePath(name, nullptr);
            if (!e || !s.InPackage()) __builtin_trap();
            CheckEntry(s, *e, data, size, package->data_start);
        }
    }
    FreeAllPackages();
    return 0;
}
