// kerg-sample-archive DIR: writes the small built-in sample archive into DIR.
#include <iostream>

#include "tools/sample_archive.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "użycie: kerg-sample-archive KATALOG\n";
        return 2;
    }
    if (!tools::WriteSampleArchive(argv[1])) {
        std::cerr << "kerg-sample-archive: nie można zapisać archiwum w " << argv[1] << '\n';
        return 1;
    }
    return 0;
}
