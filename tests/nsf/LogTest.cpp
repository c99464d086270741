// Diagnostic log: configuration from the environment, file naming, line formats and dumps.
#include "NsfFixture.h"

#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <regex>

#include "nsf/os/qlsys.h"

namespace tessel::test {
namespace {

TEST(LogLevelNames, OnlyExactUpperCaseNamesAreAccepted) {
    const std::pair<const char *, int> cases[] = {
        {"NONE", 1}, {"ERROR", 3}, {"WARN", 4},    {"INFO", 5},      {"DIAG", 6}, {"DEBUG", 7}, {"DUMP", 8},
        {"ALL", 9},  {"info", 0},  {"WARNING", 0}, {"NOTES_API", 0}, {"", 0},     {" INFO", 0}, {"INFO ", 0},
    };
    for (const auto &[pszName, nLevel] : cases)
        EXPECT_EQ(nsfParseLogLevel(pszName), nLevel) << pszName;
    EXPECT_EQ(nsfParseLogLevel(nullptr), 0);
}

// A context with only the fields the log uses, opened under the environment the test set.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char *pszName :
             {"QUILLON_TESSEL_LOG_LEVEL", "QUILLON_TESSEL_LOG_TIMESTAMP", "QUILLON_TESSEL_LOG_API",
              "QUILLON_TESSEL_LOG_FILE", "QUILLON_TESSEL_LOG_DIR"})
            env.unset(pszName);
        context = std::make_unique<NSFCONTEXT>();
        std::memset(context.get(), 0, sizeof(NSFCONTEXT));
    }
    void TearDown() override { nsfLogClose(context.get()); }

    std::filesystem::path expectedName() const {
        return "tessel_" + std::to_string(qlsys_getpid()) + "_" + std::to_string(qlsys_gettid()) + ".log";
    }
    std::vector<std::string> lines(const std::filesystem::path &path) {
        if (context->logFile != nullptr)
            fflush(context->logFile);
        return splitLines(readFile(path));
    }

    ScopedEnv env;
    TempDir dir;
    std::unique_ptr<NSFCONTEXT> context;
};

