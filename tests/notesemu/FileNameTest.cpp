// Files whose names lie outside the Windows code page (Greek and Chinese here), named to the runtime
// in UTF-8: databases, extracted attachments, message bodies, ID files, notes.ini and the log file
// open and write under their own names, and a failure logs the name instead of throwing on it.
// On POSIX the same names are plain bytes and the same calls hold.
#include "DbTestSupport.h"
#include "Identity.h"
#include "Log.h"
#include "Platform.h"

#include <tessel/kit/IdFile.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace notesemu {
namespace {

using namespace test;

// A name as UTF-8 text, the form a caller that works in UTF-8 hands to the runtime.
std::string utf8(const std::filesystem::path &path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

const std::filesystem::path kGreek(u8"Αρχείο δοκιμής");
const std::filesystem::path kChinese(u8"测试文件");

// Sets the environment variable for the life of the object, with a value outside the code page:
// on Windows through the UTF-16 environment, which the narrow one cannot spell.
class ScopedWideEnv {
public:
    ScopedWideEnv(const char *name, const std::filesystem::path &value) : name_(name) {
#ifdef _WIN32
        const std::wstring wideName(name_.begin(), name_.end());
        _wputenv_s(wideName.c_str(), value.c_str());
#else
        setenv(name, value.c_str(), 1);
#endif
    }
    ~ScopedWideEnv() {
#ifdef _WIN32
        const std::wstring wideName(name_.begin(), name_.end());
        _wputenv_s(wideName.c_str(), L"");
#else
        unsetenv(name_.c_str());
#endif
    }
    ScopedWideEnv(const ScopedWideEnv &) = delete;
    ScopedWideEnv &operator=(const ScopedWideEnv &) = delete;

private:
    std::string name_;
};

class FileNames : public RuntimeTest {
protected:
    // A database of one memo with a text Body and one attachment, in a folder and file of the
    // names given; returns the open memo.
    NOTEHANDLE openMemo(const std::filesystem::path &folder, const std::filesystem::path &file) {
        kit::Database database;
        kit::Note memo = kit::Note::document("Memo");
        memo.add(kit::Item::text("Subject", "names"));
        memo.add(kit::Item::text("Body", "body text"));
        kit::FileAttachment attachment;
        attachment.name = "a.txt";
        attachment.data = {'b', 'y', 't', 'e', 's'};
        memo.add(kit::Item::file(attachment));
        const NOTEID id = database.add(std::move(memo)).info.noteId;
        const std::filesystem::path path = dir_.write(folder / file, database.toDxl());
        DBHANDLE db = NULLHANDLE;
        EXPECT_EQ(NSFDbOpen(utf8(path).c_str(), &db), NOERROR);
        if (db != NULLHANDLE)
            databases_.push_back(db);
        note_ = std::make_unique<NoteHandle>(db, id);
        EXPECT_EQ(note_->status(), NOERROR);
        return note_->get();
    }

    std::unique_ptr<NoteHandle> note_;
};

TEST_F(FileNames, DatabasesAttachmentsAndBodiesOpenAndWriteUnderTheirOwnNames) {
    const NOTEHANDLE note = openMemo(kGreek, std::filesystem::path(u8"数据库.dxl"));
    BLOCKID item{};
    ASSERT_EQ(NSFItemInfo(note, "$FILE", 5, &item, nullptr, nullptr, nullptr), NOERROR);

    const std::filesystem::path extracted = dir_.path() / kGreek / std::filesystem::path(u8"测试文件.txt");
    EXPECT_EQ(NSFNoteExtractFile(note, item, utf8(extracted).c_str(), nullptr), NOERROR);
    EXPECT_EQ(TempDir::read(extracted), "bytes");

    const std::filesystem::path body = dir_.path() / kChinese;
    DWORD size = 0;
    char bodyName[] = "Body";
    EXPECT_EQ(MailGetMessageBodyComposite(note, bodyName, const_cast<char *>(utf8(body).c_str()), &size),
              NOERROR);
    const std::string written = TempDir::read(body);
    EXPECT_EQ(written.size(), size);
    ASSERT_GE(written.size(), 2U);
    EXPECT_EQ(written.substr(2), "body text");

    // Nothing else was left beside the files: no temporary file, no file under a mangled name.
    const auto countIn = [](const std::filesystem::path &folder) {
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(folder))
            ++entries;
        return entries;
    };
    EXPECT_EQ(countIn(dir_.path()), 2U) << "the Greek folder and the body";
    EXPECT_EQ(countIn(dir_.path() / kGreek), 2U) << "the database and the attachment";
}

TEST_F(FileNames, AFailureLogsTheNameInUtf8) {
    const NOTEHANDLE note = openMemo("plain", "plain.dxl");
    BLOCKID item{};
    ASSERT_EQ(NSFItemInfo(note, "$FILE", 5, &item, nullptr, nullptr, nullptr), NOERROR);
    LogCapture log;
    const std::filesystem::path missing = dir_.path() / kGreek / kChinese;
    EXPECT_EQ(NSFNoteExtractFile(note, item, utf8(missing).c_str(), nullptr), ERR_NOEXIST);
    EXPECT_TRUE(log.contains(utf8(kGreek / kChinese))) << log.text();
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(utf8(missing).c_str(), &db), ERR_NOEXIST);
    EXPECT_TRUE(log.contains(utf8(missing) + ": no such file")) << log.text();
}

