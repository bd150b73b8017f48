// Writes the bundled game: every image, map, sound, movie and script of it
// is made here from code, the same bytes at every run.
//
//   quild_demogen <game folder> [--force] [--faces <size>]
//
// The folder's ".demogen" file records what made its content; when it
// matches and main.lua is there, nothing is written again and it says so
// (pass --force to rewrite anyway).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "demogen.h"

namespace {

// Change when the generated content changes, so that an old game folder is
// written afresh.
constexpr const char* kContentVersion = "demogen 24";

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quild_demogen <game folder> [--force] [--faces <size>]\n");
        return 2;
    }
    demogen::Output out{argv[1]};
    bool force = false;
    int faces = 1024;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--force")) {
            force = true;
        } else if (!std::strcmp(argv[i], "--faces") && i + 1 < argc) {
            faces = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "quild_demogen: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (faces < 16 || faces > 4096 || (faces & (faces - 1))) {
        std::fprintf(stderr, "quild_demogen: the face size must be a power of two from 16 to 4096\n");
        return 2;
    }
    const std::string stamp = std::string(kContentVersion) + " faces " + std::to_string(faces) + "\n";
    const std::string stamp_path = out.root + "/.demogen";
    // Up to date: the stamp matches and the start-up script is there.
    if (!force && ReadSmallFile(stamp_path) == stamp && std::filesystem::exists(out.root + "/main.lua")) {
        std::printf("The game in %s is up to date: nothing written (--force writes it again).\n", out.root.c_str());
        return 0;
    }
    std::error_code ec;
    std::filesystem::create_directories(out.root, ec);
    std::printf("Writing the game into %s ...\n", out.root.c_str());
    demogen::WriteInterface(out);
    demogen::WriteRooms(out, faces);
    demogen::WriteMedia(out);
    demogen::WriteMesh(out);
    demogen::WriteEffects(out);
    demogen::WriteScripts(out);
    out.Text(".demogen", stamp);
    return 0;
}
