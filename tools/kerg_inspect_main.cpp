// kerg-inspect: the command-line entry point.
#include <iostream>

#include "platform/system.h"
#include "tools/inspect.h"

int main(int argc, char** argv)
{
    platform::UseUtf8Console();
    const std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    return tools::RunInspect(args, std::cout, std::cerr);
}
