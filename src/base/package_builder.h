#pragma once
// Builds a package file from script calls: package_open, any number of
// package_add / package_addfile / package_check (after package_read of the
// previous package when only changed files are wanted), then package_close,
// which writes the files' bytes and the table and appends the checksum
// lists "filescrc.txt" and "packcrc.txt" in the current folder.
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/file_stream.h"
#include "base/package.h"

class PackageBuilder {
public:
    static constexpr size_t kPathSize = 128;  // the record's path, terminator included

    struct FileRecord {
        uint32_t hash = 0;
        uint32_t offset = 0;
        uint32_t size = 0;
        uint32_t checksum = 0;
        char path[kPathSize] = {};
    };

    // Starts a new package at path (written under a temporary name and
    // renamed by Close). False when the file cannot be created.
    bool Open(const char* path);
    bool IsOpen() const { return out_.IsOpen(); }

    // The callbacks of the folder walk: name without extension, extension.
    void AddFile(const char* name, const char* extension);
    void AddFileUnlessUnchanged(const char* name, const char* extension);

    // Appends the entry table of an existing package to the reference
    // table; a missing or refused package empties it.
    void ReadReference(const char* path);

    // Writes the package and the checksum lists; false when nothing was open
    // or the package could not be written.
    bool Close();

    void ReserveEntries(size_t n) { records_.reserve(n); }
    void ReserveReferenceEntries(size_t n) { reference_.resize(n); }

    const std::vector<FileRecord>& Records() const { return records_; }
    const std::vector<PackageEntry>& Reference() const { return reference_; }

private:
    FileRecord* NewRecord(const char* name, const char* extension);
    void Abandon();

    FileStream out_;
    std::string name_;
    std::string temp_path_;
    std::vector<FileRecord> records_;
    std::unordered_set<uint32_t> hashes_;
    std::vector<PackageEntry> reference_;
};

extern PackageBuilder g_package_builder;
