// The Notes session: runtime start under the user's mutex, the client's own ID file, the
// identity switch and the database open and close, and the choice among several credentials.
#include "NsfFixture.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <tessel/kit/Dxl.h>
#include <tessel/kit/IdFile.h>

#include <atomic>
#include <thread>

#include "nsf/items/buffers.h"
#include "nsf/notes/creds.h"
#include <notes/notes.h>
#include "nsf/notes/session.h"
#include "nsf/os/qlsys.h"
#include "nsf/base/memory.h"
#include "nsf/reader/reader.h"
#include "nsf/base/status.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

const char kAlice[] = "CN=Alice Smith/O=Acme";
const char kBob[] = "CN=Bob Jones/O=Acme";

class SessionTest : public NsfTest {
protected:
    void SetUp() override {
        NsfTest::SetUp();
        // The mutex's lock file lives in the temporary directory: keep each test's apart.
        env.set("TMPDIR", scratch.path().string());
        env.unset("NOTES_INI");
        ASSERT_EQ(nsfInitBuffers(pContext), NSF_STATUS_OK);
    }
    void TearDown() override {
        nsfCloseDatabase(pContext);
        if (pContext->bNotesInitialised)
            NotesTerm();
        for (int32_t i = 0; i < pContext->numBuffers; i++)
            nsfFreeBuffer(pContext, &pContext->buffers[i]);
        nsfFree(pContext, pContext->buffers);
        for (int32_t i = 0; i < pContext->cCreds; i++) {
            nsfFree(pContext, pContext->rgCreds[i].pszUserIdFile);
            nsfFree(pContext, pContext->rgCreds[i].pszPassword);
        }
        nsfFree(pContext, pContext->rgCreds);
        NsfTest::TearDown();
    }

    // A notes.ini with the given lines, made the runtime's environment.
    void useNotesIni(const std::vector<std::string> &lines) {
        fs::path ini = scratch.path() / "notes.ini";
        std::ofstream out(ini);
        out << "[Notes]\n";
        for (const auto &line : lines)
            out << line << '\n';
        env.set("NOTES_INI", ini.string());
    }
    std::string idFile(const char *pszName, const char *pszUser, const char *pszPassword) {
        fs::path path = scratch.path() / pszName;
        kit::writeIdFile(path, pszUser, pszPassword, kit::Salt{});
        return path.string();
    }
    // A small mail database: documents with a Body, some of them encrypted for one user.
    std::string database(int cPlain, int cSealedForBob, const std::string &defaultAccess = "reader") {
        kit::Database db;
        db.info.title = "Test mail";
        db.info.defaultAccess = defaultAccess;
        db.info.acl = {{kAlice, "manager", "person", {}}, {kBob, "reader", "person", {}}};
        for (int i = 0; i < cPlain + cSealedForBob; i++) {
            kit::Note memo = kit::Note::document("Memo");
            memo.add(kit::Item::text("Subject", "memo " + std::to_string(i)));
            memo.add(kit::Item::richText("Body", kit::RichText{}.par(1, "Hello")));
            if (i >= cPlain) {
                memo.add(kit::Item::text("Encrypt", "1"));
                memo.find("Body")->seal();
                memo.sealFor({kBob});
            }
            db.add(std::move(memo));
        }
        fs::path path = scratch.path() / "mail.dxl";
        std::ofstream(path, std::ios::binary) << db.toDxl();
        return path.string();
    }
    void initNotes() {
        ASSERT_EQ(nsfInitNotes(pContext), NSF_STATUS_OK);
        ASSERT_EQ(pContext->bNotesInitialised, 1);
    }
};

TEST_F(SessionTest, MissingNotesIniFailsTheStartWithItsThreeLines) {
    env.set("NOTES_INI", (scratch.path() / "missing.ini").string());
    EXPECT_EQ(nsfInitNotes(pContext), NSF_STATUS_INIT_FAILED);
    EXPECT_EQ(pContext->bNotesInitialised, 0);
    auto lines = logLines();
    EXPECT_TRUE(contains(lines, "[0/0] ERROR nsfInitNotes(): Error initializing Notes (status 421 0x1a5)"));
    EXPECT_TRUE(contains(lines,
                         "[0/0] ERROR nsfInitNotes(): The NOTES.INI file cannot be found on the search path "
                         "(PATH)"));
    EXPECT_TRUE(contains(lines, "[0/0] WARNING nsfInitNotes(): Notes is NOT initialized"));
    EXPECT_TRUE(contains(lines, "[0/0] INFO nsfInitNotes(): Mutex released"));
}

