// Temporary workspace: the per-process directory, unique files in it, and what close removes.
#include "NsfFixture.h"

#include <regex>

#include <sys/stat.h>
#include <unistd.h>

#include "nsf/notes/tempdir.h"
#include "nsf/base/status.h"

namespace tessel::test {
namespace {

class TempDirTest : public NsfTest {
protected:
    std::string expectedDir() const {
        return (scratch.path() / "base" / ("tessel_" + std::to_string(getpid()))).string();
    }
    size_t countFiles(const std::filesystem::path &dir) {
        size_t c = 0;
        for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir))
            c++;
        return c;
    }
};

TEST_F(TempDirTest, CreatesAPrivateDirectoryAndReusesIt) {
    ASSERT_EQ(nsfCreateTempDir(pContext), NSF_STATUS_OK);
    EXPECT_EQ(pContext->szTempDir, expectedDir());
    struct stat st;
    ASSERT_EQ(lstat(pContext->szTempDir, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(contains(logLines(), "[0/0] INFO nsfCreateTempDir(): " + expectedDir()));

    // A second context of the process finds it and uses it as it is.
    std::ofstream(std::filesystem::path(expectedDir()) / "other.TMP") << "x";
    ASSERT_EQ(nsfCreateTempDir(pContext), NSF_STATUS_OK);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(expectedDir()) / "other.TMP"));
    EXPECT_EQ(nsfDeleteTempDir(pContext), NSF_STATUS_OK);
    EXPECT_FALSE(std::filesystem::exists(expectedDir()));
}

TEST_F(TempDirTest, HostBaseWithoutSeparatorStillMakesASubdirectory) {
    host->setTempDirectory((scratch.path() / "base").string());
    ASSERT_EQ(nsfCreateTempDir(pContext), NSF_STATUS_OK);
    EXPECT_EQ(pContext->szTempDir, expectedDir());
    nsfDeleteTempDir(pContext);
}

TEST_F(TempDirTest, SystemTempPathWhenTheHostHasNone) {
    host->setTempDirectory("");
    env.set("TMPDIR", (scratch.path() / "sys").string());
    ASSERT_EQ(nsfCreateTempDir(pContext), NSF_STATUS_OK);
    EXPECT_EQ(pContext->szTempDir,
              (scratch.path() / "sys" / ("tessel_" + std::to_string(getpid()))).string());
    nsfDeleteTempDir(pContext);
}

TEST_F(TempDirTest, RefusesALinkPlantedAtThePredictableName) {
    std::filesystem::create_directories(scratch.path() / "base");
    std::filesystem::create_directories(scratch.path() / "elsewhere");
    std::filesystem::create_directory_symlink(scratch.path() / "elsewhere", expectedDir());
    EXPECT_EQ(nsfCreateTempDir(pContext), NSF_STATUS_INTERNAL);
    EXPECT_STREQ(pContext->szTempDir, "");
    EXPECT_TRUE(contains(logLines(), "[0/0] ERROR nsfCreateTempDir(): Error creating temp dir..."));
    // Close has nothing of ours to remove, and the link's target is untouched.
    EXPECT_EQ(nsfDeleteTempDir(pContext), NSF_STATUS_OK);
    EXPECT_TRUE(std::filesystem::exists(scratch.path() / "elsewhere"));
}

