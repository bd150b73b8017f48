#pragma once
// Package files: many files in one, indexed by the CRC-32 of each file's
// lower-cased path. Mounted packages are searched before the disk by
// FileStream::OpenRead and FileExists, in mount order; within a package the
// first entry of a hash wins.
//
// Layout (little-endian): u32 header (bits 0-23 entry count, bits 24-31 the
// entry size: 16, 12, or 0 read as 12), the entry table, then the files'
// bytes. Entry: u32 name hash, u32 offset from the data start, u32 size,
// u32 checksum (absent in 12-byte entries, read as 0).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct PackageEntry {
    uint32_t hash = 0;
    uint32_t offset = 0;  // from the data start
    uint32_t size = 0;
    uint32_t checksum = 0;
};

struct Package {
    Package* next = nullptr;
    std::string path;
    std::vector<PackageEntry> entries;
    uint64_t data_start = 0;
};

constexpr uint32_t kPackageEntrySize = 16;
constexpr uint32_t kPackageMaxEntries = 0xFFFFFF;

// Reads a package's header and entry table from an open file. The entry
// size must be 0, 12 or 16 and the table must fit in the file; entries that
// reach outside the file are dropped and logged. what names the file in
// log lines. False (and out empty) when the package is refused.
bool ReadPackageTable(FILE* file, const char* what, std::vector<PackageEntry>& out, uint64_t* data_start);

// The hash a path is looked up by: standard CRC-32 of its lower-cased text.
uint32_t PackageNameHash(const char* path);

class PackageRegistry {
public:
    Package* head = nullptr;
    Package* tail = nullptr;

    void Append(Package* package);
    // First entry of the hash in mount order, or null.
    const PackageEntry* Find(uint32_t hash, const Package** package) const;
    void Clear();
    bool Empty() const { return head == nullptr; }
};

extern PackageRegistry g_packages;

// The entry OpenRead and FileExists find for a path: as written, else with
// its separators all '/' (repeats collapsed), else all '\\' (content names
// files with either). Null when no mounted package holds it.
const PackageEntry* FindPackagePath(const char* path, const Package** package);

// Mounts a package file (plain disk path). False when it cannot be opened
// or is refused; nothing is mounted then.
bool MountPackage(const char* path);
void FreeAllPackages();
