#include "Environment.h"
#include "Log.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace notesemu {
namespace {

using test::TempDir;

TEST(EnvironmentParse, ReadsVariablesWithoutRegardToCase) {
    const Environment env = Environment::parse("[Notes]\r\nKeyFileName=user.id\r\nDirectory=/data/notes\r\n");
    EXPECT_EQ(env.get("KeyFileName"), "user.id");
    EXPECT_EQ(env.get("keyfilename"), "user.id");
    EXPECT_EQ(env.get("DIRECTORY"), "/data/notes");
    EXPECT_EQ(env.get("Missing"), std::nullopt);
    EXPECT_EQ(env.size(), 2u);
}

struct ParseCase {
    const char *name;
    const char *text;
    std::map<std::string, std::string> expected;
};

class EnvironmentParseCases : public ::testing::TestWithParam<ParseCase> {};

TEST_P(EnvironmentParseCases, YieldsExactlyTheExpectedVariables) {
    const ParseCase &c = GetParam();
    const Environment env = Environment::parse(c.text);
    EXPECT_EQ(env.size(), c.expected.size());
    for (const auto &[name, value] : c.expected)
        EXPECT_EQ(env.get(name), value) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, EnvironmentParseCases,
    ::testing::Values(
        ParseCase{"NoSectionHeader", "A=1\nB=2", {{"A", "1"}, {"B", "2"}}},
        ParseCase{"ByteOrderMark",
                  "\xEF\xBB\xBF"
                  "A=1\n",
                  {{"A", "1"}}},
        ParseCase{"ValueKeepsEqualsAndSpaces", "Path=a=b c \n", {{"Path", "a=b c "}}},
        ParseCase{"NameIsTrimmed", "  Name\t=v\n", {{"Name", "v"}}},
        ParseCase{"EmptyValue", "Empty=\n", {{"Empty", ""}}},
        ParseCase{"FirstDefinitionWins", "A=1\na=2\n", {{"A", "1"}}},
        ParseCase{"CommentsAndBlankLines", "; note\n# other\n\n   \nA=1\n", {{"A", "1"}}},
        ParseCase{"OtherSectionsIgnored", "A=1\n[Other]\nB=2\n[notes]\nC=3\n", {{"A", "1"}, {"C", "3"}}},
        ParseCase{"LinesWithoutNameSkipped", "garbage\n=nameless\nA=1\n", {{"A", "1"}}},
        ParseCase{"UnterminatedSectionHeaderEndsNotesSection", "[Notes\nA=1\n", {}}),
    [](const ::testing::TestParamInfo<ParseCase> &info) { return std::string(info.param.name); });

TEST(EnvironmentParse, LogsEachLineItSkips) {
    LogCapture capture;
    Environment::parse("A=1\nno equals here\nA=2\n[Other]\n");
    EXPECT_TRUE(capture.contains("line 2 ignored"));
    EXPECT_TRUE(capture.contains("line 3: A is defined again"));
    EXPECT_TRUE(capture.contains("[Other]"));
}

TEST(EnvironmentParse, SetReplacesWithoutRegardToCaseAndEraseRemoves) {
    Environment env = Environment::parse("Name=old\n");
    env.set("NAME", "new");
    EXPECT_EQ(env.get("name"), "new");
    EXPECT_EQ(env.size(), 1u);
    env.erase("nAmE");
    EXPECT_EQ(env.get("Name"), std::nullopt);
}

// locateIni with a fake process environment.
class LocateIni : public ::testing::Test {
protected:
    IniSource locate(std::vector<std::string> args = {"prog"}) {
        argStorage_ = std::move(args);
        argv_.clear();
        for (std::string &arg : argStorage_)
            argv_.push_back(arg.data());
        return locateIni(argv_, [this](const char *name) -> std::optional<std::string> {
            const auto found = vars_.find(name);
            return found == vars_.end() ? std::nullopt : std::optional<std::string>(found->second);
        });
    }

    TempDir dir_;
    std::map<std::string, std::string> vars_;
    std::vector<std::string> argStorage_;
    std::vector<char *> argv_;
};

TEST_F(LocateIni, NotesIniVariableNamesTheFile) {
    const auto ini = dir_.write("custom.ini", "A=1\n");
    vars_["NOTES_INI"] = ini.string();
    const IniSource source = locate();
    EXPECT_EQ(source.status, NOERROR);
    EXPECT_EQ(source.path, ini);
}

TEST_F(LocateIni, NotesIniNamingAMissingFileOrADirectoryFails) {
    vars_["NOTES_INI"] = (dir_.path() / "missing.ini").string();
    EXPECT_EQ(locate().status, ERR_NO_NOTESINI);
    vars_["NOTES_INI"] = dir_.path().string();
    EXPECT_EQ(locate().status, ERR_NO_NOTESINI);
}

TEST_F(LocateIni, FirstPathDirectoryHoldingNotesIniWins) {
    dir_.write("b/notes.ini", "B=1\n");
    const auto second = dir_.write("c/notes.ini", "C=1\n");
    std::filesystem::create_directories(dir_.path() / "a");
#ifdef _WIN32
    const std::string separator = ";";
#else
    const std::string separator = ":";
#endif
    vars_["PATH"] = (dir_.path() / "a").string() + separator + (dir_.path() / "missing").string() +
                    separator + (dir_.path() / "c").string() + separator + (dir_.path() / "b").string();
    const IniSource source = locate();
    EXPECT_EQ(source.status, NOERROR);
    EXPECT_EQ(source.path, second);
}

TEST_F(LocateIni, NotesIniVariableTakesPrecedenceOverPath) {
    dir_.write("onpath/notes.ini", "A=1\n");
    const auto named = dir_.write("named.ini", "A=2\n");
    vars_["PATH"] = (dir_.path() / "onpath").string();
    vars_["NOTES_INI"] = named.string();
    EXPECT_EQ(locate().path, named);
}

TEST_F(LocateIni, NothingFoundMeansNoFileAndSuccess) {
    vars_["PATH"] = (dir_.path() / "empty").string();
    const IniSource source = locate();
    EXPECT_EQ(source.status, NOERROR);
    EXPECT_FALSE(source.path.has_value());
    vars_.clear();
    EXPECT_FALSE(locate().path.has_value());
}

TEST_F(LocateIni, ArgumentNamesTheFileAheadOfNotesIniButArgvZeroDoesNot) {
    const auto fromArg = dir_.write("arg.ini", "A=1\n");
    const auto fromVar = dir_.write("var.ini", "A=2\n");
    vars_["NOTES_INI"] = fromVar.string();
    EXPECT_EQ(locate({"prog", "-x", "=" + fromArg.string()}).path, fromArg);
    EXPECT_EQ(locate({"=" + fromArg.string(), "-x"}).path, fromVar);
    EXPECT_EQ(locate({"prog", "=" + (dir_.path() / "none.ini").string()}).status, ERR_NO_NOTESINI);
}

TEST(LoadEnvironment, ReadsTheLocatedFileAndFailsWhenItVanished) {
    TempDir dir;
    const auto ini = dir.write("notes.ini", "[Notes]\nDirectory=/x\n");
    Environment env;
    EXPECT_EQ(loadEnvironment({NOERROR, ini}, env), NOERROR);
    EXPECT_EQ(env.get("directory"), "/x");

    LogCapture capture;
    std::filesystem::remove(ini);
    EXPECT_EQ(loadEnvironment({NOERROR, ini}, env), ERR_NO_NOTESINI);
    EXPECT_EQ(env.size(), 0u);
    EXPECT_TRUE(capture.contains("notes.ini"));
}

} // namespace
} // namespace notesemu
