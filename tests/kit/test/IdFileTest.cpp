#include "tessel/kit/IdFile.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace tessel::kit {
namespace {

Salt countingSalt() {
    Salt s{};
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::uint8_t>(i);
    return s;
}

TEST(IdFile, FourLinesWithSaltedSha256) {
    const std::string text = idFileText("CN=Alice Smith/O=Acme", "secret", countingSalt());
    // SHA-256 of the bytes 00..0f followed by "secret", computed independently.
    EXPECT_EQ(text, "TESSEL-EMU-ID 1\n"
                    "CN=Alice Smith/O=Acme\n"
                    "000102030405060708090a0b0c0d0e0f\n"
                    "67557c0d86179c45199f096d85b7aeb2b8b34bf423c403ba517f72bcc5913c4c\n");
}

TEST(IdFile, HashDependsOnSaltAndPassword) {
    const Salt a = countingSalt();
    Salt b = a;
    b[15] ^= 1;
    EXPECT_NE(passwordHash(a, "pw"), passwordHash(b, "pw"));
    EXPECT_NE(passwordHash(a, "pw"), passwordHash(a, "pW"));
    EXPECT_EQ(passwordHash(a, "").size(), 64u);
}

TEST(IdFile, SeededSaltsRepeatAndRandomSaltsDiffer) {
    Random r1(42), r2(42);
    EXPECT_EQ(seededSalt(r1), seededSalt(r2));
    EXPECT_NE(seededSalt(r1), seededSalt(r1));
    EXPECT_NE(randomSalt(), randomSalt());
}

TEST(IdFile, RejectsNamesThatBreakTheLineFormat) {
    EXPECT_THROW(idFileText("", "x", countingSalt()), std::invalid_argument);
    EXPECT_THROW(idFileText("CN=A\nB", "x", countingSalt()), std::invalid_argument);
}

TEST(IdFile, WritesTheFileWithLfLineEnds) {
    const auto path =
        std::filesystem::temp_directory_path() / ("kit_id_" + std::to_string(::getpid()) + ".id");
    writeIdFile(path, "CN=Bob/O=Acme", "pw", countingSalt());
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), idFileText("CN=Bob/O=Acme", "pw", countingSalt()));
    std::filesystem::remove(path);
    EXPECT_THROW(writeIdFile("/nonexistent-dir/x.id", "CN=Bob/O=Acme", "pw", countingSalt()),
                 std::runtime_error);
}

} // namespace
} // namespace tessel::kit
