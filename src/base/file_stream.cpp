#include "base/file_stream.h"

#include <unistd.h>

#include <cstdarg>
#include <cstring>

#include "platform/files.h"

namespace {
PackageOpenHook g_package_hook = nullptr;
}

void SetPackageOpenHook(PackageOpenHook hook) { g_package_hook = hook; }

FileStream::~FileStream() { Close(); }

bool FileStream::OpenRead(const char* path) {
    Close();
    if (!path || !*path) return false;
    if (g_package_hook && g_package_hook(path, this)) return true;
    file_ = plat::OpenFile(path, "rb");
    return file_ != nullptr;
}

bool FileStream::OpenPackageEntry(const Package* package, const PackageEntry* entry, const char* package_path,
                                  uint64_t entry_start, uint32_t entry_size) {
    Close();
    // The package layer keeps the package's resolved path.
    FILE* f = plat::OpenRegularFile(package_path, "rb");
    if (!f) return false;
    if (fseeko(f, static_cast<off_t>(entry_start), SEEK_SET) != 0) {
        std::fclose(f);
        return false;
    }
    file_ = f;
    package_ = package;
    entry_ = entry;
    entry_start_ = entry_start;
    entry_size_ = entry_size;
    return true;
}

bool FileStream::Create(const char* path) {
    Close();
    file_ = plat::OpenFile(path, "wb");
    return file_ != nullptr;
}

bool FileStream::Append(const char* path) {
    Close();
    file_ = plat::OpenFile(path, "ab");
    return file_ != nullptr;
}

bool FileStream::CreateInUserFolder(const char* name) {
    std::string path;
    return GetUserFilePath(name, path) && Create(path.c_str());
}

bool FileStream::AppendInUserFolder(const char* name) {
    std::string path;
    return GetUserFilePath(name, path) && Append(path.c_str());
}

void FileStream::PutString(const char* text) {
    if (file_ && text) std::fputs(text, file_);
}

int FileStream::Close() {
    int r = 0;
    if (file_) r = std::fclose(file_);
    file_ = nullptr;
    entry_ = nullptr;
    package_ = nullptr;
    entry_start_ = 0;
    entry_size_ = 0;
    return r;
}

void FileStream::Rewind() {
    if (file_) fseeko(file_, static_cast<off_t>(entry_start_), SEEK_SET);
}

bool FileStream::Eof() {
    if (!file_) return true;
    if (entry_) return Tell() >= entry_size_;
    return std::feof(file_) != 0;
}

uint32_t FileStream::Tell() {
    if (!file_) return 0;
    off_t pos = ftello(file_);
    if (pos < 0) return 0;
    uint64_t p = static_cast<uint64_t>(pos);
    return static_cast<uint32_t>(p >= entry_start_ ? p - entry_start_ : 0);
}

bool FileStream::SeekRelative(int32_t n) {
    if (!file_) return false;
    if (entry_) {
        int64_t target = static_cast<int64_t>(Tell()) + n;
        if (target < 0) target = 0;
        if (target > entry_size_) target = entry_size_;
        return SeekAbsolute(static_cast<uint32_t>(target));
    }
    return fseeko(file_, n, SEEK_CUR) == 0;
}

bool FileStream::SeekAbsolute(uint32_t n) {
    if (!file_) return false;
    if (entry_ && n > entry_size_) n = entry_size_;  // stay inside the entry
    return fseeko(file_, static_cast<off_t>(entry_start_ + n), SEEK_SET) == 0;
}

uint32_t FileStream::Size() {
    if (!file_) return 0;
    if (entry_) return entry_size_;
    off_t here = ftello(file_);
    if (here < 0 || fseeko(file_, 0, SEEK_END) != 0) return 0;
    off_t end = ftello(file_);
    fseeko(file_, here, SEEK_SET);
    if (end < 0) return 0;
    return end > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<uint32_t>(end);
}

uint32_t FileStream::Read(void* buffer, uint32_t n) {
    if (!file_ || !buffer) return 0;
    if (entry_) {
        uint32_t pos = Tell();
        uint32_t left = pos < entry_size_ ? entry_size_ - pos : 0;
        if (n > left) n = left;
    }
    return static_cast<uint32_t>(std::fread(buffer, 1, n, file_));
}

int FileStream::GetChar() {
    if (!file_) return 255;
    if (entry_ && Tell() >= entry_size_) return 255;
    return std::getc(file_) & 255;
}

uint32_t FileStream::Write(const void* buffer, uint32_t n) {
    if (!file_ || !buffer || entry_) return 0;
    return static_cast<uint32_t>(std::fwrite(buffer, 1, n, file_));
}

int FileStream::PutChar(int c) {
    if (!file_ || entry_) return EOF;
    return std::fputc(c, file_);
}

bool FileExists(const char* path) {
    if (!path || !*path) return false;
    if (g_package_hook && g_package_hook(path, nullptr)) return true;
    FILE* f = plat::OpenFile(path, "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

bool GetUserFilePath(const char* name, std::string& out) {
    std::string docs = plat::DocumentsFolder();
    if (docs.empty()) return false;
    std::string folder = docs + "/Quorvane";
    if (!plat::IsFolder(folder.c_str()) && !plat::CreateFolders(folder)) return false;
    out = folder;
    if (name && *name) {
        out += '/';
        out += name;
    }
    return true;
}

bool WriteFileAtomic(const char* path, const void* data, size_t size) {
    if (!path || !*path) return false;
    return plat::WriteFileDurably(plat::ResolveForWrite(path), data, size);
}

void StreamPrintf(Stream* stream, const char* format, ...) {
    if (!stream || !format) return;
    char buf[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n <= 0) return;
    uint32_t len = static_cast<size_t>(n) >= sizeof buf ? sizeof buf - 1 : static_cast<uint32_t>(n);
    stream->Write(buf, len);
}
