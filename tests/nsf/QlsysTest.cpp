// The portable OS layer on POSIX: open modes, reads, directory creation and listing, temporary
// names and tree removal.
#include "NsfFixture.h"

#include <errno.h>
#include <unistd.h>

#include "nsf/os/qlsys.h"

namespace tessel::test {
namespace {

class QlsysTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(QlsysTest, OpenModesFollowTheirFirstLetter) {
    auto path = (dir.path() / "f.bin").string();
    EXPECT_EQ(qlsys_fopen(path.c_str(), "r"), QLSYS_INVALID_FILE) << "read needs an existing file";
    EXPECT_EQ(errno, ENOENT);

    QLSYS_FILE hFile = qlsys_fopen(path.c_str(), "w");
    ASSERT_NE(hFile, QLSYS_INVALID_FILE);
    ASSERT_EQ(write(static_cast<int>(hFile), "abcdef", 6), 6);
    EXPECT_EQ(qlsys_fclose(hFile), 0);

    hFile = qlsys_fopen(path.c_str(), "rb");
    ASSERT_NE(hFile, QLSYS_INVALID_FILE);
    char rgch[8] = {};
    EXPECT_EQ(qlsys_fread(rgch, 2, 4, hFile), 3u) << "whole items only";
    EXPECT_EQ(std::string(rgch, 6), "abcdef");
    EXPECT_EQ(qlsys_fread(rgch, 0, 4, hFile), 0u);
    EXPECT_EQ(qlsys_fclose(hFile), 0);

    hFile = qlsys_fopen(path.c_str(), "w+"); // truncates
    ASSERT_NE(hFile, QLSYS_INVALID_FILE);
    qlsys_fclose(hFile);
    EXPECT_EQ(std::filesystem::file_size(path), 0u);

