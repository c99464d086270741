// Tracing of Notes API calls: bracketing, status mapping with the API's message text, and the
// tables that name Notes constants.
#include "NsfFixture.h"

#include "nsf/diag/trace.h"
#include <notes/notes.h>
#include "nsf/base/status.h"

namespace tessel::test {
namespace {

class TraceTest : public NsfTest {};

TEST_F(TraceTest, StatusMapping) {
    struct Case {
        STATUS status;
        int nExpected;
        const char *pszLevel;
        const char *pszSuffix;
    };
    const Case cases[] = {
        {0x0262, NSF_STATUS_OK, "DIAG", " (ignored)"},    // note not encrypted: every plain note
        {0x0265, NSF_STATUS_OK, "WARNING", " (ignored)"}, // encrypted for someone else
        {0x02F8, NSF_STATUS_ACCESS_REFUSED, "ERROR", ""}, // locally encrypted database
        {0x1902, NSF_STATUS_ACCESS_REFUSED, "ERROR", ""}, // ID file cannot be opened
        {0x1908, NSF_STATUS_ACCESS_REFUSED, "ERROR", ""}, // wrong password
        {0x0201, NSF_STATUS_INTERNAL, "ERROR", ""},       // any other status
        {0x4262, NSF_STATUS_INTERNAL, "ERROR", ""},       // a flag bit makes it another status
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        nsfCallAPI(pContext, "caller()", "NSFDbOpen()");
        EXPECT_EQ(nsfRetAPI(pContext, "caller()", c.status), c.nExpected);
        EXPECT_EQ(pContext->pszFuncAPI, nullptr);
        auto lines = logLines();
        ASSERT_GE(lines.size(), 2u);
        char szExpected[256];
        snprintf(szExpected, sizeof(szExpected),
                 "[0/0] %s caller(): Notes API NSFDbOpen() failed, status %d 0x%x, error message...%s",
                 c.pszLevel, c.status, c.status, c.pszSuffix);
        EXPECT_EQ(lines[lines.size() - 2], szExpected);
        // The message text of the code without its flag bits follows at the same level.
        char szText[1024] = "";
        WORD cch = OSLoadString(NULLHANDLE, ERR(c.status), szText, sizeof(szText) - 1);
        ASSERT_GT(cch, 0) << "the runtime has a text for every status it returns";
        EXPECT_EQ(lines.back(), std::string("[0/0] ") + c.pszLevel + " caller(): " + szText);
    }
}

// With the log at WARNING (or off) the expected "not sealed" of a plain note writes nothing and
// its message text is not looked up; a note encrypted for others is still reported.
TEST_F(TraceTest, NotSealedIsQuietAtWarning) {
    pContext->logLevel = NSF_LOG_WARNING;
    pContext->bLogAPI = 0;
    nsfCallAPI(pContext, "caller()", "NSFNoteDecrypt()");
    EXPECT_EQ(nsfRetAPI(pContext, "caller()", 0x0262), NSF_STATUS_OK);
    EXPECT_TRUE(logLines().empty());
    nsfCallAPI(pContext, "caller()", "NSFNoteDecrypt()");
    EXPECT_EQ(nsfRetAPI(pContext, "caller()", 0x0265), NSF_STATUS_OK);
    auto lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[0/0] WARNING caller(): Notes API NSFNoteDecrypt() failed, status 613 0x265, error "
                        "message... (ignored)");
    EXPECT_EQ(pContext->pszFuncAPI, nullptr);
}

// Failures are mapped the same whether or not the log is written.
TEST_F(TraceTest, StatusMappingWithTheLogOff) {
    pContext->logLevel = NSF_LOG_NONE;
    const std::pair<STATUS, int> cases[] = {{0x0262, NSF_STATUS_OK},
                                            {0x0265, NSF_STATUS_OK},
                                            {0x1908, NSF_STATUS_ACCESS_REFUSED},
                                            {0x0201, NSF_STATUS_INTERNAL}};
    for (const auto &[status, nExpected] : cases) {
        nsfCallAPI(pContext, "caller()", "NSFDbOpen()");
        EXPECT_EQ(nsfRetAPI(pContext, "caller()", status), nExpected) << status;
        EXPECT_EQ(pContext->pszFuncAPI, nullptr);
    }
    EXPECT_TRUE(logLines().empty());
}

TEST_F(TraceTest, SuccessLogsOnlyTheApiLines) {
    nsfCallAPI(pContext, "nsfOpenDatabase()", "NSFDbOpen()");
    EXPECT_EQ(pContext->pszFuncAPI, std::string("NSFDbOpen()"));
    EXPECT_EQ(nsfRetAPI(pContext, "nsfOpenDatabase()", NOERROR), NSF_STATUS_OK);
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "[0/0] NOTES_API nsfOpenDatabase(): Calling Notes API NSFDbOpen()...",
                              "[0/0] NOTES_API nsfOpenDatabase(): Returned from Notes API NSFDbOpen()"}));
}

