// The tests' entry point. Started as "--reader <database> <scratch> <transcript>", the program is
// one reader process of the concurrency tests instead: it writes its run's transcript and exits 0
// when the run reported no failure. Started as "--die-holding-lock", it takes the lock that readers
// hold while they start the Notes runtime and is killed holding it.
#include <gtest/gtest.h>

#include <cstring>
#include <csignal>
#include <fstream>

#include "nsf/notes/session.h"
#include "nsf/os/qlsys.h"

#include "Transcript.h"

int main(int argc, char **argv) {
    if (argc == 5 && std::strcmp(argv[1], "--reader") == 0) {
        tessel::test::RunResult run = tessel::test::runWhole(argv[2], argv[3]);
        std::ofstream(argv[4], std::ios::binary) << run.transcript;
        return run.anyFailure ? 1 : 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--die-holding-lock") == 0) {
        QLSYS_MUTEX *pMutex = qlsys_mutex_open(NSF_MUTEX_NAME);
        if (pMutex == nullptr || qlsys_mutex_lock(pMutex) == QLSYS_WAIT_FAILED)
            return 1;
        std::raise(SIGKILL);
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
