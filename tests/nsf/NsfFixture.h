// Shared set-up for the plug-in's unit tests: a host over a counting allocator, a reader context
// made the way open makes it, a log file per test and environment variables that restore
// themselves.
#pragma once

#include <gtest/gtest.h>

#include <quillon/host/Allocator.h>
#include <quillon/host/Host.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "nsf/diag/log.h"
#include "nsf/base/context.h"

namespace tessel::test {

// Sets environment variables for the life of the object and puts the old values back.
class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;
    ~ScopedEnv() {
        for (const auto &[name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    void set(const std::string &name, const std::string &value) {
        remember(name);
        setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string &name) {
        remember(name);
        unsetenv(name.c_str());
    }

private:
    void remember(const std::string &name) {
        if (saved_.count(name) != 0)
            return;
        const char *psz = getenv(name.c_str());
        saved_[name] = psz ? std::optional<std::string>(psz) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessel-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::vector<std::string> splitLines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The lines of a log written with timestamps, with the timestamps taken off.
inline std::vector<std::string> stripTimestamps(const std::vector<std::string> &lines) {
    static const std::regex timestamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3} )");
    std::vector<std::string> result;
    for (const auto &line : lines)
        result.push_back(std::regex_replace(line, timestamp, ""));
    return result;
}

inline bool contains(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A reader context as open allocates it, over a host whose allocator counts every block, writing
// its log at level ALL (without timestamps) to a file of its own.
class NsfTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("QUILLON_TESSEL_LOG_LEVEL", "ALL");
        env.set("QUILLON_TESSEL_LOG_TIMESTAMP", "FALSE");
        env.set("QUILLON_TESSEL_LOG_API", "TRUE");
        env.set("QUILLON_TESSEL_LOG_FILE", logPath().string());
        env.unset("QUILLON_TESSEL_LOG_DIR");
        quillon::HostOptions options;
        options.allocator = &allocator;
        options.tempDir = (scratch.path() / "base/").string();
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
    }

    std::filesystem::path logPath() const { return scratch.path() / "test.log"; }
    std::vector<std::string> logLines() {
        if (pContext != nullptr && pContext->logFile != nullptr)
            fflush(pContext->logFile);
        return splitLines(readFile(logPath()));
    }

    ScopedEnv env;
    TempDir scratch;
    quillon::TestAllocator allocator;
    std::unique_ptr<quillon::Host> host;
    NSFCONTEXT *pContext = nullptr;
};

} // namespace tessel::test
