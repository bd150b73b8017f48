#pragma once
// Files: read from a mounted package first, from the disk second; created
// and appended on the disk; the per-user folder.
#include <cstdio>
#include <string>

#include "base/stream.h"

struct Package;
struct PackageEntry;

// The largest file read whole into memory; larger ones are refused before
// anything is allocated.
constexpr uint32_t kMaxWholeFileSize = 1u << 30;

class FileStream : public Stream {
public:
    FileStream() = default;
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Packages first (by the name hash of the lower-cased path), then the
    // disk with Windows-style name resolution; on the disk only a regular
    // file opens (never a folder, a FIFO or a device).
    bool OpenRead(const char* path);
    bool Create(const char* path);
    bool Append(const char* path);
    bool CreateInUserFolder(const char* name);
    bool AppendInUserFolder(const char* name);
    void PutString(const char* text);

    bool IsOpen() const { return file_ != nullptr; }
    bool InPackage() const { return entry_ != nullptr; }
    FILE* Handle() const { return file_; }

    int Close() override;
    void Rewind() override;
    bool Eof() override;
    uint32_t Tell() override;
    bool SeekRelative(int32_t n) override;
    bool SeekAbsolute(uint32_t n) override;
    uint32_t Size() override;
    uint32_t Read(void* buffer, uint32_t n) override;
    int GetChar() override;
    uint32_t Write(const void* buffer, uint32_t n) override;
    int PutChar(int c) override;

    // Opens an entry of a mounted package: the package file is opened anew
    // and positioned at the entry. Used by the package layer's lookup.
    bool OpenPackageEntry(const Package* package, const PackageEntry* entry, const char* package_path,
                          uint64_t entry_start, uint32_t entry_size);

private:
    FILE* file_ = nullptr;
    const PackageEntry* entry_ = nullptr;
    const Package* package_ = nullptr;
    uint64_t entry_start_ = 0;  // absolute offset of the entry in the package file
    uint32_t entry_size_ = 0;
};

// True when a mounted package holds the name or the file opens for reading.
bool FileExists(const char* path);

// The per-user folder ("Quorvane" in the documents folder), created with its
// parents when missing, joined with the file name.
bool GetUserFilePath(const char* name, std::string& out);

// Package lookup used by OpenRead and FileExists. The package layer installs
// it when it is linked in; with none, only the disk is searched.
using PackageOpenHook = bool (*)(const char* path, FileStream* stream);  // stream null: exists test
void SetPackageOpenHook(PackageOpenHook hook);

// Writes a whole file safely: to a temporary name beside it, then renamed
// over the target, so a failure leaves the old file as it was.
bool WriteFileAtomic(const char* path, const void* data, size_t size);
