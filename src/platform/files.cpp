#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace plat {

namespace {

// Cached names of each folder that resolution had to list, with the
// folder's modification time: a listing is read again when the folder has
// changed since, whoever changed it. Several threads open files (sound
// streaming), so the cache has a lock.
struct Listing {
    struct timespec mtime {};
    std::vector<std::string> names;
};

struct ListingCache {
    std::mutex lock;
    std::unordered_map<std::string, Listing> folders;
};

ListingCache& Cache() {
    static ListingCache* c = new ListingCache;
    return *c;
}

bool Exists(const std::string& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
}

// The entry of folder `dir` whose name equals `name` ignoring case.
bool FindNoCase(const std::string& dir, const std::string& name, std::string& found) {
    const char* path = dir.empty() ? "." : dir.c_str();
    struct stat st;
    if (::stat(path, &st) != 0) return false;
    ListingCache& c = Cache();
    std::lock_guard<std::mutex> guard(c.lock);
    Listing& listing = c.folders[dir];
    if (listing.names.empty() || listing.mtime.tv_sec != st.st_mtim.tv_sec ||
        listing.mtime.tv_nsec != st.st_mtim.tv_nsec) {
        listing.names.clear();
        DIR* d = ::opendir(path);
        if (!d) return false;
        while (dirent* e = ::readdir(d)) listing.names.emplace_back(e->d_name);
        ::closedir(d);
        listing.mtime = st.st_mtim;
    }
    for (const std::string& n : listing.names) {
        if (strcasecmp(n.c_str(), name.c_str()) == 0) {
            found = n;
            return true;
        }
    }
    return false;
}

std::string Join(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir == "/") return "/" + name;
    return dir + "/" + name;
}

// Resolves components [0, count) of the split path; "" when one is missing.
std::string ResolveComponents(const std::string& norm, bool keep_last) {
    if (Exists(norm)) return norm;
    std::vector<std::string> parts;
    size_t start = 0;
    bool absolute = !norm.empty() && norm[0] == '/';
    while (start <= norm.size()) {
        size_t slash = norm.find('/', start);
        if (slash == std::string::npos) slash = norm.size();
        if (slash > start) parts.push_back(norm.substr(start, slash - start));
        start = slash + 1;
    }
    std::string cur = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        bool last = i + 1 == parts.size();
        std::string direct = Join(cur, part);
        if (part == "." || part == ".." || Exists(direct)) {
            cur = direct;
            continue;
        }
        std::string found;
        if (FindNoCase(cur, part, found)) {
            cur = Join(cur, found);
        } else if (last && keep_last) {
            cur = direct;
        } else {
            return {};
        }
    }
    return cur;
}

}  // namespace

std::string NormalizeSeparators(const char* path) {
    std::string out;
    if (!path) return out;
    for (const char* p = path; *p; ++p) {
        char c = *p == '\\' ? '/' : *p;
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out.push_back(c);
    }
    return out;
}

std::string ResolveExisting(const char* path) {
    if (!path || !*path) return {};
    return ResolveComponents(NormalizeSeparators(path), false);
}

std::string ResolveForWrite(const char* path) {
    if (!path || !*path) return {};
    std::string norm = NormalizeSeparators(path);
    std::string r = ResolveComponents(norm, true);
    return r.empty() ? norm : r;
}

FILE* OpenRegularFile(const char* path, const char* mode) {
    if (!path || !*path || !mode || mode[0] != 'r') return nullptr;
    const bool update = std::strchr(mode, '+') != nullptr;
    // Non-blocking, so opening a FIFO with no writer returns at once.
    int fd = ::open(path, (update ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool folder = S_ISDIR(st.st_mode);
        ::close(fd);
        errno = folder ? EISDIR : EINVAL;
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* f = ::fdopen(fd, mode);
    if (!f) ::close(fd);
    return f;
}

FILE* OpenFile(const char* path, const char* mode) {
    if (!path || !*path || !mode) return nullptr;
    bool reading = mode[0] == 'r';
    std::string resolved = reading ? ResolveExisting(path) : ResolveForWrite(path);
    if (resolved.empty()) return nullptr;
    if (reading) return OpenRegularFile(resolved.c_str(), mode);
    return std::fopen(resolved.c_str(), mode);
}

bool PathExists(const char* path) { return !ResolveExisting(path).empty(); }

bool IsFolder(const char* path) {
    std::string r = ResolveExisting(path);
    struct stat st;
    return !r.empty() && ::stat(r.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateFolders(const std::string& path) {
    if (path.empty()) return false;
    std::string norm = NormalizeSeparators(path.c_str());
    for (size_t i = 1; i <= norm.size(); ++i) {
        if (i == norm.size() || norm[i] == '/') {
            std::string part = norm.substr(0, i);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    struct stat st;
    return ::stat(norm.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ListDirectory(const char* path, std::vector<DirEntry>& out) {
    out.clear();
    std::string dir = (path && *path) ? ResolveExisting(path) : std::string(".");
    if (dir.empty()) return false;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        if (::lstat(Join(dir, name).c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
        DirEntry entry;
        entry.name = name;
        entry.is_folder = S_ISDIR(st.st_mode);
        entry.hidden = name[0] == '.';
        out.push_back(std::move(entry));
    }
    ::closedir(d);
    return true;
}

std::string DocumentsFolder() {
    const char* xdg = std::getenv("XDG_DOCUMENTS_DIR");
    if (xdg && *xdg) return xdg;
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    return std::string(home) + "/Documents";
}

bool ReplaceFile(const char* from, const char* to) {
    if (!from || !to) return false;
    return std::rename(from, to) == 0;
}

namespace {

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void SyncFolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

namespace {

// The pid of a temporary file name of the target's ("<pid>" or
// "<pid>-<n>" after "<base>.tmp"); 0 when the name is not one.
pid_t TempFilePid(const char* name, const std::string& prefix) {
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) return 0;
    const char* p = name + prefix.size();
    uint64_t pid = 0;
    const char* digits = p;
    while (*p >= '0' && *p <= '9' && pid <= 0x7FFFFFFF) pid = pid * 10 + uint64_t(*p++ - '0');
    if (p == digits || pid == 0 || pid > 0x7FFFFFFF) return 0;
    if (*p == '-') {
        const char* serial = ++p;
        while (*p >= '0' && *p <= '9') ++p;
        if (p == serial) return 0;
    }
    return *p ? 0 : static_cast<pid_t>(pid);
}

bool ProcessRuns(pid_t pid) { return pid == ::getpid() || ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

void RemoveStaleTempFiles(const std::string& target) {
    if (target.empty()) return;
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string prefix = (slash == std::string::npos ? target : target.substr(slash + 1)) + ".tmp";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> stale;
    while (const dirent* d = ::readdir(dir)) {
        const pid_t pid = TempFilePid(d->d_name, prefix);
        if (pid > 0 && !ProcessRuns(pid)) stale.push_back(folder + "/" + d->d_name);
    }
    ::closedir(dir);
    for (const std::string& path : stale) {
        struct stat st {};
        // Only files: a folder of that name is not ours to remove.
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
    }
}

bool WriteFileDurably(const std::string& path, const void* data, size_t size) {
    if (path.empty() || (size && !data)) return false;
    RemoveStaleTempFiles(path);
    static std::atomic<uint32_t> serial{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, data, size);
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolderOf(path);
    return true;
}

}  // namespace plat
