// Runs the stress suite in one process and prints its figures at the end.
#include <gtest/gtest.h>

#include "stress_support.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    halvix::stress::printFigures();
    return result;
}
