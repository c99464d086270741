// tessel stopped by SIGINT, SIGTERM or SIGHUP in the middle of an extraction: it closes the
// database, so the reader's temporary folder goes, and it ends by the signal it received.
#include "Run.h"

#include <tessel/kit/Dxl.h>
#include <tessel/kit/TempDir.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace tessel::cli::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> readerFolders(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind("tessel_", 0) == 0 && entry.is_directory())
            names.push_back(entry.path().filename().string());
    return names;
}

class Interrupted : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "tmp");
        kit::Database db;
        kit::Note note = kit::Note::document("Memo");
        note.add(kit::Item::text("Subject", "large attachment"));
        kit::FileAttachment file;
        file.name = "large.bin";
        file.data.resize(1 << 20);
        for (size_t i = 0; i < file.data.size(); i++)
            file.data[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
        note.add(kit::Item::file(file));
        db.add(std::move(note));
        dir_.write("mail.dxl", db.toDxl());
    }
    std::map<std::string, std::optional<std::string>> env() const {
        return {{"TMPDIR", (dir_ / "tmp").string()}, {"TZ", "UTC"}, {"LC_ALL", "C"},
                {"QUILLON_TESSEL_LOG_FILE", (dir_ / "reader.log").string()}, {"NOTES_INI", std::nullopt}};
    }
    kit::TempDir dir_{"tessel cli.interrupt"};
};

TEST_P(Interrupted, ClosesTheDatabaseAndEndsByTheSignal) {
    const int signal = GetParam();
    RunOptions listOptions;
    listOptions.workingDir = dir_.path();
    listOptions.env = env();
    RunResult list = runTessel({"list", "mail.dxl"}, listOptions);
    ASSERT_EQ(list.exitCode, 0) << list.err;
    std::string index;
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);)
        if (line.find("attachment") != std::string::npos && line.find("large.bin") != std::string::npos)
            index = line.substr(0, line.find_first_not_of("0123456789"));
    ASSERT_FALSE(index.empty()) << list.out;

    // Standard output is a pipe of one page that nobody reads yet: once it is full, tessel is in
    // the middle of writing the attachment, with the database open.
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const int capacity = ::fcntl(out[0], F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    const std::string program = tesselPath().string();
    const auto variables = env();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        if (::chdir(dir_.path().c_str()) != 0)
            ::_exit(126);
        for (const auto &[name, value] : variables) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        ::execl(program.c_str(), program.c_str(), "cat", "mail.dxl", index.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    int queued = 0;
    while (::ioctl(out[0], FIONREAD, &queued) == 0 && queued < capacity)
        ::usleep(1000);
    ASSERT_EQ(queued, capacity);
    ASSERT_EQ(readerFolders(dir_ / "tmp").size(), 1u) << "the open database has its folder";

    ASSERT_EQ(::kill(pid, signal), 0);
    char buffer[65536];
    size_t drained = 0;
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;)
        if (n > 0)
            drained += static_cast<size_t>(n);
    ::close(out[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
    EXPECT_TRUE(readerFolders(dir_ / "tmp").empty()) << "the reader's temporary folder is removed at close";
    EXPECT_LE(drained, size_t{1} << 20);
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupted, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return std::string(info.param == SIGINT ? "SIGINT" : info.param == SIGTERM ? "SIGTERM" : "SIGHUP");
                         });

} // namespace
} // namespace tessel::cli::test
