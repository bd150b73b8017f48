#pragma once
// Shared helpers for the test programs.
#include <string>
#include <vector>

namespace quild_test {

// Points HOME (and XDG_DOCUMENTS_DIR) at a fresh temporary folder, so no
// test writes into the real per-user folder.
void IsolateHome();

// A fresh empty temporary folder, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The absolute path of `relative` beside the test program in the build
// folder, whatever the working directory: kept outputs (frames, generated
// data roots) never land in the source tree.
std::string BuildOutputPath(const std::string& relative);

// Makes the folders on the way; false when the file could not be written.
bool WriteFile(const std::string& path, const std::string& bytes);
// "" when the path is not a regular file.
std::string ReadFile(const std::string& path);

}  // namespace quild_test