TEST_F(TraceTest, BrokenBracketingIsReportedAndTheTraceGoesOn) {
    nsfCallAPI(pContext, "a()", "NSFSearch()");
    nsfCallAPI(pContext, "a()", "IDScan()");
    EXPECT_EQ(pContext->pszFuncAPI, std::string("IDScan()"));
    EXPECT_TRUE(contains(logLines(),
                         "[0/0] WARNING nsfCallAPI(): pszFuncAPI still set to NSFSearch() - missing "
                         "nsfRetAPI() call"));
    EXPECT_EQ(nsfRetAPI(pContext, "a()", NOERROR), NSF_STATUS_OK);
    EXPECT_EQ(nsfRetAPI(pContext, "a()", NOERROR), NSF_STATUS_INTERNAL);
    EXPECT_TRUE(
        contains(logLines(), "[0/0] WARNING nsfRetAPI(): pszFuncAPI not set - missing nsfCallAPI() call"));
}

TEST_F(TraceTest, CallbacksCloseAndReopenTheOuterCall) {
    // What a search callback does: close the outer trace, make its own call, reopen the outer one.
    nsfCallAPI(pContext, "nsfInitSubfiles()", "NSFSearch()");
    EXPECT_EQ(nsfRetAPI(pContext, "nsfSearchCB()", NOERROR), NSF_STATUS_OK);
    nsfCallAPI(pContext, "nsfSearchCB()", "IDInsert()");
    EXPECT_EQ(nsfRetAPI(pContext, "nsfSearchCB()", NOERROR), NSF_STATUS_OK);
    nsfCallAPI(pContext, "nsfSearchCB()", "NSFSearch()");
    EXPECT_EQ(nsfRetAPI(pContext, "nsfInitSubfiles()", NOERROR), NSF_STATUS_OK);
    for (const auto &line : logLines())
        EXPECT_EQ(line.find("WARNING"), std::string::npos) << line;
}

TEST_F(TraceTest, NoApiLinesWithoutTheirSwitch) {
    pContext->bLogAPI = 0;
    nsfCallAPI(pContext, "a()", "NotesTerm()");
    nsfRetAPI(pContext, "a()", NOERROR);
    EXPECT_TRUE(logLines().empty());
}

TEST(NameTables, KnownAndUnknownValues) {
    EXPECT_STREQ(nsfGetValueClassName(0x0301), "CLASS_NUMBER");
    EXPECT_STREQ(nsfGetValueClassName(0x0500), "CLASS_TEXT");
    EXPECT_STREQ(nsfGetValueClassName(0x0800), "CLASS_UNKNOWN");
    EXPECT_STREQ(nsfGetItemTypeName(23), "TYPE_UNKNOWN");
    EXPECT_STREQ(nsfGetItemTypeName(1281), "TYPE_TEXT_LIST");
    EXPECT_STREQ(nsfGetItemTypeName(25), "TYPE_MIME_PART");
    EXPECT_STREQ(nsfGetNoteClassName(3), "NOTE_CLASS_UNKNOWN");
    EXPECT_STREQ(nsfGetNoteClassName(4096), "NOTE_CLASS_PRIVATE");
    EXPECT_STREQ(nsfGetObjectHostName(1536), "HOST_BYTEARRAY_EXT");
    EXPECT_STREQ(nsfGetObjectHostName(1), "HOST_UNKNOWN");
}

TEST(NameTables, SignaturesAreKeyedByTheWholeWord) {
    // Signatures that share a low byte are told apart by their length class.
    EXPECT_STREQ(nsfGetSigName(0xFF85), "SIG_CD_TEXT");
    EXPECT_STREQ(nsfGetSigName(0x0081), "SIG_CD_PARAGRAPH");
    EXPECT_STREQ(nsfGetSigName(0x0088), "SIG_ACTION_DELETE");
    EXPECT_STREQ(nsfGetSigName(0xFF88), "SIG_CD_BITMAP");
    EXPECT_STREQ(nsfGetSigName(0x008C), "SIG_CD_LINK");
    EXPECT_STREQ(nsfGetSigName(0xFF8C), "SIG_ACTION_MOVETOFOLDER");
    EXPECT_STREQ(nsfGetSigName(0xFF00), "SIG_INVALID");
    EXPECT_STREQ(nsfGetSigName(0x1234), "SIG_INVALID");

    // Every one of the 173 names is reachable, and no two values collide.
    int cNamed = 0;
    std::set<std::string> names;
    for (uint32_t w = 0; w <= 0xFFFF; w++) {
        const char *pszName = nsfGetSigName(static_cast<WORD>(w));
        if (std::strcmp(pszName, "SIG_INVALID") != 0) {
            cNamed++;
            names.insert(pszName);
        }
    }
    EXPECT_EQ(cNamed, 173);
    EXPECT_EQ(names.size(), 173u);
}

} // namespace
} // namespace tessel::test
