// Shared set-up for the plug-in's unit tests: a host over a counting allocator, a reader context
// made the way open makes it, a log file per test and environment variables that restore
// themselves.
#pragma once

#include <gtest/gtest.h>

#include <quillon/host/Host.h>
#include <tessel/kit/TempDir.h>
#include <tessel/kit/TestAllocator.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "nsf/diag/log.h"
#include "nsf/base/context.h"

namespace tessel::test {

using kit::contains;
using kit::readFile;
using kit::ScopedEnv;
using kit::splitLines;
using kit::stripTimestamps;
using kit::TempDir;

// A reader context as open allocates it, over a host whose allocator counts every block, writing
// its log at level ALL (without timestamps) to a file of its own. The test runs in its scratch
// folder, so inputs placed there are opened by their relative names.
class NsfTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("QUILLON_TESSEL_LOG_LEVEL", "ALL");
        env.set("QUILLON_TESSEL_LOG_TIMESTAMP", "FALSE");
        env.set("QUILLON_TESSEL_LOG_API", "TRUE");
        env.set("QUILLON_TESSEL_LOG_FILE", logPath().string());
        env.unset("QUILLON_TESSEL_LOG_DIR");
        cwd = std::make_unique<kit::ScopedCurrentPath>(scratch.path());
        quillon::HostOptions options;
        options.allocator = &allocator;
        options.tempDir = (scratch.path() / "base" / "").string(); // ends in the native separator
        host = std::make_unique<quillon::Host>(quillon::Config{}, options);
        pContext = static_cast<NSFCONTEXT *>(allocator.allocate(sizeof(NSFCONTEXT)));
        ASSERT_NE(pContext, nullptr);
        std::memset(pContext, 0, sizeof(NSFCONTEXT));
        pContext->services = host->services();
        nsfLogOpen(pContext);
    }
    void TearDown() override {
        if (pContext != nullptr) {
            nsfLogClose(pContext);
            allocator.release(pContext);
        }
        cwd.reset();
    }

    std::filesystem::path logPath() const { return scratch.path() / "test.log"; }
    std::vector<std::string> logLines() {
        if (pContext != nullptr && pContext->logFile != nullptr)
            fflush(pContext->logFile);
        return splitLines(readFile(logPath()));
    }

    ScopedEnv env;
    TempDir scratch;
    std::unique_ptr<kit::ScopedCurrentPath> cwd; // the scratch folder, while the test runs
    quillon::TestAllocator allocator;
    std::unique_ptr<quillon::Host> host;
    NSFCONTEXT *pContext = nullptr;
};

} // namespace tessel::test
