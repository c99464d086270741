// Identity, ID files, the ACL at open, readers items in searches and encrypted notes.
#include "DbTestSupport.h"
#include "Identity.h"
#include "Log.h"

#include <tessel/kit/IdFile.h>

#include <gtest/gtest.h>

namespace notesemu {
namespace {

using namespace test;

constexpr const char *kAlice = "CN=Alice Smith/O=Acme";
constexpr const char *kBob = "CN=Bob Jones/O=Acme";

class Security : public RuntimeTest {
protected:
    std::filesystem::path idFile(const std::string &file, const char *user, const char *password) {
        kit::Random random(7);
        const std::filesystem::path path = dir_.path() / file;
        kit::writeIdFile(path, user, password, kit::seededSalt(random));
        return path;
    }

    STATUS switchTo(const std::filesystem::path &path, const char *password, std::string *user = nullptr) {
        char name[MAXUSERNAME] = {};
        std::string file = path.string();
        std::string secret = password;
        const STATUS status = SECKFMSwitchToIDFile(file.data(), secret.data(), name, MAXUSERNAME, 0, nullptr);
        if (user != nullptr)
            *user = name;
        return status;
    }

    std::filesystem::path aclDatabase(const std::string &defaultAccess) {
        kit::Database db;
        db.info.defaultAccess = defaultAccess;
        db.info.acl = {{kAlice, "editor"}, {kBob, "depositor"}, {"*/O=Partner", "reader"}};
        db.add(kit::Note::document("Memo")).add(kit::Item::text("Subject", "s"));
        return writeDatabase(db, "acl-" + defaultAccess + ".dxl");
    }
};

TEST_F(Security, SwitchingNeedsAReadableIdFileAndItsPassword) {
    const auto alice = idFile("alice.id", kAlice, "secret");
    std::string user;
    EXPECT_EQ(switchTo(dir_.path() / "missing.id", "secret"), ERR_SECURE_NOKEYFILE);
    const auto malformed = dir_.write("bad.id", "TESSEL-EMU-ID 1\nCN=X\nzz\n");
    EXPECT_EQ(switchTo(malformed, "secret"), ERR_SECURE_NOKEYFILE);
    const auto wrongMagic = dir_.write("magic.id", "NOTES-ID\nCN=X\n" + std::string(32, '0') + "\n" +
                                                       std::string(64, '0') + "\n");
    EXPECT_EQ(switchTo(wrongMagic, "secret"), ERR_SECURE_NOKEYFILE);
    EXPECT_EQ(switchTo(alice, "Secret"), ERR_SECURE_BADPASSWORD);
    EXPECT_EQ(currentUser(), kAnonymous);
    EXPECT_EQ(switchTo(alice, "secret", &user), NOERROR);
    EXPECT_EQ(user, kAlice);
    EXPECT_EQ(currentUser(), kAlice);
    char small[8];
    std::string path = alice.string(), password = "secret";
    EXPECT_EQ(SECKFMSwitchToIDFile(path.data(), password.data(), small, sizeof small, 0, nullptr),
              ERR_BSAFE_TOOSMALL);
    // Without fKFM_switchid_DontSetEnvVar the switch also becomes the environment's KeyFileName.
    char value[256] = {};
    ASSERT_TRUE(OSGetEnvironmentString("KeyFileName", value, sizeof value - 1));
    EXPECT_EQ(std::string(value), alice.string());
}

TEST_F(Security, IdentityComesFromTheKeyFileOfNotesIniUntilTermination) {
    NotesTerm();
    const auto bob = idFile("bob.id", kBob, "pw");
    // Away from PATH, where the runtime would find it without NOTES_INI.
    const auto ini = dir_.write("config/notes.ini",
                                "[Notes]\nDirectory=" + dir_.path().string() + "\nKeyFileName=bob.id\n");
    {
        ScopedEnv notesIni("NOTES_INI", ini.string());
        ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
        EXPECT_EQ(currentUser(), kBob);
        EXPECT_EQ(switchTo(idFile("alice.id", kAlice, "a"), "a"), NOERROR);
        EXPECT_EQ(currentUser(), kAlice);
        NotesTerm();
    }
    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    EXPECT_EQ(currentUser(), kAnonymous);
}

TEST_F(Security, TheAclDecidesWhoOpensTheDatabase) {
    const auto restricted = aclDatabase("noaccess");
    DBHANDLE handle = NULLHANDLE;
    LogCapture log;
    EXPECT_EQ(NSFDbOpen(restricted.string().c_str(), &handle), ERR_OPEN_FILE);
    EXPECT_TRUE(log.contains("Anonymous has noaccess access"));
    ASSERT_EQ(switchTo(idFile("bob.id", kBob, "b"), "b"), NOERROR);
    EXPECT_EQ(NSFDbOpen(restricted.string().c_str(), &handle), ERR_OPEN_FILE);
    ASSERT_EQ(switchTo(idFile("alice.id", "Alice Smith/Acme", "a"), "a"), NOERROR);
    const DBHANDLE alice = open(restricted);
    NoteHandle note(alice, 0x10C);
    WORD flags = 0xFFFF;
    NSFNoteGetInfo(note.get(), _NOTE_FLAGS, &flags);
    EXPECT_EQ(flags, 0);
    ASSERT_EQ(switchTo(idFile("carol.id", "CN=Carol/O=Partner", "c"), "c"), NOERROR);
    const DBHANDLE carol = open(restricted);
    NoteHandle readOnly(carol, 0x10C);
    NSFNoteGetInfo(readOnly.get(), _NOTE_FLAGS, &flags);
    EXPECT_EQ(flags, NOTE_FLAG_READONLY);
    // A reader default lets everybody else in.
    ASSERT_EQ(switchTo(idFile("dan.id", "CN=Dan/O=Else", "d"), "d"), NOERROR);
    open(aclDatabase("reader"));
}

TEST_F(Security, ReadersItemsHideDocumentsFromOthers) {
    kit::Database db;
    kit::Note &open = db.add(kit::Note::document("Memo"));
    open.add(kit::Item::text("Subject", "everyone"));
    const NOTEID openId = open.info.noteId;
    kit::Note &secret = db.add(kit::Note::document("Memo"));
    secret.add(kit::Item::textList("DocReaders", {"[Admins]", kAlice}).readers());
    const NOTEID secretId = secret.info.noteId;
    kit::Note &authored = db.add(kit::Note::document("Memo"));
    authored.add(kit::Item::textList("DocReaders", {"CN=Nobody/O=Acme"}).readers());
    authored.add(kit::Item::textList("DocAuthors", {kBob}).authors());
    const NOTEID authoredId = authored.info.noteId;
    const auto path = writeDatabase(db);
    const auto idsOf = [](const std::vector<Match> &matches) {
        std::vector<NOTEID> ids;
        for (const Match &m : matches)
            ids.push_back(m.id);
        return ids;
    };
    const DBHANDLE anonymous = this->open(path);
    EXPECT_EQ(idsOf(searchAll(anonymous, NOTE_CLASS_DOCUMENT)), std::vector<NOTEID>{openId});
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpenExt(anonymous, secretId, 0, &note), ERR_NOACCESS);
    ASSERT_EQ(switchTo(idFile("alice.id", kAlice, "a"), "a"), NOERROR);
    EXPECT_EQ(idsOf(searchAll(this->open(path), NOTE_CLASS_DOCUMENT)),
              (std::vector<NOTEID>{openId, secretId}));
    ASSERT_EQ(switchTo(idFile("bob.id", kBob, "b"), "b"), NOERROR);
    EXPECT_EQ(idsOf(searchAll(this->open(path), NOTE_CLASS_DOCUMENT)),
              (std::vector<NOTEID>{openId, authoredId}));
}

TEST_F(Security, SealedItemsAppearOnlyAfterDecryptionByARecipient) {
    kit::Database db;
    kit::Note &plain = db.add(kit::Note::document("Memo"));
    plain.add(kit::Item::text("Body", "open").seal());
    const NOTEID plainId = plain.info.noteId;
    kit::Note &sealed = db.add(kit::Note::document("Memo"));
    sealed.add(kit::Item::text("Subject", "visible"));
    sealed.add(kit::Item::text("Encrypt", "1"));
    sealed.add(kit::Item::text("Body", "hidden").seal());
    sealed.sealFor({kAlice});
    const NOTEID sealedId = sealed.info.noteId;
    const auto path = writeDatabase(db);

    const DBHANDLE anonymous = open(path);
    NoteHandle notEncrypted(anonymous, plainId);
    EXPECT_EQ(NSFNoteDecrypt(notEncrypted.get(), 0, nullptr), ERR_NOTE_NOT_SEALED);
    EXPECT_TRUE(notEncrypted.value("Body").has_value());
    NoteHandle forOthers(anonymous, sealedId);
    EXPECT_FALSE(forOthers.value("Body").has_value());
    EXPECT_TRUE(forOthers.value("Subject").has_value());
    ENCRYPTION_KEY key{};
    EXPECT_EQ(NSFNoteDecrypt(forOthers.get(), 0, &key), ERR_NOT_SEALED_FOR_YOU);
    EXPECT_FALSE(forOthers.value("Body").has_value());

    ASSERT_EQ(switchTo(idFile("alice.id", kAlice, "a"), "a"), NOERROR);
    NoteHandle mine(open(path), sealedId);
    EXPECT_FALSE(mine.value("Body").has_value());
    const std::vector<std::string> before = mine.itemNames();
    EXPECT_EQ(NSFNoteDecrypt(mine.get(), 0, &key), NOERROR);
    EXPECT_EQ(*mine.value("Body"), textValue("hidden"));
    std::vector<std::string> after = mine.itemNames();
    EXPECT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(std::find(after.begin(), after.end(), "Body") - after.begin(),
              std::find(after.begin(), after.end(), "Encrypt") - after.begin() + 1);
    EXPECT_EQ(NSFNoteDecrypt(mine.get(), 0, &key), ERR_NOTE_NOT_SEALED);
}

} // namespace
} // namespace notesemu
