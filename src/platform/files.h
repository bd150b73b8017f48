#pragma once
// Windows-style file names on a POSIX file system.
//
// Game content names its files as Windows would: either separator, any
// letter case. A path that does not exist as written is resolved component
// by component, ignoring case, against cached directory listings (read
// again whenever a folder's modification time changes).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace plat {

// '\\' becomes '/'; repeated separators collapse.
std::string NormalizeSeparators(const char* path);

// The existing file or folder the path names, or "" when none does.
// Never creates anything.
std::string ResolveExisting(const char* path);

// The path to create a file at: folders that exist under another case are
// resolved, the final name is kept as given. Creates nothing.
std::string ResolveForWrite(const char* path);

// fopen through the resolution above: a read mode ('r') resolves the whole
// path; a write or append mode resolves the folders only. A read mode opens
// regular files only: a folder, a FIFO or a device is refused (errno
// EISDIR or EINVAL) without blocking.
FILE* OpenFile(const char* path, const char* mode);
// The same check on a path taken as it is (no resolution).
FILE* OpenRegularFile(const char* path, const char* mode);

bool PathExists(const char* path);
bool IsFolder(const char* path);

// Creates the folder and its parents; true when it exists afterwards.
bool CreateFolders(const std::string& path);

struct DirEntry {
    std::string name;
    bool is_folder = false;
    bool hidden = false;  // dot-files
};
// Lists a folder (not "." or ".."); symbolic links are skipped, not followed.
bool ListDirectory(const char* path, std::vector<DirEntry>& out);

// The user's documents folder: $XDG_DOCUMENTS_DIR, else $HOME/Documents.
// "" when neither can be found.
std::string DocumentsFolder();

// Renames over an existing file atomically (the last step of a safe write).
bool ReplaceFile(const char* from, const char* to);

// Writes a whole file durably, the path taken as it is: into a new
// temporary file beside it (created exclusively under a unique name), synced,
// renamed over the target, then the folder synced. A failure leaves the old
// file as it was and no temporary file behind.
// Temporary files left beside the target by an earlier run that ended
// before its rename (killed, crashed) are removed first.
bool WriteFileDurably(const std::string& path, const void* data, size_t size);

// Removes the temporary files of the target, "<target>.tmp<pid>" and
// "<target>.tmp<pid>-<n>", whose process no longer runs. Those of a live
// process (this one included) and every other name are left alone.
void RemoveStaleTempFiles(const std::string& target);

}  // namespace plat
