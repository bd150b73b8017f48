// The program's entry: the command line is the text after the program's
// name, handed on whole.
#include <string>

#include "app/app_main.h"

int main(int argc, char** argv) {
    std::string command_line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) command_line += ' ';
        command_line += argv[i];
    }
    return ApplicationMain("QUILD", command_line.c_str(), "final");
}
