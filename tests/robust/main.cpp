// The tests' entry point. Started as "--reader <database> <scratch> <transcript>", the program is
// one reader process of the concurrency tests instead: it writes its run's transcript and exits 0
// when the run reported no failure.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "Transcript.h"

int main(int argc, char **argv) {
    if (argc == 5 && std::strcmp(argv[1], "--reader") == 0) {
        tessel::test::RunResult run = tessel::test::runWhole(argv[2], argv[3]);
        std::ofstream(argv[4], std::ios::binary) << run.transcript;
        return run.anyFailure ? 1 : 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
