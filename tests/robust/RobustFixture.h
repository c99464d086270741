// A copy of the sample database in a folder of the test's own, with the environment a host gives
// the reader (its own notes.ini, the temporary folder, UTC, a log in the folder).
#pragma once

#include <gtest/gtest.h>

#include <tessel/kit/TempDir.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Transcript.h"

namespace tessel::test {

class RobustTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir.write("notes.ini", "[Notes]\n");
        sample = dir.copy(TESSEL_SOURCE_DIR "/samples/mail.dxl", "mail box.v1/mail.dxl");
        env.push_back(std::make_unique<kit::ScopedEnv>("NOTES_INI", (dir / "notes.ini").string()));
        env.push_back(std::make_unique<kit::ScopedEnv>("TMPDIR", dir.path().string()));
        env.push_back(std::make_unique<kit::ScopedEnv>("TZ", "UTC"));
        env.push_back(std::make_unique<kit::ScopedEnv>("QUILLON_TESSEL_LOG_FILE", (dir / "reader.log").string()));
        env.push_back(std::make_unique<kit::ScopedEnv>("QUILLON_TESSEL_LOG_LEVEL", "INFO"));
        env.push_back(std::make_unique<kit::ScopedEnv>("QUILLON_TESSEL_LOG_DIR", std::nullopt));
        tzset();
    }
    void TearDown() override {
        env.clear();
        tzset();
    }

    // Sweeps step by one when TESSEL_SWEEP=full, else by `stride` (the CI budget).
    static uint64_t stride(uint64_t ciStride) {
        const char *psz = std::getenv("TESSEL_SWEEP");
        return psz != nullptr && std::string(psz) == "full" ? 1 : ciStride;
    }
    // The reader's temporary folders still below the run's base.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(dir / "base", ec))
            names.push_back(entry.path().filename().string());
        return names;
    }
    std::string logText() const { return kit::TempDir::read(dir / "reader.log"); }

    kit::TempDir dir{"tessel robust.test"};
    std::filesystem::path sample;
    std::vector<std::unique_ptr<kit::ScopedEnv>> env;
};

} // namespace tessel::test
