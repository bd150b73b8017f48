// The per-user folder of the whole benchmark program (and of the programs
// it starts): a temporary folder, so log lines and anything else the engine
// writes there are gone with it when the program ends.
#include <cstdlib>

#include "temp_folder.h"

namespace {

struct BenchUserFolder {
    bench::TempFolder folder{"quild-bench-documents"};
    BenchUserFolder() {
        if (!folder.path().empty()) setenv("XDG_DOCUMENTS_DIR", folder.path().c_str(), 1);
    }
};
BenchUserFolder g_user_folder;

}  // namespace