TEST_F(SessionTest, StartsTheRuntimeUnderTheMutex) {
    initNotes();
    auto lines = logLines();
    for (const char *pszLine :
         {"[0/0] INFO nsfInitNotes(): Creating mutex QuillonNSFReaderMutex...",
          "[0/0] INFO nsfInitNotes(): Mutex locked", "[0/0] INFO nsfInitNotes(): Notes is initialized",
          "[0/0] INFO nsfInitNotes(): Mutex released"})
        EXPECT_TRUE(contains(lines, pszLine)) << pszLine;
}

TEST_F(SessionTest, TheMutexExcludesOtherHoldersUntilReleased) {
    QLSYS_MUTEX *pHeld = qlsys_mutex_open(NSF_MUTEX_NAME);
    ASSERT_NE(pHeld, nullptr);
    ASSERT_EQ(qlsys_mutex_lock(pHeld), QLSYS_WAIT_OBJECT_0);
    std::atomic<bool> bStarted{false};
    std::thread opener([&] {
        nsfInitNotes(pContext);
        bStarted = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(bStarted) << "the runtime started while another holder had the mutex";
    EXPECT_EQ(qlsys_mutex_unlock(pHeld), 0);
    opener.join();
    EXPECT_TRUE(bStarted);
    EXPECT_EQ(pContext->bNotesInitialised, 1);
    qlsys_mutex_close(pHeld);
}

// The lock belongs to the user: its file is private, in a directory only the user can write.
TEST_F(SessionTest, TheLockFileIsTheUsersOwn) {
    QLSYS_MUTEX *pMutex = qlsys_mutex_open(NSF_MUTEX_NAME);
    ASSERT_NE(pMutex, nullptr);
    qlsys_mutex_close(pMutex);
    char szPath[4096];
    ASSERT_EQ(qlsys_mutex_path(NSF_MUTEX_NAME, szPath, sizeof(szPath)), 0);
    fs::path path(szPath);
    EXPECT_EQ(path.parent_path().parent_path(), scratch.path()) << "under the temporary directory";
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, geteuid());
    ASSERT_EQ(stat(path.parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A directory at that name that others can write is not taken.
    fs::permissions(path.parent_path(), fs::perms::others_write, fs::perm_options::add);
    EXPECT_EQ(qlsys_mutex_open(NSF_MUTEX_NAME), nullptr);
    EXPECT_EQ(nsfInitNotes(pContext), NSF_STATUS_INIT_FAILED);
    fs::permissions(path.parent_path(), fs::perms::others_write, fs::perm_options::remove);
}

// Only the reader's own record naming a process that is gone makes the lock abandoned; anything
// else found in the file is overwritten and the lock taken normally.
TEST_F(SessionTest, OnlyARecordOfADeadHolderIsAnAbandonedLock) {
    pid_t dead = fork();
    ASSERT_GE(dead, 0);
    if (dead == 0)
        _exit(0);
    ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
    struct Case {
        std::string content;
        uint32_t dwExpected;
    };
    const Case cases[] = {
        {"tessel lock held by process " + std::to_string(dead) + "\n", QLSYS_WAIT_ABANDONED},
        {"tessel lock held by process " + std::to_string(getpid()) + "\n", QLSYS_WAIT_OBJECT_0},
        {"99999\n", QLSYS_WAIT_OBJECT_0},
        {"anything at all", QLSYS_WAIT_OBJECT_0},
        {"", QLSYS_WAIT_OBJECT_0},
    };
    char szPath[4096];
    ASSERT_EQ(qlsys_mutex_path(NSF_MUTEX_NAME, szPath, sizeof(szPath)), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.content);
        std::ofstream(szPath, std::ios::trunc) << c.content;
        QLSYS_MUTEX *pMutex = qlsys_mutex_open(NSF_MUTEX_NAME);
        ASSERT_NE(pMutex, nullptr);
        EXPECT_EQ(qlsys_mutex_lock(pMutex), c.dwExpected);
        EXPECT_EQ(qlsys_mutex_unlock(pMutex), 0);
        qlsys_mutex_close(pMutex);
    }

    // What open logs when it finds the lock abandoned; the next reader finds it clean.
    std::ofstream(szPath, std::ios::trunc) << cases[0].content;
    EXPECT_EQ(nsfInitNotes(pContext), NSF_STATUS_INIT_FAILED);
    auto lines = logLines();
    EXPECT_TRUE(contains(lines, "[0/0] ERROR nsfInitNotes(): Error locking mutex (mutex NOT locked)..."));
    EXPECT_TRUE(contains(lines, "[0/0] WARNING nsfInitNotes(): ... wait abandoned"));
    EXPECT_EQ(pContext->bNotesInitialised, 0);
    initNotes();
}

TEST_F(SessionTest, SavedIdFileJoinsTheDataDirectoryAndHidesThePassword) {
    useNotesIni({"KeyFileName=user.id", "Directory=/notes/data", "QUILLON_TESSEL_PASSWORD=s3cr3t-pw"});
    initNotes();
    ASSERT_EQ(nsfSaveUserIdFile(pContext), NSF_STATUS_OK);
    EXPECT_STREQ(pContext->szUserIdFile, "/notes/data/user.id");
    EXPECT_STREQ(pContext->szPassword, "s3cr3t-pw");
    auto lines = logLines();
    EXPECT_TRUE(contains(lines, "[0/0] INFO nsfSaveUserIdFile(): Saved user ID file, szPassword ********, "
                                "szUserIdFile..."));
    for (const auto &line : lines)
        EXPECT_EQ(line.find("s3cr3t-pw"), std::string::npos) << "a password in the log: " << line;
}

TEST_F(SessionTest, SavedIdFileCases) {
    struct Case {
        std::vector<std::string> ini;
        int nStatus;
        const char *pszIdFile;
    };
    const Case cases[] = {
        {{"KeyFileName=user.id"}, NSF_STATUS_INTERNAL, ""},                      // no Directory
        {{"ServerKeyFileName=/srv/server.id"}, NSF_STATUS_OK, "/srv/server.id"}, // the server's
        {{"KeyFileName=/ids/a.id", "ServerKeyFileName=/srv/b.id"}, NSF_STATUS_OK, "/ids/a.id"},
        {{}, NSF_STATUS_OK, ""}, // a client without an ID file: nothing to switch back to
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pszIdFile);
        useNotesIni(c.ini);
        initNotes();
        EXPECT_EQ(nsfSaveUserIdFile(pContext), c.nStatus);
        EXPECT_STREQ(pContext->szUserIdFile, c.pszIdFile);
        NotesTerm();
        pContext->bNotesInitialised = 0;
    }
    EXPECT_TRUE(contains(logLines(), "[0/0] ERROR nsfSaveUserIdFile(): No directory found"));
}

// A Notes environment variable that could not be read into a buffer is a failure; the buffer it
// could not fill is never taken for a value.
TEST_F(SessionTest, AFailedEnvironmentReadIsNotTakenForAValue) {
    useNotesIni({"KeyFileName=/ids/a.id"});
    initNotes();
    NSFBUFFER *pTemp = pContext->BufferTemp;
    nsfFree(pContext, pTemp->rgbData);
    pTemp->rgbData = nullptr;
    pTemp->ucbDataSize = 0;
    allocator.resetCounts();
    allocator.failAllocation(1); // the growth fails; BufferTemp then gets a fresh, unfilled block
    EXPECT_EQ(nsfSaveUserIdFile(pContext), NSF_STATUS_OUT_OF_MEMORY);
    allocator.failAllocation(0);
    EXPECT_STREQ(pContext->szUserIdFile, "");
    EXPECT_TRUE(contains(logLines(), "[0/0] WARNING nsfSaveUserIdFile(): nsfCheckBuffer() failed"));
}

TEST_F(SessionTest, OpenStatuses) {
    std::string alice = idFile("alice.id", kAlice, "alice-pw");
    std::string path = database(2, 0, "noaccess");
    initNotes();
    struct Case {
        const char *pszName;
        std::string idFile;
        std::string dbPath;
        const char *pszPassword;
        int nStatus;
    };
    const Case cases[] = {
        {"missing database", "", (scratch.path() / "none.dxl").string(), nullptr, NSF_STATUS_ACCESS_FAILED},
        {"refused by the ACL", "", path, nullptr, NSF_STATUS_ACCESS_FAILED},
        {"missing ID file", (scratch.path() / "none.id").string(), path, "x", NSF_STATUS_ACCESS_REFUSED},
        {"wrong password", alice, path, "wrong", NSF_STATUS_ACCESS_REFUSED},
        {"the owner's ID", alice, path, "alice-pw", NSF_STATUS_OK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(nsfOpenDatabase(pContext, c.idFile.empty() ? nullptr : c.idFile.c_str(), c.dbPath.c_str(),
                                  c.pszPassword),
                  c.nStatus);
        EXPECT_EQ(pContext->hDB != NULLHANDLE, c.nStatus == NSF_STATUS_OK);
    }
    EXPECT_EQ(nsfOpenDatabase(pContext, nullptr, path.c_str(), nullptr), NSF_STATUS_INTERNAL);
    auto lines = logLines();
    EXPECT_TRUE(contains(lines, "[0/0] ERROR nsfOpenDatabase(): Database is already open"));
    EXPECT_TRUE(contains(lines, "[0/0] INFO nsfOpenDatabase(): Switched to temp ID file, szUserName " +
                                    std::string(kAlice) + ", szUserIdFile..."));
    EXPECT_EQ(nsfCloseDatabase(pContext), NSF_STATUS_OK);
    EXPECT_EQ(pContext->hDB, NULLHANDLE);
}

TEST_F(SessionTest, CloseWithNothingOpenDoesNothing) {
    size_t cLines = logLines().size();
    EXPECT_EQ(nsfCloseDatabase(pContext), NSF_STATUS_OK);
    EXPECT_EQ(logLines().size(), cLines);
}

TEST_F(SessionTest, CloseSwitchesBackToTheSavedIdFile) {
    std::string alice = idFile("alice.id", kAlice, "alice-pw");
    std::string bob = idFile("bob.id", kBob, "bob-pw");
    useNotesIni({"KeyFileName=" + alice, "QUILLON_TESSEL_PASSWORD=alice-pw"});
    std::string path = database(1, 0);
    initNotes();
    ASSERT_EQ(nsfSaveUserIdFile(pContext), NSF_STATUS_OK);
    ASSERT_EQ(nsfOpenDatabase(pContext, bob.c_str(), path.c_str(), "bob-pw"), NSF_STATUS_OK);
    EXPECT_EQ(nsfCloseDatabase(pContext), NSF_STATUS_OK);
    auto lines = logLines();
    EXPECT_TRUE(contains(lines, "[0/0] INFO nsfCloseDatabase(): Switched back to ID file, UserName " +
                                    std::string(kAlice) + ", szPassword ********, szUserIdFile..."));
    for (const auto &line : lines) {
        EXPECT_EQ(line.find("alice-pw"), std::string::npos) << line;
        EXPECT_EQ(line.find("bob-pw"), std::string::npos) << line;
    }
}

TEST_F(SessionTest, CredentialPairing) {
    struct Case {
        const char *pszName;
        std::vector<std::pair<int32_t, const char *>> items;
        std::vector<std::pair<std::string, std::string>> records; // ID file, password ("-" for none)
    };
    const int32_t I = QLCredentialType_UserIdFile;
    const int32_t P = QLCredentialType_Password;
    const Case cases[] = {
        {"one ID file, no password", {{I, "a.id"}}, {{"a.id", "-"}}},
        {"two pairs", {{I, "a.id"}, {P, "pa"}, {I, "b.id"}, {P, "pb"}}, {{"a.id", "pa"}, {"b.id", "pb"}}},
        {"two passwords for one file", {{I, "a.id"}, {P, "p1"}, {P, "p2"}}, {{"a.id", "p1"}, {"a.id", "p2"}}},
        {"password first", {{P, "p"}, {I, "a.id"}}, {{"a.id", "p"}}},
        {"passwords only", {{P, "p1"}, {P, "p2"}}, {}},
        {"unknown types skipped", {{7, "x"}, {I, "a.id"}, {0, "y"}}, {{"a.id", "-"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pszName);
        std::vector<QLCredentialItem> items;
        for (const auto &[type, value] : c.items)
            items.push_back({type, value});
        std::vector<QLCredentialItem *> pointers;
        for (auto &item : items)
            pointers.push_back(&item);
        QLCredentialList list{static_cast<int32_t>(pointers.size()), pointers.data()};
        ASSERT_EQ(nsfInitCreds(pContext, &list), NSF_STATUS_OK);
        ASSERT_EQ(pContext->cCreds, static_cast<int32_t>(c.records.size()));
        for (size_t i = 0; i < c.records.size(); i++) {
            EXPECT_STREQ(pContext->rgCreds[i].pszUserIdFile, c.records[i].first.c_str());
            if (c.records[i].second == "-") {
                EXPECT_EQ(pContext->rgCreds[i].pszPassword, nullptr);
            } else {
                EXPECT_STREQ(pContext->rgCreds[i].pszPassword, c.records[i].second.c_str());
            }
        }
        for (int32_t i = 0; i < pContext->cCreds; i++) {
            nsfFree(pContext, pContext->rgCreds[i].pszUserIdFile);
            nsfFree(pContext, pContext->rgCreds[i].pszPassword);
        }
        nsfFree(pContext, pContext->rgCreds);
        pContext->rgCreds = nullptr;
        pContext->cCreds = 0;
    }
}

// A record's count stops at the first note its identity cannot decrypt: "not sealed for you" is
// read past everywhere else, but here it is what the test measures.
TEST_F(SessionTest, TheUserWhoCanReadMostBodiesWins) {
    struct Case {
        int cPlain, cSealedForBob;
        int32_t cAliceNotes, cAliceBody, cBobBody;
    };
    const Case cases[] = {
        {0, 10, 1, 0, 10}, // every document encrypted for Bob: Alice stops at the first
        {2, 3, 3, 2, 5},   // Alice counts the two plain ones and stops at the first sealed one
    };
    std::string alice = idFile("alice.id", kAlice, "alice-pw");
    std::string bob = idFile("bob.id", kBob, "bob-pw");
    initNotes();
    long cStops = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.cPlain) + " plain, " + std::to_string(c.cSealedForBob) + " sealed");
        std::string path = database(c.cPlain, c.cSealedForBob);
        char szPath[512];
        std::snprintf(szPath, sizeof(szPath), "%s", path.c_str());
        QLIOobj io{};
        io.pFileName = szPath;
        pContext->pIOobj = &io;
        ASSERT_EQ(nsfNewCred(pContext, alice.c_str(), "alice-pw"), NSF_STATUS_OK);
        ASSERT_EQ(nsfNewCred(pContext, bob.c_str(), "bob-pw"), NSF_STATUS_OK);
        NSFCRED *pChosen = nsfChooseCred(pContext);
        ASSERT_NE(pChosen, nullptr);
        EXPECT_STREQ(pChosen->pszUserIdFile, bob.c_str());
        EXPECT_EQ(pContext->rgCreds[0].cNotes, c.cAliceNotes);
        EXPECT_EQ(pContext->rgCreds[0].cBody, c.cAliceBody);
        EXPECT_EQ(pContext->rgCreds[1].cBody, c.cBobBody);
        EXPECT_EQ(pContext->hIDTable, NULLHANDLE);
        EXPECT_EQ(pContext->hDB, NULLHANDLE);
        auto lines = logLines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string &line) {
                                    return line.rfind("[0/0] WARNING nsfTestCreds(): Note cannot be decrypted, "
                                                      "dwNoteID ",
                                                      0) == 0;
                                }),
                  ++cStops)
            << "Alice's count stops at the first sealed note; Bob's never does";
        EXPECT_TRUE(contains(lines, "[0/0] INFO nsfInit(): Using credential # 2 of 2"));
        for (int32_t i = 0; i < pContext->cCreds; i++) {
            nsfFree(pContext, pContext->rgCreds[i].pszUserIdFile);
            nsfFree(pContext, pContext->rgCreds[i].pszPassword);
        }
        nsfFree(pContext, pContext->rgCreds);
        pContext->rgCreds = nullptr;
        pContext->cCreds = 0;
        pContext->pIOobj = nullptr;
    }
}

