#include "support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace quild_test {

namespace fs = std::filesystem;

namespace {
TempDir* g_home = nullptr;
}

void IsolateHome() {
    if (!g_home) {
        g_home = new TempDir();  // lives for the whole run
        std::atexit([] {
            delete g_home;
            g_home = nullptr;
        });
    }
    setenv("HOME", g_home->path().c_str(), 1);
    unsetenv("XDG_DOCUMENTS_DIR");
}

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "quild-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    path_ = made ? made : tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string BuildOutputPath(const std::string& relative) {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ((ec ? fs::current_path(ec) : exe.parent_path()) / relative).string();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string ReadFile(const std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return {};
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace quild_test
