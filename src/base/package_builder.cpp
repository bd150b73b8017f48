#include "base/package_builder.h"

#include <unistd.h>

#include <cstring>

#include "base/crc32.h"
#include "base/log.h"
#include "platform/files.h"

PackageBuilder g_package_builder;

namespace {

constexpr uint32_t kReserveRecords = 4096;
constexpr size_t kCopyPiece = 64 * 1024;

void PutU32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void Lower(char* s) {
    for (; *s; ++s)
        if (*s >= 'A' && *s <= 'Z') *s = static_cast<char>(*s - 'A' + 'a');
}

// Size and register checksum of a whole disk file; false when it cannot be
// opened or read, or is 4 GiB or more.
bool ChecksumFile(const char* path, uint32_t* size, uint32_t* checksum) {
    FILE* f = plat::OpenFile(path, "rb");
    if (!f) return false;
    std::vector<uint8_t> piece(kCopyPiece);
    uint64_t total = 0;
    uint32_t reg = 0xFFFFFFFFu;
    size_t got;
    while ((got = std::fread(piece.data(), 1, piece.size(), f)) > 0) {
        reg = Crc32Update(reg, piece.data(), got);
        total += got;
    }
    bool ok = !std::ferror(f) && total <= 0xFFFFFFFFu;
    std::fclose(f);
    *size = static_cast<uint32_t>(total);
    *checksum = reg;
    return ok;
}

}  // namespace

