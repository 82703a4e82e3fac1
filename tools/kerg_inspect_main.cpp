// kerg-inspect: the command-line entry point.
#include <iostream>

#include "tools/inspect.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return tools::RunInspect(args, std::cout, std::cerr);
}
