#include <quillon/host/Config.h>
#include <quillon/host/Host.h>

#include <gtest/gtest.h>

#include <tessel/kit/TempDir.h>

using tessel::kit::TempDir;

#include <cstring>

using quillon::Config;
using quillon::Host;

namespace {

// Calls the services table's entry as the reader does.
struct ProfileResult {
    int result;
    std::string text;
};

ProfileResult profile(Host &host, const char *pszSection, const char *pszKey, const char *pszDefault,
                      uint32_t cbBuffer) {
    std::string buffer(cbBuffer + 4, '#');
    QLHAPI *pHAPI = host.services();
    int result = pHAPI->fpGetProfileString(pHAPI, pszSection, pszKey, pszDefault, buffer.data(), cbBuffer, 0);
    // Nothing may be written past cbBuffer.
    EXPECT_EQ(buffer.substr(cbBuffer), "####");
    return {result, buffer.c_str()};
}

TEST(ProfileString, AnswersPresentAbsentEmptyAndCutValues) {
    Config config;
    config.loadText("[tessel]\n"
                    "ExportDXL = 1\n"
                    "AltSentField=\n"
                    "MailLogoFieldDefaultValue = 0123456789abcdef\n"
                    "[Sorrel]\n"
                    "ShowAttachmentName=1\n");
    Host host(std::move(config));

    struct Case {
        const char *pszSection;
        const char *pszKey;
        const char *pszDefault;
        uint32_t cbBuffer;
        int result;
        const char *pszText;
    } cases[] = {
        {"tessel", "ExportDXL", "", 32, 1, "1"},
        {"TESSEL", "exportdxl", "", 32, 1, "1"}, // names ignore case
        {"sorrel", "SHOWATTACHMENTNAME", "", 9, 1, "1"},
        {"tessel", "ExtractAllNotes", "", 32, 0, ""},                 // absent
        {"tessel", "ExtractAllNotes", "dflt", 32, 0, "dflt"},         // absent: the default
        {"tessel", "AltSentField", "dflt", 32, 0, "dflt"},            // empty counts as absent
        {"nosuch", "ExportDXL", "", 32, 0, ""},                       // absent section
        {"tessel", "MailLogoFieldDefaultValue", "", 8, 1, "0123456"}, // cut to size - 1
        {"tessel", "MailLogoFieldDefaultValue", "", 17, 1, "0123456789abcdef"},
        {"tessel", "MailLogoFieldDefaultValue", "", 1, 1, ""},
        {"tessel", "Missing", "longdefault", 5, 0, "long"}, // the default is cut too
        {"tessel", "Missing", nullptr, 5, 0, ""},
        {nullptr, "ExportDXL", "d", 5, 0, "d"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.pszSection ? c.pszSection : "(null)") + "/" + c.pszKey + " size " +
                     std::to_string(c.cbBuffer));
        ProfileResult got = profile(host, c.pszSection, c.pszKey, c.pszDefault, c.cbBuffer);
        EXPECT_EQ(got.result, c.result);
        EXPECT_EQ(got.text, c.pszText);
    }
}

TEST(ProfileString, RefusesAMissingBuffer) {
    Config config;
    config.set("tessel", "ExportDXL", "1");
    Host host(std::move(config));
    QLHAPI *pHAPI = host.services();
    EXPECT_EQ(pHAPI->fpGetProfileString(pHAPI, "tessel", "ExportDXL", "", nullptr, 32, 0), 0);
    char c = '#';
    EXPECT_EQ(pHAPI->fpGetProfileString(pHAPI, "tessel", "ExportDXL", "", &c, 0, 0), 0);
    EXPECT_EQ(c, '#');
}

TEST(Config, OverridesWinWhateverTheOrder) {
    Config config;
    config.set("tessel", "TempDir", "/from/code");
    config.loadText("[tessel]\nTempDir=/from/file\nExportDXL=1\n");
    config.set("TESSEL", "exportdxl", "0");
    EXPECT_EQ(config.get("tessel", "TempDir"), "/from/code");
    EXPECT_EQ(config.get("tessel", "ExportDXL"), "0");
    config.unset("tessel", "ExportDXL");
    EXPECT_EQ(config.get("tessel", "ExportDXL"), "1");
    // An override can also make a key empty, which the services table reports as absent.
    config.set("tessel", "TempDir", "");
    Host host(std::move(config));
    EXPECT_EQ(profile(host, "tessel", "TempDir", "", 64).result, 0);
}

TEST(Config, ReadsTheSyntaxItDocuments) {
    Config config;
    config.loadText("\xEF\xBB\xBF; comment\r\n"
                    "# another comment\r\n"
                    "  [ tessel ]  \r\n"
                    "\r\n"
                    "  TempDir  =  C:\\tmp\\  \r\n"
                    "Quoted = \"  keeps blanks  \"\r\n"
                    "Twice = first\r\n"
                    "Twice = second\r\n"
                    "Equals = a=b\r\n"
                    "[other]\r\n"
                    "TempDir = elsewhere\r\n");
    EXPECT_TRUE(config.warnings().empty());
    EXPECT_EQ(config.get("tessel", "TempDir"), "C:\\tmp\\");
    EXPECT_EQ(config.get("tessel", "Quoted"), "  keeps blanks  ");
    EXPECT_EQ(config.get("tessel", "Twice"), "second");
    EXPECT_EQ(config.get("tessel", "Equals"), "a=b");
    EXPECT_EQ(config.get("other", "TempDir"), "elsewhere");
    EXPECT_EQ(config.get("tessel", "Missing"), std::nullopt);
}

TEST(Config, SkipsMalformedLinesAndReportsEach) {
    TempDir dir;
    std::string text = "orphan = before any section\n"
                       "[tessel\n"
                       "[tessel]\n"
                       "no equals sign here\n"
                       " = no key\n"
                       "[]\n"
                       "ExportDXL = 1\n"
                       "Nul = a";
    text += '\0';
    text += "b\nExtractAllNotes = 1";
    std::filesystem::path file = dir.write("tessel.ini", text);

    Config config;
    ASSERT_TRUE(config.loadFile(file));
    EXPECT_EQ(config.get("tessel", "ExportDXL"), "1");
    EXPECT_EQ(config.get("tessel", "ExtractAllNotes"), "1"); // last line without a newline
    EXPECT_EQ(config.get("tessel", "Nul"), std::nullopt);
    EXPECT_EQ(config.get("tessel", "orphan"), std::nullopt);
    const std::vector<std::string> &warnings = config.warnings();
    ASSERT_EQ(warnings.size(), 6u);
    const int lines[] = {1, 2, 4, 5, 6, 8};
    for (size_t i = 0; i < warnings.size(); ++i)
        EXPECT_EQ(warnings[i].rfind(file.string() + ":" + std::to_string(lines[i]) + ": ", 0), 0u)
            << warnings[i];
}

TEST(Config, ReportsAnUnreadableFile) {
    TempDir dir;
    Config config;
    EXPECT_FALSE(config.loadFile(dir / "missing.ini"));
    EXPECT_FALSE(config.loadFile(dir.path()));
    ASSERT_EQ(config.warnings().size(), 2u);
    EXPECT_NE(config.warnings()[0].find("missing.ini"), std::string::npos);
    EXPECT_TRUE(config.loadFile(dir.write("empty.ini", "")));
    EXPECT_EQ(config.warnings().size(), 2u);
}

} // namespace