bool PackageBuilder::Open(const char* path) {
    Abandon();
    if (!path || !*path) return false;
    if (plat::IsFolder(path)) {
        LogPrintf("[ERROR] - PACKAGE %s: is a folder", path);
        return false;
    }
    name_ = path;
    const std::string target = plat::ResolveForWrite(path);
    plat::RemoveStaleTempFiles(target);
    temp_path_ = target + ".tmp" + std::to_string(::getpid());
    if (!out_.Create(temp_path_.c_str())) {
        LogPrintf("[ERROR] - PACKAGE %s: cannot create", path);
        name_.clear();
        return false;
    }
    const uint8_t placeholder[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    out_.Write(placeholder, 4);
    ReserveEntries(kReserveRecords);
    return true;
}

void PackageBuilder::Abandon() {
    if (out_.IsOpen()) {
        out_.Close();
        std::remove(temp_path_.c_str());
    }
    records_.clear();
    hashes_.clear();
    name_.clear();
    temp_path_.clear();
}

PackageBuilder::FileRecord* PackageBuilder::NewRecord(const char* name, const char* extension) {
    if (!IsOpen() || !name || !extension || !*extension) return nullptr;
    char path[kPathSize];
    int n = std::snprintf(path, sizeof path, "%s.%s", name, extension);
    if (n < 0 || size_t(n) >= sizeof path) {
        LogPrintf("[ERROR] - PACKAGE: path too long, left out: %s.%s", name, extension);
        return nullptr;
    }
    if (records_.size() >= kPackageMaxEntries) {
        LogPrintf("[ERROR] - PACKAGE: more than %u files, left out: %s", kPackageMaxEntries, path);
        return nullptr;
    }
    Lower(path);
    uint32_t hash = Crc32OfString(path);
    if (hashes_.count(hash)) {
        LogPrintf("[ERROR] - PACKAGE: name hash already held, left out: %s", path);
        return nullptr;
    }
    if (records_.size() == records_.capacity()) ReserveEntries(records_.size() + 256);
    FileRecord& r = records_.emplace_back();
    std::memcpy(r.path, path, sizeof path);
    r.hash = hash;
    return &r;
}

void PackageBuilder::AddFile(const char* name, const char* extension) {
    FileRecord* r = NewRecord(name, extension);
    if (!r) return;
    hashes_.insert(r->hash);
    LogPrintf("%s", r->path);
}

void PackageBuilder::AddFileUnlessUnchanged(const char* name, const char* extension) {
    FileRecord* r = NewRecord(name, extension);
    if (!r) return;
    uint32_t size = 0, checksum = 0;
    ChecksumFile(r->path, &size, &checksum);
    for (const PackageEntry& e : reference_) {
        if (e.hash == r->hash && e.size == size && e.checksum == checksum) {
            LogPrintf("ALREADY EXITS: %s", r->path);
            records_.pop_back();
            return;
        }
    }
    r->size = size;
    r->checksum = checksum;
    hashes_.insert(r->hash);
    LogPrintf("%s", r->path);
}

void PackageBuilder::ReadReference(const char* path) {
    FILE* f = path && *path ? plat::OpenFile(path, "rb") : nullptr;
    if (!f) {
        reference_.clear();
        return;
    }
    std::vector<PackageEntry> entries;
    bool ok = ReadPackageTable(f, path, entries, nullptr);
    std::fclose(f);
    if (!ok) {
        reference_.clear();
        return;
    }
    size_t old = reference_.size();
    ReserveReferenceEntries(old + entries.size());
    std::copy(entries.begin(), entries.end(), reference_.begin() + old);
}

bool PackageBuilder::Close() {
    if (!IsOpen()) return false;
    FileStream files_crc, pack_crc;
    files_crc.Append("filescrc.txt");
    pack_crc.Append("packcrc.txt");
    StreamPrintf(&files_crc, "PACKAGE[%s]\r\n", name_.c_str());

    // The data follows room for every record's entry; files that are gone
    // are left out of the table, so the data start moves down and the
    // offsets grow by the unused room.
    const uint64_t reserved_start = 4 + uint64_t(records_.size()) * kPackageEntrySize;
    bool ok = out_.SeekAbsolute(static_cast<uint32_t>(reserved_start));
    uint64_t position = reserved_start;
    uint32_t running = 0xFFFFFFFFu;
    std::vector<FileRecord> kept;
    kept.reserve(records_.size());
    std::vector<uint8_t> piece(kCopyPiece);
    std::vector<uint64_t> positions;
    for (FileRecord& r : records_) {
        FILE* f = plat::OpenFile(r.path, "rb");
        if (!f) {
            StreamPrintf(&files_crc, "FILE DOESN'T EXIST! [%s]", r.path);
            LogPrintf("[WARNING] : PACKAGE: file gone, left out: %s", r.path);
            continue;
        }
        uint64_t start = position;
        uint32_t reg = 0xFFFFFFFFu;
        uint32_t run = running;
        size_t got;
        bool file_ok = true;
        while ((got = std::fread(piece.data(), 1, piece.size(), f)) > 0) {
            if (position + got > 0xFFFFFFFFu) {
                file_ok = false;
                break;
            }
            reg = Crc32Update(reg, piece.data(), got);
            run = Crc32Update(run, piece.data(), got);
            if (out_.Write(piece.data(), static_cast<uint32_t>(got)) != got) ok = false;
            position += got;
        }
        if (std::ferror(f)) file_ok = false;
        std::fclose(f);
        if (!file_ok) {
            LogPrintf("[ERROR] - PACKAGE: file unreadable or past 4 GiB, left out: %s", r.path);
            position = start;
            ok = ok && out_.SeekAbsolute(static_cast<uint32_t>(start));
            continue;
        }
        running = run;
        r.checksum = reg;
        r.size = static_cast<uint32_t>(position - start);
        positions.push_back(start);
        kept.push_back(r);
        StreamPrintf(&files_crc, "%s : %x\r\n", r.path, r.checksum);
    }

    const uint64_t data_start = 4 + uint64_t(kept.size()) * kPackageEntrySize;
    std::vector<uint8_t> table(4 + kept.size() * kPackageEntrySize);
    PutU32(table.data(), static_cast<uint32_t>(kept.size()) + 0x10000000u);
    for (size_t i = 0; i < kept.size(); ++i) {
        uint8_t* p = table.data() + 4 + i * kPackageEntrySize;
        kept[i].offset = static_cast<uint32_t>(positions[i] - data_start);
        PutU32(p, kept[i].hash);
        PutU32(p + 4, kept[i].offset);
        PutU32(p + 8, kept[i].size);
        PutU32(p + 12, kept[i].checksum);
    }
    ok = ok && out_.SeekAbsolute(0) && out_.Write(table.data(), uint32_t(table.size())) == table.size();
    ok = (out_.Close() == 0) && ok;
    if (ok) ok = plat::ReplaceFile(temp_path_.c_str(), plat::ResolveForWrite(name_.c_str()).c_str());
    if (!ok) {
        std::remove(temp_path_.c_str());
        LogPrintf("[ERROR] - PACKAGE %s: could not be written", name_.c_str());
    }

    StreamPrintf(&files_crc, "\r\n");
    StreamPrintf(&pack_crc, "PACKAGE[%s] : %x\r\n", name_.c_str(), running);
    files_crc.Close();
    pack_crc.Close();

    std::vector<FileRecord>().swap(records_);
    std::vector<PackageEntry>().swap(reference_);
    hashes_.clear();
    name_.clear();
    temp_path_.clear();
    return ok;
}
