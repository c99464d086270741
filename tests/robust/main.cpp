// The tests' entry point. Started as "--reader <database> <scratch> <transcript>", the program is
// one reader process of the concurrency tests instead: it writes its run's transcript and exits 0
// when the run reported no failure. Started as "--die-holding-lock", it takes the lock that readers
// hold while they start the Notes runtime and is killed holding it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "nsf/notes/session.h"
#include "nsf/os/qlsys.h"

#include "Process.h"
#include "Transcript.h"

int main(int argc, char **argv) {
    const std::vector<std::filesystem::path> args = tessel::test::programArguments(argc, argv);
    if (args.size() == 4 && args[0] == "--reader") {
        tessel::test::RunResult run = tessel::test::runWhole(args[1], args[2]);
        std::ofstream(args[3], std::ios::binary) << run.transcript;
        return run.anyFailure ? 1 : 0;
    }
    if (args.size() == 1 && args[0] == "--die-holding-lock") {
        QLSYS_MUTEX *pMutex = qlsys_mutex_open(NSF_MUTEX_NAME);
        if (pMutex == nullptr || qlsys_mutex_lock(pMutex) == QLSYS_WAIT_FAILED)
            return 1;
        tessel::test::killSelf();
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