TEST_F(TempDirTest, RefusesADirectoryOwnedBySomeoneElse) {
    std::filesystem::create_directories(expectedDir());
    if (chown(expectedDir().c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "changing the owner needs root";
    EXPECT_EQ(nsfCreateTempDir(pContext), NSF_STATUS_INTERNAL);
    EXPECT_STREQ(pContext->szTempDir, "");
}

TEST_F(TempDirTest, TempFilesAreNewEmptyAndNamedByPrefix) {
    ASSERT_EQ(nsfCreateTempDir(pContext), NSF_STATUS_OK);
    char szPath1[260];
    char szPath2[260];
    ASSERT_EQ(nsfGetTempFilePath(pContext, "tmp", szPath1, sizeof(szPath1)), NSF_STATUS_OK);
    ASSERT_EQ(nsfGetTempFilePath(pContext, "cdfile", szPath2, sizeof(szPath2)), NSF_STATUS_OK);
    EXPECT_STRNE(szPath1, szPath2);
    const std::regex name1(std::regex_replace(expectedDir(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                           R"(/tmp[0-9A-F]{1,4}\.TMP)");
    EXPECT_TRUE(std::regex_match(szPath1, name1)) << szPath1;
    EXPECT_EQ(std::filesystem::path(szPath2).filename().string().substr(0, 3), "cdf");
    EXPECT_EQ(std::filesystem::file_size(szPath1), 0u);
    EXPECT_EQ(std::filesystem::file_size(szPath2), 0u);
    nsfDeleteTempDir(pContext);
}

TEST_F(TempDirTest, VanishedDirectoryIsMadeAgain) {
    ASSERT_EQ(nsfCreateTempDir(pContext), NSF_STATUS_OK);
    std::filesystem::remove_all(expectedDir()); // another context of the process closed
    char szPath[260];
    ASSERT_EQ(nsfGetTempFilePath(pContext, "tmp", szPath, sizeof(szPath)), NSF_STATUS_OK);
    EXPECT_TRUE(std::filesystem::exists(szPath));
    EXPECT_TRUE(contains(logLines(), "[0/0] WARNING nsfGetTempFilePath(): No temp dir, szTempDir..."));
    nsfDeleteTempDir(pContext);
}

TEST_F(TempDirTest, TooSmallABufferFailsAndLeavesNoFile) {
    ASSERT_EQ(nsfCreateTempDir(pContext), NSF_STATUS_OK);
    size_t cBefore = countFiles(expectedDir());
    char szPath[16];
    EXPECT_EQ(nsfGetTempFilePath(pContext, "tmp", szPath, sizeof(szPath)), NSF_STATUS_INTERNAL);
    EXPECT_TRUE(
        contains(logLines(), "[0/0] ERROR nsfGetTempFilePath(): Temp file buffer too small (size 16)"));
    EXPECT_EQ(countFiles(expectedDir()), cBefore);
    nsfDeleteTempDir(pContext);
}

TEST_F(TempDirTest, NoFileCanBeMadeInsideAPlainFile) {
    auto file = scratch.path() / "plain";
    std::ofstream(file) << "x";
    std::snprintf(pContext->szTempDir, sizeof(pContext->szTempDir), "%s", file.c_str());
    char szPath[260];
    EXPECT_EQ(nsfGetTempFilePath(pContext, "tmp", szPath, sizeof(szPath)), NSF_STATUS_INTERNAL);
    EXPECT_TRUE(
        contains(logLines(), "[0/0] ERROR nsfGetTempFilePath(): Error getting temp file in temp dir..."));
}

TEST_F(TempDirTest, CloseRemovesOnlyTheDirectoryTheReaderMade) {
    // A directory named by the TempDir option holds the user's files too.
    auto configured = scratch.path() / "configured";
    std::filesystem::create_directories(configured);
    std::ofstream(configured / "precious.txt") << "keep";
    std::snprintf(pContext->szTempDir, sizeof(pContext->szTempDir), "%s/", configured.c_str());
    pContext->bTempDirCreated = 0;
    EXPECT_EQ(nsfDeleteTempDir(pContext), NSF_STATUS_OK);
    EXPECT_TRUE(std::filesystem::exists(configured / "precious.txt"));

    // The reader's own directory goes with everything in it, links not followed.
    ASSERT_EQ(nsfCreateTempDir(pContext), NSF_STATUS_OK);
    std::filesystem::create_directories(std::filesystem::path(expectedDir()) / "sub");
    std::ofstream(std::filesystem::path(expectedDir()) / "sub" / "a.TMP") << "x";
    std::filesystem::create_directory_symlink(configured, std::filesystem::path(expectedDir()) / "link");
    EXPECT_EQ(nsfDeleteTempDir(pContext), NSF_STATUS_OK);
    EXPECT_FALSE(std::filesystem::exists(expectedDir()));
    EXPECT_TRUE(std::filesystem::exists(configured / "precious.txt"));

    // Gone already (another context closed first): nothing to do.
    EXPECT_EQ(nsfDeleteTempDir(pContext), NSF_STATUS_OK);
}

// Directories that readers killed before their close left behind. Process IDs above the kernel's
// hard limit (2^22) never belong to a running process, whatever the machine runs.
constexpr int kDeadPid = (1 << 22) + 17;

class StaleTempDirs : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        host->setTempDirectory("");
        sys = scratch.path() / "sys";
        std::filesystem::create_directories(sys);
        env.set("TMPDIR", sys.string());
    }
    // A directory holding one file, as a killed reader leaves it.
    std::filesystem::path leave(const std::string &name) {
        std::filesystem::path dir = sys / name;
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "ATT1A2.TMP") << "attachment";
        return dir;
    }
    std::filesystem::path sys;
};

TEST_F(StaleTempDirs, OpenRemovesThoseOfEndedProcessesInTheSystemTempPath) {
    std::filesystem::path stale = leave("tessel_" + std::to_string(kDeadPid));
    std::filesystem::path other = leave("tessel_" + std::to_string(kDeadPid + 1));
    ASSERT_EQ(nsfCreateTempDir(pContext), NSF_STATUS_OK);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_FALSE(std::filesystem::exists(other));
    EXPECT_TRUE(std::filesystem::exists(pContext->szTempDir)) << "its own directory is made";
    EXPECT_TRUE(contains(logLines(), "[0/0] INFO nsfRemoveStaleTempDirs(): Deleted stale temp dir of ended process " +
                                         std::to_string(kDeadPid) + ": " + stale.string()));
    nsfDeleteTempDir(pContext);
}

TEST_F(StaleTempDirs, KeepsEverythingElse) {
    struct Case {
        const char *what;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"a running process's", "tessel_" + std::to_string(getppid())},
        {"this process's", "tessel_" + std::to_string(getpid())},
        {"no digits", "tessel_"},
        {"a leading zero", "tessel_0" + std::to_string(kDeadPid)},
        {"letters after the digits", "tessel_" + std::to_string(kDeadPid) + "a"},
        {"a log's name", "tessel_" + std::to_string(kDeadPid) + "_12.log"},
        {"another prefix", "Tessel_" + std::to_string(kDeadPid)},
        {"beyond any process ID", "tessel_99999999999"},
    };
    for (const Case &c : cases)
        leave(c.name);
    // A file and a symbolic link with a stale name: neither is a directory of ours.
    std::ofstream(sys / ("tessel_" + std::to_string(kDeadPid + 2))) << "file";
    std::filesystem::path target = leave("target");
    std::filesystem::create_directory_symlink(target, sys / ("tessel_" + std::to_string(kDeadPid + 3)));

    EXPECT_EQ(nsfRemoveStaleTempDirs(pContext, (sys.string() + "/").c_str()), 0);
    for (const Case &c : cases)
        EXPECT_TRUE(std::filesystem::exists(sys / c.name / "ATT1A2.TMP")) << c.what;
    EXPECT_TRUE(std::filesystem::exists(sys / ("tessel_" + std::to_string(kDeadPid + 2))));
    EXPECT_TRUE(std::filesystem::exists(target / "ATT1A2.TMP")) << "a link is never followed";
}

