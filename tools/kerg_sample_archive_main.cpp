// kerg-sample-archive DIR: writes the small built-in sample archive into DIR.
#include <iostream>

#include "platform/system.h"
#include "tools/sample_archive.h"

int main(int argc, char** argv)
{
    platform::UseUtf8Console();
    const std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    if (args.size() != 1) {
        std::cerr << "użycie: kerg-sample-archive KATALOG\n";
        return 2;
    }
    if (!tools::WriteSampleArchive(args[0])) {
        std::cerr << "kerg-sample-archive: nie można zapisać archiwum w " << args[0] << '\n';
        return 1;
    }
    return 0;
}