TEST_F(FileNames, IdFilesAndNotesIniOfAnyNameAreRead) {
    constexpr const char *kUser = "CN=Δήμητρα Παππά/O=Acme";
    kit::Random random(11);
    const std::filesystem::path folder = dir_.path() / kChinese;
    std::filesystem::create_directories(folder);
    kit::writeIdFile(folder / kGreek, kUser, "secret", kit::seededSalt(random));

    // Switched to by name.
    std::string idName = utf8(folder / kGreek), password = "secret";
    char user[MAXUSERNAME] = {};
    EXPECT_EQ(SECKFMSwitchToIDFile(idName.data(), password.data(), user, MAXUSERNAME,
                                   fKFM_switchid_DontSetEnvVar, nullptr),
              NOERROR);
    EXPECT_STREQ(user, kUser);

    // Named by a notes.ini that is itself named on the command line: the ID file's bare name is
    // looked up in the data directory.
    const std::filesystem::path ini = dir_.write(
        kGreek / "notes.ini", "[Notes]\nDirectory=" + utf8(folder) + "\nKeyFileName=" + utf8(kGreek) + "\n");
    NotesTerm();
    std::string program = "test", argument = "=" + utf8(ini);
    char *argv[] = {program.data(), argument.data()};
    ASSERT_EQ(NotesInitExtended(2, argv), NOERROR);
    char directory[MAXENVVALUE + 1] = {};
    EXPECT_TRUE(OSGetEnvironmentString("Directory", directory, MAXENVVALUE));
    EXPECT_EQ(directory, utf8(folder));
    EXPECT_EQ(currentUser(), kUser);

    // Named by NOTES_INI.
    NotesTerm();
    {
        ScopedWideEnv named("NOTES_INI", ini);
        ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    }
    EXPECT_EQ(currentUser(), kUser);
}

TEST_F(FileNames, TheLogFileMayHaveAnyName) {
    const std::filesystem::path logFile = dir_.path() / std::filesystem::path(u8"测试文件.log");
    {
        ScopedWideEnv named("NOTESEMU_LOG", logFile);
        logLine(utf8(kGreek));
    }
    EXPECT_EQ(TempDir::read(logFile), "notesemu: " + utf8(kGreek) + "\n");
}

// A file read whole is read to its end, but never past the limit its caller checked its size
// against: one that grew since is refused rather than read into memory.
TEST(ReadWholeFile, ReadsToTheEndWithinTheLimitOnly) {
    TempDir dir;
    const std::filesystem::path file = dir.write(kChinese, std::string(20000, 'x'));
    std::string content;
    EXPECT_TRUE(readWholeFile(file, content, 20000));
    EXPECT_EQ(content, std::string(20000, 'x'));
    EXPECT_FALSE(readWholeFile(file, content, 19999));
    EXPECT_FALSE(readWholeFile(dir / "missing", content, 100));
}

} // namespace
} // namespace notesemu
