// The program's entry: the command line is the text after the program's
// name, handed on whole.
#include <exception>
#include <string>

#include "app/app_main.h"
#include "base/log.h"

int main(int argc, char** argv) {
    std::string command_line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) command_line += ' ';
        command_line += argv[i];
    }
    // The engine throws nothing itself; a library that does must not end
    // the program through std::terminate.
    try {
        return ApplicationMain("QUILD", command_line.c_str(), "final");
    } catch (const std::exception& e) {
        LogPrintf("[ERROR] - unexpected failure: %s", e.what());
    } catch (...) {
        LogPrintf("[ERROR] - unexpected failure");
    }
    return 1;
}