TEST_F(StaleTempDirs, KeepsThoseOfOtherUsers) {
    std::filesystem::path stale = leave("tessel_" + std::to_string(kDeadPid));
    if (lchown(stale.c_str(), geteuid() + 1, static_cast<gid_t>(-1)) != 0)
        GTEST_SKIP() << "giving a directory to another user needs root";
    EXPECT_EQ(nsfRemoveStaleTempDirs(pContext, (sys.string() + "/").c_str()), 0);
    EXPECT_TRUE(std::filesystem::exists(stale / "ATT1A2.TMP"));
    // Back to us, so that the scratch folder can be removed by a non-root cleanup too.
    EXPECT_EQ(lchown(stale.c_str(), geteuid(), static_cast<gid_t>(-1)), 0);
}

TEST_F(StaleTempDirs, NeverInTheHostsTempDirectory) {
    std::filesystem::path base = scratch.path() / "hostbase";
    std::filesystem::create_directories(base / ("tessel_" + std::to_string(kDeadPid)));
    host->setTempDirectory(base.string() + "/");
    std::filesystem::path inSystem = leave("tessel_" + std::to_string(kDeadPid));
    ASSERT_EQ(nsfCreateTempDir(pContext), NSF_STATUS_OK);
    EXPECT_TRUE(std::filesystem::exists(base / ("tessel_" + std::to_string(kDeadPid))));
    EXPECT_TRUE(std::filesystem::exists(inSystem)) << "the system's folder is not the one in use";
    nsfDeleteTempDir(pContext);
}

TEST_F(StaleTempDirs, AnUnreadableTempPathIsLoggedAndOpenGoesOn) {
    EXPECT_EQ(nsfRemoveStaleTempDirs(pContext, (scratch.path() / "missing" / "").string().c_str()), 0);
    std::ofstream(scratch.path() / "plain") << "x";
    EXPECT_EQ(nsfRemoveStaleTempDirs(pContext, (scratch.path() / "plain/").string().c_str()), 0);
    bool logged = false;
    for (const auto &line : logLines())
        logged = logged || line.find("WARNING nsfRemoveStaleTempDirs(): Cannot list temp path") != std::string::npos;
    EXPECT_TRUE(logged);
}

} // namespace
} // namespace tessel::test
