// Open and close of a container: arguments, the steps of open in their order, the release of every
// partial state, allocation failures at every point, and the plug-in's one export.
#include "NsfFixture.h"

#include <quillon/host/Container.h>
#include <quillon/host/IOObject.h>
#include <quillon/host/ReaderLibrary.h>
#include <tessel/kit/Dxl.h>

#include <cstdio>

#include "nsf/catalogue/images.h"
#include "nsf/catalogue/subfiles.h"
#include "nsf/items/buffers.h"
#include "nsf/metadata/metadata.h"
#include "nsf/notes/creds.h"
#include "nsf/base/memory.h"
#include "nsf/reader/reader.h"
#include "nsf/base/status.h"
#include "nsf/templates/templates.h"

namespace tessel::test {
namespace {

// A small database the emulated runtime reads, and an empty notes.ini for it, so that the open
// does not depend on the machine.
std::filesystem::path writeDatabase(const std::filesystem::path &dir, const std::string &name,
                                    ScopedEnv &env) {
    kit::Database db;
    db.info.title = "Reader test";
    db.info.defaultAccess = "reader";
    kit::Note memo = kit::Note::document("Memo");
    memo.add(kit::Item::text("Subject", "Hello"));
    db.add(std::move(memo));
    std::filesystem::path path = dir / name;
    std::ofstream(path, std::ios::binary) << db.toDxl();
    std::ofstream(dir / "notes.ini") << "[Notes]\n";
    env.set("NOTES_INI", (dir / "notes.ini").string());
    env.set("TMPDIR", dir.string());
    // Opened by its name from dir, the current folder of the test.
    return name;
}

TEST(FileName8, BaseNameRules) {
    const std::pair<const char *, const char *> cases[] = {
        {"mail.nsf", "mail"},
        {"C:\\a.b\\c.nsf", "a"},         // the first dot lies in a directory name
        {"archive2015.nsf", "archive2"}, // at most 8 characters
        {"/data/mailbox.nsf", "mailbox"},
        {"/data/x/mail", "mail"},             // no dot at all
        {"/home/user.name/db/m.nsf", "user"}, // a dot in a directory cuts there
        {"C:/notes/data/ab.nsf", "ab"},
        {".hidden", ""},
        {"", ""},
        // Cut at a character boundary: 8 bytes would end inside the third character.
        {"/data/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x83\x86.dxl", "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"ab\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9.nsf", "ab\xC3\xA9\xC3\xA9\xC3\xA9"},
        {"abcdefg\xC3\xA9.nsf", "abcdefg"},
        {"abcdef\xC3\xA9.nsf", "abcdef\xC3\xA9"},
    };
    for (const auto &[pszPath, pszExpected] : cases) {
        char sz[9];
        std::memset(sz, 'X', sizeof(sz));
        nsfGetFileName8(pszPath, sz);
        EXPECT_STREQ(sz, pszExpected) << pszPath;
    }
}

// Open and close called directly, with I/O objects built by hand.
class ReaderTest : public NsfTest {
protected:
    void SetUp() override {
        NsfTest::SetUp();
        // The fixture's own context is not used here: open makes its own.
        nsfLogClose(pContext);
        allocator.release(pContext);
        pContext = nullptr;
        dbPath = writeDatabase(scratch.path(), "mailbox.dxl", env);
        host->config().set("tessel", "ExtractByTemplate", "0");
    }
    void TearDown() override {
        NsfTest::TearDown();
        EXPECT_EQ(allocator.liveCount(), 0u) << "open and close must leave nothing allocated";
    }

    std::filesystem::path dbPath;
};

TEST_F(ReaderTest, MissingArgumentsGiveBadArgumentAndAllocateNothing) {
    quillon::FileIOObject input(dbPath, quillon::FileIOObject::Direction::Input);
    allocator.resetCounts();
    int nStatus = -1;
    EXPECT_EQ(nsfInit(nullptr, host->services(), 0, nullptr, nullptr, &nStatus), nullptr);
    EXPECT_EQ(nStatus, NSF_STATUS_BAD_ARGUMENT);
    nStatus = -1;
    EXPECT_EQ(nsfInit(input.get(), nullptr, 0, nullptr, nullptr, &nStatus), nullptr);
    EXPECT_EQ(nStatus, NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(nsfInit(input.get(), host->services(), 0, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(allocator.counts().allocations, 0u);
    nsfShutdown(nullptr);
}

TEST_F(ReaderTest, OpenRunsItsStepsAndCloseReleasesEverything) {
    quillon::FileIOObject input(dbPath, quillon::FileIOObject::Direction::Input);
    ASSERT_NE(input.get()->fpOpen(input.get()), 0);
    int nStatus = -1;
    void *pv = nsfInit(input.get(), host->services(), CNVO_CREATEROOTDIR, nullptr, nullptr, &nStatus);
    ASSERT_NE(pv, nullptr);
    EXPECT_EQ(nStatus, NSF_STATUS_OK);
    auto *pOpen = static_cast<NSFCONTEXT *>(pv);
    EXPECT_STREQ(pOpen->szFileName8, "mailbox");
    EXPECT_EQ(pOpen->dwFlags, CNVO_CREATEROOTDIR);
    EXPECT_EQ(pOpen->pIOobj, input.get());
    EXPECT_FALSE(input.isOpen()) << "the database is read by path, so the host's hold is released";
    EXPECT_NE(pOpen->BufferXML, nullptr);
    EXPECT_NE(pOpen->hDB, NULLHANDLE);
    EXPECT_EQ(pOpen->bNotesInitialised, 1);
    std::string tempDir = pOpen->szTempDir;
    EXPECT_TRUE(std::filesystem::is_directory(tempDir));

    nsfShutdown(pv);
    EXPECT_FALSE(std::filesystem::exists(tempDir));
    auto lines = logLines();
    const std::vector<std::string> expectedInOrder = {
        "",
        "[0/0] INFO nsfInit(): IOobj64.pFileName...",
        "[0/0] INFO nsfInit(): " + dbPath.string(),
        "[0/0] INFO nsfInit(): dwFlags 0x40000, CNVO_CREATEROOTDIR 1, CNVO_SHOWHIDDENTEXT 0",
        "[0/0] INFO nsfInitOptions(): bExtractByTemplate 0",
        "[0/0] INFO nsfInit(): szFileName8 mailbox",
        "[0/0] INFO nsfInitNotes(): Notes is initialized",
        "[0/0] INFO nsfOpenDatabase(): Opening NSF database...",
        "[0/0] INFO nsfInitImages(): Searching for notes (for images)...",
        "[0/0] INFO nsfInitSubfiles(): Searching for notes...",
        "[0/0] INFO nsfInitSubfiles(): Getting subfiles from notes...",
        "[0/2] INFO nsfGetNoteSubfile(): Added note as subfile, dwNoteID 268, bNoteIsMail 1, cSubFiles 2",
        "[0/2] INFO nsfShutdown(): ...",
        "[0/2] INFO nsfCloseDatabase(): Closing NSF database...",
        "[0/2] INFO nsfShutdown(): Terminating Notes...",
        "[0/2] INFO nsfShutdown(): Deleting temp dir...",
        "[0/2] INFO nsfDeleteTempDir(): Deleted temp dir, szTempDir...",
        "[0/2] INFO nsfShutdown(): Freeing context...",
    };
    size_t iLine = 0;
    for (const auto &expected : expectedInOrder) {
        while (iLine < lines.size() && lines[iLine] != expected)
            iLine++;
        EXPECT_LT(iLine, lines.size()) << "missing or out of order: " << expected;
    }
}

TEST_F(ReaderTest, AnInputThatIsNotOpenIsOpenedThenClosed) {
    quillon::FileIOObject input(dbPath, quillon::FileIOObject::Direction::Input);
    int nStatus = -1;
    void *pv = nsfInit(input.get(), host->services(), 0, nullptr, nullptr, &nStatus);
    EXPECT_EQ(nStatus, NSF_STATUS_OK);
    EXPECT_FALSE(input.isOpen());
    nsfShutdown(pv);
}

TEST_F(ReaderTest, InputObjectFailures) {
    struct Case {
        const char *pszName;
        char *pFileName;
        int(QLAPI *fpOpen)(QLIOobj *);
        int nExpected;
        const char *pszLine;
    };
    static char szPath[] = "/nowhere/mail.nsf";
    auto openFails = +[](QLIOobj *) QLAPI -> int { return 0; };
    auto openWithoutClose = +[](QLIOobj *) QLAPI -> int { return 1; };
    const Case cases[] = {
        {"no path", nullptr, openWithoutClose, NSF_STATUS_INIT_FAILED,
         "[0/0] ERROR nsfInit(): No input file path for NSF file"},
        {"open fails", szPath, openFails, NSF_STATUS_ACCESS_FAILED,
         "[0/0] ERROR nsfInit(): Error opening I/O object for NSF file"},
        {"no close", szPath, openWithoutClose, NSF_STATUS_ACCESS_FAILED,
         "[0/0] ERROR nsfInit(): Invalid I/O object for NSF file (no close function)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pszName);
        QLIOobj io{};
        io.pFileName = c.pFileName;
        io.fpOpen = c.fpOpen;
        int nStatus = -1;
        void *pv = nsfInit(&io, host->services(), 0, nullptr, nullptr, &nStatus);
        ASSERT_NE(pv, nullptr) << "a failed open still hands its context back for close";
        EXPECT_EQ(nStatus, c.nExpected);
        nsfShutdown(pv);
        EXPECT_TRUE(contains(logLines(), c.pszLine));
        EXPECT_EQ(allocator.liveCount(), 0u);
    }
}

TEST_F(ReaderTest, EveryAllocationFailureReportsOutOfMemoryAndLeaksNothing) {
    // Count the allocations of a whole successful open.
    quillon::FileIOObject input(dbPath, quillon::FileIOObject::Direction::Input);
    int nStatus = -1;
    allocator.resetCounts();
    nsfShutdown(nsfInit(input.get(), host->services(), 0, nullptr, nullptr, &nStatus));
    ASSERT_EQ(nStatus, NSF_STATUS_OK);
    uint64_t cAllocations = allocator.counts().allocations;
    ASSERT_GT(cAllocations, 10u);

    for (uint64_t n = 1; n <= cAllocations; n++) {
        SCOPED_TRACE(n);
        allocator.resetCounts();
        allocator.failAllocation(n);
        nStatus = -1;
        void *pv = nsfInit(input.get(), host->services(), 0, nullptr, nullptr, &nStatus);
        if (nStatus == NSF_STATUS_OK) {
            // A note the catalogue cannot take costs only its own records; the open goes on.
            auto *pOpen = static_cast<NSFCONTEXT *>(pv);
            EXPECT_EQ(pOpen->numSubFiles, 0);
            nsfShutdown(pv);
            EXPECT_TRUE(contains(logLines(), "[0/0] WARNING nsfInitSubfiles(): nsfGetNoteSubfiles() failed"));
        } else {
            EXPECT_EQ(nStatus, NSF_STATUS_OUT_OF_MEMORY);
            EXPECT_EQ(pv == nullptr, n == 1) << "only the context itself failing gives no context";
            nsfShutdown(pv);
        }
        allocator.failAllocation(0);
        EXPECT_EQ(allocator.liveCount(), 0u);
    }
}

TEST_F(ReaderTest, CloseFreesWhateverTheContextOwns) {
    quillon::FileIOObject input(dbPath, quillon::FileIOObject::Direction::Input);
    int nStatus = -1;
    auto *pOpen =
        static_cast<NSFCONTEXT *>(nsfInit(input.get(), host->services(), 0, nullptr, nullptr, &nStatus));
    ASSERT_EQ(nStatus, NSF_STATUS_OK);

    // Open catalogued the one memo: replace that catalogue by records made here.
    for (int32_t i = 0; i < pOpen->numSubFiles; i++)
        nsfFree(pOpen, pOpen->subFiles[i]);
    nsfFree(pOpen, pOpen->subFiles);

    // Fill every array the later stages of open build, the way they build them.
    pOpen->rgCreds = static_cast<NSFCRED *>(nsfAllocZero(pOpen, 2 * sizeof(NSFCRED)));
    pOpen->cCreds = 2;
    pOpen->rgCreds[0].pszUserIdFile = host->services()->fpDupString(host->services(), "/ids/a.id");
    pOpen->rgCreds[0].pszPassword = host->services()->fpDupString(host->services(), "secret");
    pOpen->rgCreds[1].pszUserIdFile = host->services()->fpDupString(host->services(), "/ids/b.id");

    pOpen->subFiles = static_cast<NSFSUBFILE **>(nsfAllocZero(pOpen, 4 * sizeof(NSFSUBFILE *)));
    pOpen->maxSubFiles = 4;
    pOpen->numSubFiles = 2;
    for (int i = 0; i < 2; i++) {
        pOpen->subFiles[i] = static_cast<NSFSUBFILE *>(nsfAllocZero(pOpen, sizeof(NSFSUBFILE)));
        pOpen->subFiles[i]->pbFileName = static_cast<uint8_t *>(nsfAllocZero(pOpen, 8));
        pOpen->subFiles[i]->rgbOrigFileName = static_cast<uint8_t *>(nsfAllocZero(pOpen, 8));
    }

    pOpen->cItemNamesMax = 100;
    pOpen->rgpszItemNames = static_cast<char **>(nsfAllocZero(pOpen, 100 * sizeof(char *)));
    pOpen->rgpszItemNames[0] = static_cast<char *>(nsfAllocZero(pOpen, 130));
    pOpen->rgpszItemNames[5] = static_cast<char *>(nsfAllocZero(pOpen, 130)); // left from an earlier scan
    pOpen->cItemNames = 1;

    pOpen->cFoldersMax = 100;
    pOpen->rgpFolders = static_cast<NSFFOLDER **>(nsfAllocZero(pOpen, 100 * sizeof(NSFFOLDER *)));
    pOpen->rgpFolders[0] = static_cast<NSFFOLDER *>(nsfAllocZero(pOpen, sizeof(NSFFOLDER) + 3 * 4));
    pOpen->cFolders = 1;

    pOpen->maxImages = 2;
    pOpen->images = static_cast<NSFIMAGE **>(nsfAllocZero(pOpen, 2 * sizeof(NSFIMAGE *)));
    pOpen->images[0] = static_cast<NSFIMAGE *>(nsfAllocZero(pOpen, sizeof(NSFIMAGE)));
    ASSERT_EQ(nsfAddBuffer(pOpen, 100, &pOpen->images[0]->pBuffer), NSF_STATUS_OK);
    pOpen->numImages = 1;

    pOpen->rgpTemplates = static_cast<NSFTEMPLATE **>(nsfAllocZero(pOpen, sizeof(NSFTEMPLATE *)));
    pOpen->rgpTemplates[0] = static_cast<NSFTEMPLATE *>(nsfAllocZero(pOpen, sizeof(NSFTEMPLATE)));
    pOpen->rgpTemplates[0]->pszName = host->services()->fpDupString(host->services(), "main.xml");
    ASSERT_EQ(nsfAddBuffer(pOpen, 64, &pOpen->rgpTemplates[0]->pBuffer), NSF_STATUS_OK);
    pOpen->cTemplates = 1;

    pOpen->rgnImagesXML = static_cast<int32_t *>(nsfAllocZero(pOpen, 10 * sizeof(int32_t)));
    pOpen->cImagesXMLMax = 10;

    nsfShutdown(pOpen);
}

// The plug-in as a host meets it: a shared library opened with dlopen.
class PluginTest : public ::testing::Test {
protected:
    ScopedEnv env;
    TempDir dir;
};

TEST_F(PluginTest, ExportsExactlyOneSymbol) {
#ifdef _WIN32
    GTEST_SKIP() << "reads the ELF dynamic symbols with nm; the DLL's export table is checked by "
                    "tests/win32 (PluginDllTest) and scripts/ci-win32.sh";
#else
    std::string command = "nm -D --defined-only " + kit::shellQuote(TESSEL_NSF_PLUGIN);
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> symbols;
    char szLine[1024];
    while (fgets(szLine, sizeof(szLine), pipe) != nullptr) {
        std::string line(szLine);
        // "<address> <type> <name>": only code and data symbols count.
        std::istringstream in(line);
        std::string address, type, name;
        in >> address >> type >> name;
        if (type == "T" || type == "D" || type == "B" || type == "R" || type == "W" || type == "V")
            symbols.push_back(name);
    }
    ASSERT_EQ(pclose(pipe), 0);
    EXPECT_EQ(symbols, std::vector<std::string>{"nsfGetContainerReaderInterfaceEx"});
#endif
}

TEST_F(PluginTest, HostLoadsThePluginAndOpensAContainer) {
    auto logFile = dir.path() / "plugin.log";
    env.set("QUILLON_TESSEL_LOG_LEVEL", "INFO");
    env.set("QUILLON_TESSEL_LOG_TIMESTAMP", "FALSE");
    env.set("QUILLON_TESSEL_LOG_FILE", logFile.string());
    kit::ScopedCurrentPath cwd(dir.path());
    auto db = writeDatabase(dir.path(), "sample.dxl", env);

    std::string error;
    auto reader = quillon::ReaderLibrary::load(TESSEL_NSF_PLUGIN, error);
    ASSERT_NE(reader, nullptr) << error;
    EXPECT_EQ(reader->operations().pSlot6, quillon::ReaderLibrary::kSlot6Sentinel);

    quillon::TestAllocator allocator;
    quillon::HostOptions options;
    options.allocator = &allocator;
    options.tempDir = (dir.path() / "tmp/").string();
    quillon::Host host({}, options);
    host.config().set("tessel", "ExtractByTemplate", "0");
    {
        quillon::Container container(host, *reader, db);
        EXPECT_EQ(container.status(), QLSTATUS_OK) << container.error();
        EXPECT_TRUE(container.isOpen());
        EXPECT_GT(allocator.liveCount(), 0u);
    }
    EXPECT_EQ(allocator.liveCount(), 0u);
    auto lines = splitLines(readFile(logFile));
    EXPECT_TRUE(contains(lines, "[0/0] INFO nsfInit(): szFileName8 sample"));
    EXPECT_TRUE(contains(lines, "[0/1] INFO nsfShutdown(): Freeing context..."));
}

} // namespace
} // namespace tessel::test