TEST_F(LogTest, NoFileUnlessTheLevelNamesOne) {
    for (const char *pszLevel : {"", "info", "WARNING", "NONE"}) {
        SCOPED_TRACE(pszLevel);
        env.set("QUILLON_TESSEL_LOG_LEVEL", pszLevel);
        env.set("QUILLON_TESSEL_LOG_DIR", dir.path().string());
        nsfLogOpen(context.get());
        EXPECT_EQ(context->logLevel, NSF_LOG_NONE);
        EXPECT_EQ(context->logFile, nullptr);
        nsfLog(context.get(), NSF_LOG_ERROR, "f()", "nothing");
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(LogTest, FileInTheDirectoryIsNamedByProcessAndThread) {
    env.set("QUILLON_TESSEL_LOG_LEVEL", "INFO");
    env.set("QUILLON_TESSEL_LOG_DIR", dir.path().string()); // no trailing separator: one is added
    nsfLogOpen(context.get());
    ASSERT_NE(context->logFile, nullptr);
    nsfLog(context.get(), NSF_LOG_INFO, "nsfInit()", "hello");
    EXPECT_EQ(lines(dir.path() / expectedName()).size(), 1u);
}

// The name the reader forms is predictable: a link planted there is not followed, a file of another
// user is not appended to, and a new file is readable by its owner only.
TEST_F(LogTest, TheFormedLogFileIsPrivateAndNeverALink) {
#ifdef _WIN32
    GTEST_SKIP() << "file modes, owners and symbolic links are POSIX matters";
#else
    env.set("QUILLON_TESSEL_LOG_LEVEL", "INFO");
    env.set("QUILLON_TESSEL_LOG_DIR", dir.path().string());
    std::filesystem::path victim = dir.path() / "victim.txt";
    std::ofstream(victim) << "keep\n";
    std::filesystem::create_symlink(victim, dir.path() / expectedName());
    nsfLogOpen(context.get());
    EXPECT_EQ(context->logFile, nullptr);
    EXPECT_EQ(context->logLevel, NSF_LOG_NONE);
    nsfLog(context.get(), NSF_LOG_ERROR, "f()", "planted");
    EXPECT_EQ(readFile(victim), "keep\n");

    std::filesystem::remove(dir.path() / expectedName());
    nsfLogOpen(context.get());
    ASSERT_NE(context->logFile, nullptr);
    nsfLogClose(context.get());
    struct stat st {};
    ASSERT_EQ(stat((dir.path() / expectedName()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    if (geteuid() != 0)
        GTEST_SKIP() << "handing a file to another user needs root";
    ASSERT_EQ(chown((dir.path() / expectedName()).c_str(), 65534, 65534), 0);
    nsfLogOpen(context.get());
    EXPECT_EQ(context->logFile, nullptr) << "another user's file at the formed name is refused";
#endif
}

// A file the user names is their choice: a link (as /dev/stderr is) is followed.
TEST_F(LogTest, AFileTheUserNamesIsOpenedAsItIs) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need privileges on Windows";
#else
    std::filesystem::path target = dir.path() / "target.log";
    std::filesystem::create_symlink(target, dir.path() / "named.log");
    env.set("QUILLON_TESSEL_LOG_LEVEL", "INFO");
    env.set("QUILLON_TESSEL_LOG_TIMESTAMP", "FALSE");
    env.set("QUILLON_TESSEL_LOG_FILE", (dir.path() / "named.log").string());
    nsfLogOpen(context.get());
    ASSERT_NE(context->logFile, nullptr);
    nsfLog(context.get(), NSF_LOG_INFO, "f()", "through the link");
    EXPECT_EQ(lines(target), std::vector<std::string>{"[0/0] INFO f(): through the link"});
#endif
}

// Values from the database reach the log: their control characters cannot forge a line.
TEST_F(LogTest, ControlCharactersAreEscaped) {
    env.set("QUILLON_TESSEL_LOG_LEVEL", "INFO");
    env.set("QUILLON_TESSEL_LOG_TIMESTAMP", "FALSE");
    env.set("QUILLON_TESSEL_LOG_FILE", (dir.path() / "x.log").string());
    nsfLogOpen(context.get());
    ASSERT_NE(context->logFile, nullptr);
    nsfLog(context.get(), NSF_LOG_INFO, "f()", "a.txt\n[0/0] ERROR forged(): b\r\t\x7f");
    nsfLog(context.get(), NSF_LOG_INFO, nullptr, "bare\nline");
    EXPECT_EQ(lines(dir.path() / "x.log"),
              (std::vector<std::string>{"[0/0] INFO f(): a.txt\\x0a[0/0] ERROR forged(): b\\x0d\\x09\\x7f",
                                        "bare\\x0aline"}));
}

TEST_F(LogTest, TooLongADirectoryFallsBackToTheCurrentDirectory) {
    std::string longDir = "/" + std::string(255, 'd');
    env.set("QUILLON_TESSEL_LOG_LEVEL", "INFO");
    env.set("QUILLON_TESSEL_LOG_DIR", longDir);
    auto oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    nsfLogOpen(context.get());
    std::filesystem::current_path(oldCwd);
    ASSERT_NE(context->logFile, nullptr);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / expectedName()));
}

TEST_F(LogTest, UncreatableFileTurnsTheLogOff) {
    env.set("QUILLON_TESSEL_LOG_LEVEL", "ALL");
    env.set("QUILLON_TESSEL_LOG_FILE", (dir.path() / "missing" / "x.log").string());
    nsfLogOpen(context.get());
    EXPECT_EQ(context->logFile, nullptr);
    EXPECT_EQ(context->logLevel, NSF_LOG_NONE);
    nsfLog(context.get(), NSF_LOG_ERROR, "f()", "dropped"); // must not crash
}

TEST_F(LogTest, LineFormatWithAndWithoutTimestamp) {
    auto path = dir.path() / "x.log";
    env.set("QUILLON_TESSEL_LOG_LEVEL", "DEBUG");
    env.set("QUILLON_TESSEL_LOG_FILE", path.string());
    nsfLogOpen(context.get());
    context->curSubFile = 3;
    context->numSubFiles = 12;
    nsfLog(context.get(), NSF_LOG_INFO, "nsfInit()", "Notes is initialized");
    nsfLog(context.get(), NSF_LOG_WARNING, nullptr, "bare line");
    nsfLog(context.get(), NSF_LOG_INFO, "nsfInit()", nullptr);
    auto logged = lines(path);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_TRUE(std::regex_match(logged[0], std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3} )"
                                                       R"(\[3/12\] INFO nsfInit\(\): Notes is initialized)")))
        << logged[0];
    EXPECT_EQ(logged[1], "bare line");

    nsfLogClose(context.get());
    env.set("QUILLON_TESSEL_LOG_TIMESTAMP", "false");
    nsfLogOpen(context.get());
    nsfLog(context.get(), NSF_LOG_ERROR, "f()", "x");
    EXPECT_EQ(lines(path).back(), "[3/12] ERROR f(): x");
}