    // Any other letter opens for reading only.
    hFile = qlsys_fopen(path.c_str(), "x");
    ASSERT_NE(hFile, QLSYS_INVALID_FILE);
    EXPECT_EQ(write(static_cast<int>(hFile), "z", 1), -1);
    qlsys_fclose(hFile);
    EXPECT_EQ(qlsys_fclose(QLSYS_INVALID_FILE), -1);
}

TEST_F(QlsysTest, ExclusiveCreationAndDeleteOnClose) {
    auto path = (dir.path() / "e.bin").string();
    QLSYS_FILE hFile = qlsys_open(path.c_str(), QLSYS_O_WRONLY | QLSYS_O_CREAT | QLSYS_O_EXCL);
    ASSERT_NE(hFile, QLSYS_INVALID_FILE);
    qlsys_fclose(hFile);
    EXPECT_EQ(qlsys_open(path.c_str(), QLSYS_O_WRONLY | QLSYS_O_CREAT | QLSYS_O_EXCL), QLSYS_INVALID_FILE);
    EXPECT_EQ(errno, EEXIST);

    auto temp = (dir.path() / "t.bin").string();
    hFile = qlsys_open(temp.c_str(), QLSYS_O_RDWR | QLSYS_O_CREAT | QLSYS_O_TEMPORARY);
    ASSERT_NE(hFile, QLSYS_INVALID_FILE);
    qlsys_fclose(hFile);
    EXPECT_FALSE(std::filesystem::exists(temp));
}

TEST_F(QlsysTest, PathsWithNonAsciiNamesAndLongNames) {
    // UTF-8 names are plain bytes on POSIX.
    auto utf8 = dir.path() / "B\xC3\xA9r\xC3\xA9nice \xE2\x82\xAC.txt";
    std::ofstream(utf8) << "x";
    QLSYS_FILE hFile = qlsys_fopen(utf8.c_str(), "r");
    EXPECT_NE(hFile, QLSYS_INVALID_FILE);
    qlsys_fclose(hFile);

    // A path of more than 300 characters, made with every directory level created on the way.
    auto deep = dir.path();
    for (int i = 0; i < 12; i++)
        deep /= std::string(30, static_cast<char>('a' + i));
    ASSERT_GT(deep.string().size(), 300u);
    EXPECT_EQ(qlsys_mkdir(deep.c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    EXPECT_EQ(qlsys_access(deep.c_str(), 0), 0);
    EXPECT_EQ(qlsys_access((deep / "missing").c_str(), 0), -1);
}

TEST_F(QlsysTest, MkdirCreatesMissingLevelsAndReportsWhenAllExist) {
    auto base = dir.path() / "a";
    std::filesystem::create_directory(base);
    auto target = base / "b" / "c";
    EXPECT_EQ(qlsys_mkdir(target.c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(qlsys_mkdir(target.c_str()), -1) << "every level existed";
    EXPECT_EQ(qlsys_mkdir(""), -1);
    EXPECT_EQ(qlsys_mkdir(nullptr), -1);
    EXPECT_EQ(qlsys_mkdir(("/" + std::string(5000, 'x')).c_str()), -1) << "never a shortened path";
    EXPECT_EQ(errno, ENAMETOOLONG);
}

TEST_F(QlsysTest, DirectoryListing) {
    QLSYS_DIR *pDir = qlsys_opendir(dir.path().c_str());
    ASSERT_NE(pDir, nullptr);
    std::set<std::string> names;
    int32_t nLast = 0;
    while (QLSYS_DIRENT *pEntry = qlsys_readdir(pDir)) {
        EXPECT_EQ(pEntry->d_ino, 1);
        EXPECT_EQ(pEntry->d_off, ++nLast);
        EXPECT_EQ(pEntry->d_namlen, std::strlen(pEntry->d_name));
        names.insert(pEntry->d_name);
    }
    EXPECT_EQ(qlsys_readdir(pDir), nullptr);
    EXPECT_EQ(qlsys_closedir(pDir), 0);
    EXPECT_EQ(names, (std::set<std::string>{".", ".."})) << "an empty directory has no entries of its own";

    std::ofstream(dir.path() / "one") << "1";
    pDir = qlsys_opendir(dir.path().c_str());
    names.clear();
    while (QLSYS_DIRENT *pEntry = qlsys_readdir(pDir))
        names.insert(pEntry->d_name);
    qlsys_closedir(pDir);
    EXPECT_TRUE(names.count("one"));

    // A missing directory is an empty listing, not an error.
    pDir = qlsys_opendir((dir.path() / "missing").c_str());
    ASSERT_NE(pDir, nullptr);
    EXPECT_EQ(qlsys_readdir(pDir), nullptr);
    qlsys_closedir(pDir);

    // A plain file is not a directory.
    EXPECT_EQ(qlsys_opendir((dir.path() / "one").c_str()), nullptr);
    EXPECT_EQ(errno, ENOTDIR);
}

TEST_F(QlsysTest, TempFileNamesAreUniqueAndTakeThreeCharactersOfThePrefix) {
    std::set<std::string> paths;
    for (int i = 0; i < 50; i++) {
        char szPath[512];
        ASSERT_EQ(qlsys_gettempfilename(dir.path().c_str(), "prefix", szPath, sizeof(szPath)), 0);
        EXPECT_EQ(std::filesystem::path(szPath).filename().string().substr(0, 3), "pre");
        paths.insert(szPath);
    }
    EXPECT_EQ(paths.size(), 50u);
    char szSmall[8];
    EXPECT_EQ(qlsys_gettempfilename(dir.path().c_str(), "tmp", szSmall, sizeof(szSmall)), -1);
}

TEST_F(QlsysTest, RemovingATreeNeverFollowsLinks) {
    auto outside = dir.path() / "outside";
    std::filesystem::create_directories(outside);
    std::ofstream(outside / "keep") << "k";
    auto tree = dir.path() / "tree";
    std::filesystem::create_directories(tree / "x" / "y");
    std::ofstream(tree / "x" / "y" / "f") << "f";
    std::filesystem::create_directory_symlink(outside, tree / "x" / "link");
    EXPECT_EQ(qlsys_rmtree((tree.string() + "/").c_str(), 1), 0);
    EXPECT_FALSE(std::filesystem::exists(tree));
    EXPECT_TRUE(std::filesystem::exists(outside / "keep"));

    // A link given as the tree itself is refused rather than followed.
    std::filesystem::create_directory_symlink(outside, dir.path() / "alias");
    EXPECT_EQ(qlsys_rmtree((dir.path() / "alias").c_str(), 1), -1);
    EXPECT_TRUE(std::filesystem::exists(outside / "keep"));
    EXPECT_EQ(qlsys_rmtree((dir.path() / "gone").c_str(), 1), 0);
}

TEST(QlsysEnvironment, SeparatorsAndTempPath) {
    EXPECT_EQ(qlsys_dir_separator("logs"), '/');
    EXPECT_EQ(qlsys_dir_separator("C:\\logs"), '/');
    ScopedEnv env;
    env.set("TMPDIR", "/var/tmp");
    char szPath[260];
    EXPECT_EQ(qlsys_gettemppath(szPath, sizeof(szPath)), 9u);
    EXPECT_STREQ(szPath, "/var/tmp/");
    EXPECT_EQ(qlsys_gettemppath(szPath, 9), 0u) << "no room for the terminator";
    env.unset("TMPDIR");
    EXPECT_EQ(qlsys_gettemppath(szPath, sizeof(szPath)), 5u);
    EXPECT_STREQ(szPath, "/tmp/");
}

} // namespace
} // namespace tessel::test