TEST_F(SessionTest, EqualScoresGoToTheFirstAndASingleRecordIsNotTested) {
    std::string alice = idFile("alice.id", kAlice, "alice-pw");
    std::string bob = idFile("bob.id", kBob, "bob-pw");
    std::string path = database(3, 0);
    char szPath[512];
    std::snprintf(szPath, sizeof(szPath), "%s", path.c_str());
    QLIOobj io{};
    io.pFileName = szPath;
    pContext->pIOobj = &io;
    initNotes();
    ASSERT_EQ(nsfNewCred(pContext, bob.c_str(), "bob-pw"), NSF_STATUS_OK);
    EXPECT_EQ(nsfChooseCred(pContext), &pContext->rgCreds[0]);
    EXPECT_FALSE(contains(logLines(), "[0/0] INFO nsfTestCreds(): Testing credentials..."));

    ASSERT_EQ(nsfNewCred(pContext, alice.c_str(), "alice-pw"), NSF_STATUS_OK);
    NSFCRED *pChosen = nsfChooseCred(pContext);
    EXPECT_EQ(pChosen, &pContext->rgCreds[0]);
    EXPECT_EQ(pContext->rgCreds[0].cBody, 3);
    EXPECT_EQ(pContext->rgCreds[1].cBody, 3);
    pContext->pIOobj = nullptr;
}

} // namespace
} // namespace tessel::test
