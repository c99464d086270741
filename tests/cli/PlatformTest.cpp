// The system layer of the command line, on the system the tests run on (Linux, or Windows under
// Wine): UTF-8 paths, binary files, no-replace renames, temporary files, the environment.
#include "Platform.h"

#include <tessel/kit/TempDir.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

namespace tessel::cli {
namespace {

namespace fs = std::filesystem;

// Greek, CJK and a Latin letter outside ASCII: no single Windows code page holds all three.
constexpr char kName[] = "\xCE\xA9mega \xE6\x97\xA5\xE6\x9C\xAC \xC3\xBC";

TEST(Platform, Utf8PathsReachTheFileSystemAndComeBack) {
    const fs::path name = pathFromUtf8(kName);
    EXPECT_EQ(utf8FromPath(name), kName);
#ifdef _WIN32
    EXPECT_EQ(name.native(), L"\u03A9mega \u65E5\u672C \u00FC");
#endif
    kit::TempDir dir("tessel cli.platform");
    const fs::path folder = dir.path() / name;
    ASSERT_TRUE(fs::create_directory(folder));
    std::set<std::string> listed;
    for (const auto &entry : fs::directory_iterator(dir.path()))
        listed.insert(utf8FromPath(entry.path().filename()));
    EXPECT_EQ(listed, std::set<std::string>{kName});
}

TEST(Platform, TextThatIsNotUtf8DoesNotThrow) {
    // A stray byte keeps the valid characters around it.
    const std::string back = utf8FromPath(pathFromUtf8("a\xFF"
                                                       "b"));
    EXPECT_EQ(back.front(), 'a');
    EXPECT_EQ(back.back(), 'b');
}

TEST(Platform, OutputFilesAreBinaryAndStartEmpty) {
    kit::TempDir dir("tessel cli.platform");
    const fs::path file = dir.path() / pathFromUtf8(std::string(kName) + ".bin");
    // Line ends, a NUL and a Ctrl+Z, which a text-mode file would change or stop at.
    const std::string bytes("one\ntwo\r\n\x00\x1A"
                            "end\n",
                            14);
    for (int round = 0; round < 2; round++) {
        const int fd = openForOutput(file);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        ASSERT_EQ(::write(fd, bytes.data(), static_cast<unsigned>(bytes.size())),
                  static_cast<int>(bytes.size()));
        ::close(fd);
    }
    EXPECT_EQ(kit::TempDir::read(file), bytes);

    const int fd = openFile(file, O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(openFileSize(fd), bytes.size());
    char buffer[16] = {};
    ASSERT_EQ(readAt(fd, buffer, sizeof buffer, 4), static_cast<int64_t>(bytes.size() - 4));
    EXPECT_EQ(std::string(buffer, bytes.size() - 4), bytes.substr(4));
    EXPECT_EQ(readAt(fd, buffer, sizeof buffer, bytes.size()), 0);
    ::close(fd);
}

TEST(Platform, TemporaryFilesAreNewAndEmpty) {
    kit::TempDir dir("tessel cli.platform");
    const fs::path folder = dir.path() / pathFromUtf8(kName);
    fs::create_directory(folder);
    std::set<fs::path> made;
    for (int i = 0; i < 20; i++) {
        const auto file = makeTemporaryFile(folder);
        ASSERT_TRUE(file.has_value()) << std::strerror(errno);
        EXPECT_EQ(file->parent_path(), folder);
        const std::string name = utf8FromPath(file->filename());
        EXPECT_TRUE(name.starts_with(".tessel-") && name.ends_with(".part")) << name;
        EXPECT_EQ(fs::file_size(*file), 0u);
        EXPECT_TRUE(made.insert(*file).second) << name << " was made twice";
    }
    EXPECT_FALSE(makeTemporaryFile(dir.path() / "absent").has_value());
}

TEST(Platform, ANoReplaceRenameKeepsWhatIsThere) {
    kit::TempDir dir("tessel cli.platform");
    const fs::path from = dir.write("new.part", "new");
    const fs::path to = dir.path() / pathFromUtf8(std::string(kName) + ".txt");
    dir.write(to.filename(), "old");
    errno = 0;
    EXPECT_FALSE(renameNoReplace(from, to));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(kit::TempDir::read(to), "old");
    EXPECT_EQ(kit::TempDir::read(from), "new");
    EXPECT_TRUE(renameReplacing(from, to));
    EXPECT_EQ(kit::TempDir::read(to), "new");
    EXPECT_FALSE(fs::exists(from));
    EXPECT_TRUE(removeFile(to));
    EXPECT_FALSE(removeFile(to));
}

TEST(Platform, TheEnvironmentIsThePlugInsToo) {
    kit::ScopedEnv saved("TESSEL_PLATFORM_TEST", std::nullopt);
    setEnvironment("TESSEL_PLATFORM_TEST", "a value");
    ASSERT_NE(std::getenv("TESSEL_PLATFORM_TEST"), nullptr);
    EXPECT_STREQ(std::getenv("TESSEL_PLATFORM_TEST"), "a value");
    unsetEnvironment("TESSEL_PLATFORM_TEST");
    EXPECT_EQ(std::getenv("TESSEL_PLATFORM_TEST"), nullptr);
}

TEST(Platform, APrivateFolderIsNewEachTime) {
    const auto first = makePrivateFolder("tessel-cli-test-");
    const auto second = makePrivateFolder("tessel-cli-test-");
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_TRUE(fs::is_directory(*first));
    EXPECT_TRUE(fs::is_empty(*first));
    fs::remove(*first);
    fs::remove(*second);
}

TEST(Platform, TheProgramKnowsItsFile) {
    const fs::path self = programPath();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(fs::is_regular_file(self)) << utf8FromPath(self);
    EXPECT_NE(utf8FromPath(self.filename()).find("cli_tests"), std::string::npos);
}

} // namespace
} // namespace tessel::cli
