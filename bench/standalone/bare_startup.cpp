// The bare program the engine's whole process is timed against: it reads
// "main.lua" from the working folder as the engine does, opens the same
// window, GL context and audio device, presents one frame and exits.
#include <cstdio>
#include <string>

#include "../bare_program.h"

int main() {
    std::string script;
    if (FILE* f = std::fopen("main.lua", "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) script.append(buffer, n);
        std::fclose(f);
    }
    const char* stubs[] = {"quit"};
    bare::Program p;
    bool ok = bare::Start(p, script.c_str(), stubs, 1);
    bare::Stop(p);
    SDL_Quit();
    return ok ? 0 : 1;
}
