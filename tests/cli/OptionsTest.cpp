#include "Options.h"
#include "Plan.h"

#include <tessel/kit/TempDir.h>

#include <gtest/gtest.h>

namespace tessel::cli {
namespace {

using Kind = CredentialArg::Kind;

std::vector<std::pair<int32_t, std::string>> pairs(const std::vector<quillon::Credential> &credentials) {
    std::vector<std::pair<int32_t, std::string>> out;
    for (const auto &credential : credentials)
        out.emplace_back(credential.type, credential.value);
    return out;
}

constexpr int32_t kId = QLCredentialType_UserIdFile;
constexpr int32_t kPw = QLCredentialType_Password;

TEST(CollectCredentials, KeepsTheOrderOfTheCommandLine) {
    CLI::App app;
    CommonOptions options;
    addCommonOptions(&app, options, false);
    app.parse("--password p1 --id a.id --password-file pf --id b.id --password p2", false);
    collectCredentials(&app, options);
    ASSERT_EQ(options.credentials.size(), 5u);
    EXPECT_EQ(options.credentials[0].kind, Kind::Password);
    EXPECT_EQ(options.credentials[0].value, "p1");
    EXPECT_EQ(options.credentials[1].value, "a.id");
    EXPECT_EQ(options.credentials[2].kind, Kind::PasswordFile);
    EXPECT_EQ(options.credentials[3].value, "b.id");
    EXPECT_EQ(options.credentials[4].value, "p2");
}

TEST(BuildCredentials, ReadsPasswordFilesInPlace) {
    kit::TempDir dir("tessel cli.creds");
    kit::ScopedEnv environment(kPasswordVariable, std::nullopt);
    CommonOptions options;
    options.credentials = {{Kind::IdFile, "a.id"},
                           {Kind::PasswordFile, dir.write("pw", "secret one\r\nsecond line").string()},
                           {Kind::IdFile, "b.id"},
                           {Kind::Password, "two"}};
    std::vector<quillon::Credential> credentials;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(buildCredentials(options, credentials, warnings, error)) << error;
    EXPECT_EQ(pairs(credentials), (std::vector<std::pair<int32_t, std::string>>{
                                      {kId, "a.id"}, {kPw, "secret one"}, {kId, "b.id"}, {kPw, "two"}}));
    EXPECT_TRUE(warnings.empty());
}

TEST(BuildCredentials, TheEnvironmentPasswordFollowsEveryIdFile) {
    kit::ScopedEnv environment(kPasswordVariable, "from-env");
    CommonOptions options;
    options.credentials = {{Kind::IdFile, "a.id"}, {Kind::IdFile, "b.id"}};
    std::vector<quillon::Credential> credentials;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(buildCredentials(options, credentials, warnings, error));
    EXPECT_EQ(pairs(credentials), (std::vector<std::pair<int32_t, std::string>>{
                                      {kId, "a.id"}, {kPw, "from-env"}, {kId, "b.id"}, {kPw, "from-env"}}));
}

TEST(BuildCredentials, CommandLinePasswordsWinOverTheEnvironment) {
    kit::ScopedEnv environment(kPasswordVariable, "from-env");
    CommonOptions options;
    options.credentials = {{Kind::IdFile, "a.id"}, {Kind::Password, "given"}};
    std::vector<quillon::Credential> credentials;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(buildCredentials(options, credentials, warnings, error));
    EXPECT_EQ(pairs(credentials),
              (std::vector<std::pair<int32_t, std::string>>{{kId, "a.id"}, {kPw, "given"}}));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].find("given"), std::string::npos);
}

TEST(BuildCredentials, WarnsOfAPasswordBeforeAnyIdWithoutShowingIt) {
    kit::ScopedEnv environment(kPasswordVariable, std::nullopt);
    CommonOptions options;
    options.credentials = {{Kind::Password, "hunter2"}};
    std::vector<quillon::Credential> credentials;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(buildCredentials(options, credentials, warnings, error));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].find("hunter2"), std::string::npos);
}

TEST(BuildCredentials, AnUnreadablePasswordFileIsAnError) {
    kit::TempDir dir("tessel cli.creds");
    CommonOptions options;
    options.credentials = {{Kind::IdFile, "a.id"}, {Kind::PasswordFile, (dir / "absent").string()}};
    std::vector<quillon::Credential> credentials;
    std::vector<std::string> warnings;
    std::string error;
    EXPECT_FALSE(buildCredentials(options, credentials, warnings, error));
    EXPECT_NE(error.find("password file"), std::string::npos);
}

struct FormatCase {
    Format format;
    bool noHeader;
    uint32_t flags;
    const char *key; // the [tessel] key the format sets, or null
};

class FormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatTest, MapsOntoFlagsAndKeys) {
    CommonOptions options;
    options.format = GetParam().format;
    options.noHeader = GetParam().noHeader;
    EXPECT_EQ(extractFlags(options), GetParam().flags);
    quillon::Config config;
    std::string error;
    ASSERT_TRUE(buildConfig(options, true, config, error));
    for (const char *key : {"ExportDXL", "ExtractAllFields"}) {
        const bool expected = GetParam().key != nullptr && std::string(GetParam().key) == key;
        EXPECT_EQ(config.get("tessel", key).has_value(), expected) << key;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatTest,
                         ::testing::Values(FormatCase{Format::Mht, false, 0x4, nullptr},
                                           FormatCase{Format::Mht, true, 0x6, nullptr},
                                           FormatCase{Format::Text, false, 0x0, nullptr},
                                           FormatCase{Format::Text, true, 0x2, nullptr},
                                           FormatCase{Format::Fields, false, 0x0, "ExtractAllFields"},
                                           FormatCase{Format::Dxl, false, 0x4, "ExportDXL"}));

TEST(BuildConfig, OptionsWinOverSettingsAndTheFile) {
    kit::TempDir dir("tessel cli.config");
    CommonOptions options;
    options.configFile = dir.write("c.ini", "[tessel]\nExtractByTemplate = 1\nAltSentField = X\n").string();
    options.settings = {"tessel.ExtractAllNotes=0", "tessel.AltSentField=Y"};
    options.allNotes = true;
    options.noTemplates = true;
    quillon::Config config;
    std::string error;
    ASSERT_TRUE(buildConfig(options, true, config, error)) << error;
    EXPECT_EQ(config.get("tessel", "ExtractAllNotes"), "1");
    EXPECT_EQ(config.get("tessel", "ExtractByTemplate"), "0");
    EXPECT_EQ(config.get("tessel", "AltSentField"), "Y");
}

TEST(BuildConfig, RefusesAMalformedSetting) {
    CommonOptions options;
    options.settings = {"nodot"};
    quillon::Config config;
    std::string error;
    EXPECT_FALSE(buildConfig(options, true, config, error));
    EXPECT_NE(error.find("nodot"), std::string::npos);
}

TEST(OpenFlags, RootAndHiddenText) {
    CommonOptions options;
    EXPECT_EQ(openFlags(options), 0u);
    options.root = true;
    options.showHidden = true;
    EXPECT_EQ(openFlags(options), CNVO_CREATEROOTDIR | CNVO_SHOWHIDDENTEXT);
}

quillon::SubFile subFile(int32_t index, int32_t kind, std::optional<std::string> name, int32_t parent) {
    quillon::SubFile s;
    s.index = index;
    s.kind = kind;
    s.name = std::move(name);
    s.parent = parent;
    return s;
}

std::vector<std::string> planned(const std::vector<CatalogueEntry> &entries, Format format) {
    std::vector<std::string> out;
    for (const auto &path : planPaths(entries, format))
        out.push_back(path ? path->generic_string() : "-");
    return out;
}

TEST(PlanPaths, NotesAttachmentsAndTheRoot) {
    const std::vector<CatalogueEntry> entries{
        {0, subFile(0, QLSubFileType_Folder, std::nullopt, -1), 0},
        {1, subFile(1, QLSubFileType_Main, "mail_ql1.mail", 0), 0},
        {2, subFile(2, QLSubFileType_Attachment, "a.txt", 1), 0},
        {3, subFile(3, QLSubFileType_Attachment, "a.txt", 1), 0},
        {4, subFile(4, QLSubFileType_Main, "mail_ql4.tmp", 0), 0},
        {5, std::nullopt, 34},
        {6, subFile(6, QLSubFileType_OLE, "../obj.bin", 4), 0},
        {7, subFile(7, QLSubFileType_Attachment, std::nullopt, -1), 0},
    };
    EXPECT_EQ(planned(entries, Format::Mht),
              (std::vector<std::string>{"-", "mail_ql1.mht", "mail_ql1/a.txt", "mail_ql1/a (2).txt",
                                        "mail_ql4.txt", "-", "mail_ql4/obj.bin", "subfile_7"}));
    EXPECT_EQ(planned(entries, Format::Dxl)[1], "mail_ql1.dxl");
    EXPECT_EQ(planned(entries, Format::Text)[1], "mail_ql1.txt");
}

TEST(PlanPaths, HostileNoteNamesStayInsideAndApart) {
    const std::vector<CatalogueEntry> entries{
        {0, subFile(0, QLSubFileType_Main, "../../x.mail", -1), 0},
        {1, subFile(1, QLSubFileType_Main, "x.mail", -1), 0},
        {2, subFile(2, QLSubFileType_Attachment, "x.mht", -1), 0}, // an orphan clashing with the notes
        {3, subFile(3, QLSubFileType_Main, "", -1), 0},
    };
    EXPECT_EQ(planned(entries, Format::Mht),
              (std::vector<std::string>{"x.mht", "x (2).mht", "x (3).mht", "subfile_3.txt"}));
}

} // namespace
} // namespace tessel::cli
