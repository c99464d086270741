// Reader options: the nine keys of the "tessel" section, their exact-match rules, their sizes and
// the temporary directory they decide.
#include "NsfFixture.h"

#include "nsf/notes/tempdir.h"
#include "nsf/reader/options.h"

namespace tessel::test {
namespace {

class OptionsTest : public NsfTest {
protected:
    void TearDown() override {
        nsfDeleteTempDir(pContext);
        NsfTest::TearDown();
    }
    void set(const char *pszKey, const std::string &value) { host->config().set("tessel", pszKey, value); }
};

TEST_F(OptionsTest, NoSectionGivesTheDefaults) {
    nsfInitOptions(pContext);
    EXPECT_EQ(pContext->bExportDXL, 0);
    EXPECT_EQ(pContext->bExportDXL_PureXML, 0);
    EXPECT_EQ(pContext->bExtractAllNotes, 0);
    EXPECT_EQ(pContext->bExtractAllFields, 0);
    EXPECT_EQ(pContext->bExtractByTemplate, 1);
    EXPECT_STREQ(pContext->szMailLogoFieldName, "");
    EXPECT_STREQ(pContext->szMailLogoFieldDefaultValue, "");
    EXPECT_STREQ(pContext->szAltSentField, "");
    // A directory of the reader's own below the host's temporary directory.
    std::string expected = (scratch.path() / "base" / ("tessel_" + std::to_string(getpid()))).string();
    EXPECT_EQ(pContext->szTempDir, expected);
    EXPECT_TRUE(std::filesystem::is_directory(expected));
    auto lines = logLines();
    EXPECT_TRUE(contains(lines, "[0/0] INFO nsfInitOptions(): bExportDXL 0, bExportDXL_PureXML 0, "
                                "bExtractAllNotes 0, bExtractAllFields 0"));
    EXPECT_TRUE(contains(lines, "[0/0] INFO nsfInitOptions(): bExtractByTemplate 1"));
}

TEST_F(OptionsTest, FlagsAreOnOnlyForExactlyOne) {
    const std::pair<const char *, uint8_t> cases[] = {
        {"1", 1}, {"true", 0}, {"yes", 0}, {" 1", 0}, {"01", 0}, {"0", 0}, {"2", 0},
    };
    for (const auto &[pszValue, bExpected] : cases) {
        SCOPED_TRACE(pszValue);
        for (const char *pszKey : {"ExportDXL", "ExportDXL_PureXML", "ExtractAllNotes", "ExtractAllFields"})
            set(pszKey, pszValue);
        nsfInitOptions(pContext);
        EXPECT_EQ(pContext->bExportDXL, bExpected);
        EXPECT_EQ(pContext->bExportDXL_PureXML, bExpected);
        EXPECT_EQ(pContext->bExtractAllNotes, bExpected);
        EXPECT_EQ(pContext->bExtractAllFields, bExpected);
        nsfDeleteTempDir(pContext);
    }
}

TEST_F(OptionsTest, TemplatesAreOffOnlyForExactlyZero) {
    const std::pair<const char *, uint8_t> cases[] = {{"0", 0}, {"false", 1}, {"00", 1}, {"1", 1}, {"no", 1}};
    for (const auto &[pszValue, bExpected] : cases) {
        SCOPED_TRACE(pszValue);
        set("ExtractByTemplate", pszValue);
        nsfInitOptions(pContext);
        EXPECT_EQ(pContext->bExtractByTemplate, bExpected);
        nsfDeleteTempDir(pContext);
    }
}

TEST_F(OptionsTest, TextValuesAreCutToTheirFields) {
    set("MailLogoFieldName", std::string(40, 'n'));
    set("MailLogoFieldDefaultValue", std::string(70, 'v'));
    set("AltSentField", "DeliveredDate");
    nsfInitOptions(pContext);
    EXPECT_EQ(std::string(pContext->szMailLogoFieldName), std::string(31, 'n'));
    EXPECT_EQ(std::string(pContext->szMailLogoFieldDefaultValue), std::string(63, 'v'));
    EXPECT_STREQ(pContext->szAltSentField, "DeliveredDate");
    EXPECT_TRUE(contains(logLines(), "[0/0] INFO nsfInitOptions(): szAltSentField DeliveredDate"));
}

// The services entry as the host made it, and the buffer size each key was read with.
decltype(QLHAPI::fpGetProfileString) fpHostGetProfileString = nullptr;
std::map<std::string, uint32_t> bufferSizes;

int QLAPI recordingGetProfileString(QLHAPI *pHAPI, const char *pszSection, const char *pszKey,
                                    const char *pszDefault, char *pszBuffer, uint32_t cbBuffer, uint32_t dwFlags) {
    bufferSizes[pszKey] = cbBuffer;
    return fpHostGetProfileString(pHAPI, pszSection, pszKey, pszDefault, pszBuffer, cbBuffer, dwFlags);
}

TEST_F(OptionsTest, EveryKeyIsReadWithTheBufferOfItsTable) {
    QLHAPI *pHAPI = host->services();
    fpHostGetProfileString = pHAPI->fpGetProfileString;
    pHAPI->fpGetProfileString = recordingGetProfileString;
    bufferSizes.clear();
    set("TempDir", (scratch.path() / "mine").string());
    nsfInitOptions(pContext);
    pHAPI->fpGetProfileString = fpHostGetProfileString;
    const std::map<std::string, uint32_t> expected = {
        {"ExportDXL", 32},         {"ExportDXL_PureXML", 32}, {"ExtractAllNotes", 32},
        {"ExtractAllFields", 32},  {"TempDir", 260},          {"MailLogoFieldName", 32},
        {"MailLogoFieldDefaultValue", 64}, {"AltSentField", 32}, {"ExtractByTemplate", 32},
    };
    EXPECT_EQ(bufferSizes, expected);
}

TEST_F(OptionsTest, ConfiguredTempDirGetsASeparatorAndIsNotCreated) {
    auto configured = scratch.path() / "mine";
    // The system's own separator (a backslash on Windows).
    const std::string sep(1, static_cast<char>(std::filesystem::path::preferred_separator));
    set("TempDir", configured.string());
    nsfInitOptions(pContext);
    EXPECT_EQ(pContext->szTempDir, configured.string() + sep);
    EXPECT_FALSE(std::filesystem::exists(configured)) << "a configured directory is made only when needed";

    // The separator is appended even when the value ends in one.
    set("TempDir", configured.string() + "/");
    nsfInitOptions(pContext);
    EXPECT_EQ(pContext->szTempDir, configured.string() + "/" + sep);

    // At most 258 characters of the value are kept.
    set("TempDir", "/" + std::string(300, 't'));
    nsfInitOptions(pContext);
    EXPECT_EQ(std::strlen(pContext->szTempDir), 259u);
    EXPECT_EQ(pContext->szTempDir[258], sep[0]);
}

TEST_F(OptionsTest, UncreatableTempDirIsLoggedAndTheOpenGoesOn) {
    auto blocker = scratch.path() / "file";
    std::ofstream(blocker) << "x";
    host->setTempDirectory((blocker / "").string()); // a directory below a plain file
    nsfInitOptions(pContext);
    EXPECT_STREQ(pContext->szTempDir, "");
    auto lines = logLines();
    EXPECT_TRUE(contains(lines, "[0/0] WARNING nsfInitOptions(): nsfCreateTempDir() failed"));
    EXPECT_TRUE(contains(lines, "[0/0] INFO nsfInitOptions(): bExtractByTemplate 1"));
}

} // namespace
} // namespace tessel::test
