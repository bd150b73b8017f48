#include "base/package.h"

#include <sys/types.h>

#include <cstring>
#include <unordered_map>

#include "base/crc32.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "platform/files.h"

PackageRegistry g_packages;

namespace {

// Hash -> first entry of that hash in mount order. Rebuilt on Clear.
struct IndexSlot {
    const Package* package;
    const PackageEntry* entry;
};
std::unordered_map<uint32_t, IndexSlot> g_index;

uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool PackageHook(const char* path, FileStream* stream) {
    if (g_packages.Empty()) return false;
    const Package* package = nullptr;
    const PackageEntry* entry = FindPackagePath(path, &package);
    if (!entry) return false;
    if (!stream) return true;
    return stream->OpenPackageEntry(package, entry, package->path.c_str(), package->data_start + entry->offset,
                                    entry->size);
}

bool FileSize(FILE* file, uint64_t* size) {
    off_t here = ftello(file);
    if (here < 0 || fseeko(file, 0, SEEK_END) != 0) return false;
    off_t end = ftello(file);
    if (end < 0 || fseeko(file, here, SEEK_SET) != 0) return false;
    *size = static_cast<uint64_t>(end);
    return true;
}

}  // namespace

const PackageEntry* FindPackagePath(const char* path, const Package** package) {
    if (const PackageEntry* e = g_packages.Find(PackageNameHash(path), package)) return e;
    if (!std::strpbrk(path, "/\\")) return nullptr;
    std::string forward = plat::NormalizeSeparators(path);
    if (const PackageEntry* e = g_packages.Find(PackageNameHash(forward.c_str()), package)) return e;
    for (char& c : forward)
        if (c == '/') c = '\\';
    return g_packages.Find(PackageNameHash(forward.c_str()), package);
}

uint32_t PackageNameHash(const char* path) {
    // Lower-cased piece by piece into a small buffer: no allocation per open.
    uint32_t reg = 0xFFFFFFFFu;
    char piece[256];
    size_t n = 0;
    for (const char* p = path ? path : ""; *p; ++p) {
        char c = *p;
        piece[n++] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (n == sizeof piece) {
            reg = Crc32Update(reg, piece, n);
            n = 0;
        }
    }
    return ~Crc32Update(reg, piece, n);
}

bool ReadPackageTable(FILE* file, const char* what, std::vector<PackageEntry>& out, uint64_t* data_start) {
    out.clear();
    if (!what) what = "";
    uint64_t file_size = 0;
    uint8_t head[4];
    if (!FileSize(file, &file_size) || fseeko(file, 0, SEEK_SET) != 0 || std::fread(head, 1, 4, file) != 4) {
        LogPrintf("[ERROR] - PACKAGE %s: no header", what);
        return false;
    }
    uint32_t header = ReadU32(head);
    uint32_t count = header & 0xFFFFFF;
    uint32_t entry_size = header >> 24;
    if (entry_size == 0) entry_size = 12;
    if (entry_size != 12 && entry_size != 16) {
        LogPrintf("[ERROR] - PACKAGE %s: entry size %u refused", what, entry_size);
        return false;
    }
    uint64_t table_bytes = uint64_t(count) * entry_size;
    if (4 + table_bytes > file_size) {
        LogPrintf("[ERROR] - PACKAGE %s: table of %u entries does not fit the file", what, count);
        return false;
    }
    std::vector<uint8_t> table(static_cast<size_t>(table_bytes));
    if (table_bytes && std::fread(table.data(), 1, table.size(), file) != table.size()) {
        LogPrintf("[ERROR] - PACKAGE %s: short table", what);
        return false;
    }
    uint64_t start = 4 + table_bytes;
    uint64_t data_bytes = file_size - start;
    out.reserve(count);
    uint32_t dropped = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* p = table.data() + size_t(i) * entry_size;
        PackageEntry e;
        e.hash = ReadU32(p);
        e.offset = ReadU32(p + 4);
        e.size = ReadU32(p + 8);
        e.checksum = entry_size == 16 ? ReadU32(p + 12) : 0;
        if (uint64_t(e.offset) + e.size > data_bytes) {
            ++dropped;
            continue;
        }
        out.push_back(e);
    }
    if (dropped) LogPrintf("[WARNING] : PACKAGE %s: %u entries outside the file dropped", what, dropped);
    if (data_start) *data_start = start;
    return true;
}

void PackageRegistry::Append(Package* package) {
    package->next = nullptr;
    if (tail)
        tail->next = package;
    else
        head = package;
    tail = package;
    if (this == &g_packages)
        for (const PackageEntry& e : package->entries) g_index.emplace(e.hash, IndexSlot{package, &e});
}

const PackageEntry* PackageRegistry::Find(uint32_t hash, const Package** package) const {
    if (this == &g_packages) {
        auto it = g_index.find(hash);
        if (it == g_index.end()) return nullptr;
        if (package) *package = it->second.package;
        return it->second.entry;
    }
    for (const Package* p = head; p; p = p->next)
        for (const PackageEntry& e : p->entries)
            if (e.hash == hash) {
                if (package) *package = p;
                return &e;
            }
    return nullptr;
}

void PackageRegistry::Clear() {
    if (this == &g_packages) g_index.clear();
    while (head) {
        Package* next = head->next;
        delete head;
        head = next;
    }
    tail = nullptr;
}

bool MountPackage(const char* path) {
    if (!path || !*path) return false;
    FILE* file = plat::OpenFile(path, "rb");
    if (!file) return false;
    Package* package = new Package;
    package->path = plat::ResolveExisting(path);
    if (package->path.empty()) package->path = path;
    bool ok = ReadPackageTable(file, path, package->entries, &package->data_start);
    std::fclose(file);
    if (!ok) {
        delete package;
        return false;
    }
    g_packages.Append(package);
    SetPackageOpenHook(&PackageHook);
    return true;
}

void FreeAllPackages() { g_packages.Clear(); }
