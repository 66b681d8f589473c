// The Windows test program of the file layer: every case against the model of NT, and the rows
// that Wine can show against Wine's own system calls too, in the folder the first argument
// names. A second argument runs only the cases whose name holds it.
#include <cstdio>
#include <string>

#include "tests/nt/table_runner.h"
#include "tests/nt/world.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::printf("usage: nt-layer-tests <folder for the Wine rows> [case filter]\n");
        return 2;
    }
    setDiskFolder(argv[1]);
    return nttest::runAll(argc > 2 ? utf8(argv[2]) : std::string());
}