TEST_F(LogTest, LevelDecidesWhichLinesAreWritten) {
    auto path = dir.path() / "x.log";
    env.set("QUILLON_TESSEL_LOG_LEVEL", "ERROR");
    env.set("QUILLON_TESSEL_LOG_TIMESTAMP", "FALSE");
    env.set("QUILLON_TESSEL_LOG_FILE", path.string());
    nsfLogOpen(context.get());
    EXPECT_EQ(context->bLogAPI, 0);
    for (int nLevel = NSF_LOG_NONE; nLevel <= NSF_LOG_ALL; nLevel++)
        nsfLogf(context.get(), nLevel, "f()", "level %d", nLevel);
    EXPECT_EQ(lines(path),
              (std::vector<std::string>{"[0/0] NOTES_API f(): level 2", "[0/0] ERROR f(): level 3"}));
}

// A level that is off costs nothing: the arguments of a formatted line are not even evaluated,
// so name lookups written as arguments are skipped; a level that is on evaluates them once.
TEST_F(LogTest, ArgumentsOfALineThatIsOffAreNotEvaluated) {
    auto path = dir.path() / "x.log";
    env.set("QUILLON_TESSEL_LOG_LEVEL", "WARN");
    env.set("QUILLON_TESSEL_LOG_TIMESTAMP", "FALSE");
    env.set("QUILLON_TESSEL_LOG_FILE", path.string());
    nsfLogOpen(context.get());
    int cEvaluated = 0;
    auto count = [&cEvaluated]() { return ++cEvaluated; };
    nsfLogf(context.get(), NSF_LOG_DIAG, "f()", "diag %d", count());
    nsfLogf(context.get(), NSF_LOG_INFO, "f()", "info %d", count());
    EXPECT_EQ(cEvaluated, 0);
    EXPECT_FALSE(nsfLogOn(context.get(), NSF_LOG_INFO));
    EXPECT_TRUE(nsfLogOn(context.get(), NSF_LOG_WARNING));
    nsfLogf(context.get(), NSF_LOG_WARNING, "f()", "warning %d", count());
    EXPECT_EQ(cEvaluated, 1);
    EXPECT_EQ(lines(path), (std::vector<std::string>{"[0/0] WARNING f(): warning 1"}));
}

TEST_F(LogTest, ApiLinesNeedTheirVariable) {
    env.set("QUILLON_TESSEL_LOG_LEVEL", "INFO");
    env.set("QUILLON_TESSEL_LOG_API", "true");
    env.set("QUILLON_TESSEL_LOG_FILE", (dir.path() / "x.log").string());
    nsfLogOpen(context.get());
    EXPECT_EQ(context->bLogAPI, 1);
    EXPECT_EQ(context->bLogTimestamp, 1);
}

TEST_F(LogTest, HexDumpOfTwentyBytes) {
    auto path = dir.path() / "x.log";
    env.set("QUILLON_TESSEL_LOG_LEVEL", "DUMP");
    env.set("QUILLON_TESSEL_LOG_FILE", path.string());
    nsfLogOpen(context.get());
    const uint8_t rgb[20] = {'H', 'e', 'l', 'l', 'o', 0x00, 0x7F, 0x20, 'A', 'B',
                             'C', 'D', 'E', 'F', 'G', 'H',  0xFF, '1',  '2', '3'};
    nsfLogDump(context.get(), NSF_LOG_DUMP, rgb, sizeof(rgb));
    nsfLogDump(context.get(), NSF_LOG_DUMP, rgb, 0);
    nsfLogDump(context.get(), NSF_LOG_DUMP, nullptr, 5);
    nsfLogDump(context.get(), NSF_LOG_ALL, rgb, 4); // above the level: nothing
    auto logged = lines(path);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0], "0       48 65 6c 6c 6f 00 7f 20 41 42 43 44 45 46 47 48   Hello   ABCDEFGH");
    EXPECT_EQ(logged[1], "10      ff 31 32 33 " + std::string(12 * 3, ' ') + "   123");
}

} // namespace
} // namespace tessel::test
