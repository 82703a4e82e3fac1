// kerg-import: completes the works of the Windows records system from the DOS archive.
#include "app/program.h"

int main(int argc, char** argv)
{
    return app::RunProgram(argc, argv);
}
