// main() of the test programs: GoogleTest, unless the program was started as a child process of
// one of its own tests.
#include <gtest/gtest.h>

#include "tests/support/child_process.h"

int main(int argc, char** argv)
{
    int code = 0;
    if (test_support::RunChildTaskIfAsked(argc, argv, code))
        return code;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
