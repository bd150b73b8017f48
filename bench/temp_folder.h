#pragma once
// A folder of the benchmark's own under the system's temporary folder,
// removed with everything in it when the object goes. Held in a function
// static, it lives until the program ends.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace bench {

class TempFolder {
public:
    explicit TempFolder(const char* prefix) {
        std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Empty when the folder could not be made.
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace bench
