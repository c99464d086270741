// NSFNoteExtractFile, NSFNoteExtractWithCallback and NSFNoteExtractOLE2Object: bytes written
// exactly, refused targets, nothing half-written, objects that disagree with their FILEOBJECT.
#include "Log.h"
#include "MailTestSupport.h"

#include <gtest/gtest.h>

#include <random>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace notesemu::test {
namespace {

std::vector<std::uint8_t> randomBytes(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < size; i += 4) {
        const std::uint32_t value = random();
        std::memcpy(bytes.data() + i, &value, std::min<std::size_t>(4, size - i));
    }
    return bytes;
}

kit::FileAttachment fileOf(std::string name, std::vector<std::uint8_t> data) {
    kit::FileAttachment file;
    file.name = std::move(name);
    file.data = std::move(data);
    return file;
}

class Attachments : public RuntimeTest {
protected:
    // A database of one memo carrying the given $FILE items; returns its open note.
    NOTEHANDLE openMemo(const std::vector<kit::FileAttachment> &files, const std::string &edit = {},
                        const std::string &replacement = {}) {
        kit::Database database;
        kit::Note memo = kit::Note::document("Memo");
        memo.add(kit::Item::text("Subject", "files"));
        for (const kit::FileAttachment &file : files)
            memo.add(kit::Item::file(file));
        const NOTEID id = database.add(std::move(memo)).info.noteId;
        std::string dxl = database.toDxl();
        if (!edit.empty()) {
            const std::size_t at = dxl.find(edit);
            EXPECT_NE(at, std::string::npos) << edit;
            dxl.replace(at, edit.size(), replacement);
        }
        const DBHANDLE db = open(dir_.write("files.dxl", dxl));
        note_ = std::make_unique<NoteHandle>(db, id);
        EXPECT_EQ(note_->status(), NOERROR);
        return note_->get();
    }

    // The item block of the n-th (1-based) $FILE item.
    BLOCKID fileItem(NOTEHANDLE note, int n) {
        BLOCKID item{};
        EXPECT_EQ(NSFItemInfo(note, "$FILE", 5, &item, nullptr, nullptr, nullptr), NOERROR);
        for (int i = 1; i < n; ++i)
            EXPECT_EQ(NSFItemInfoNext(note, item, "$FILE", 5, &item, nullptr, nullptr, nullptr), NOERROR);
        return item;
    }

    std::unique_ptr<NoteHandle> note_;
};

TEST_F(Attachments, ExtractByteIdenticalFilesOfEverySize) {
    const std::vector<std::size_t> sizes{0, 1, 10000, 50u * 1024 * 1024};
    std::vector<kit::FileAttachment> files;
    std::vector<std::string> hashes;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        files.push_back(
            fileOf("file" + std::to_string(i) + ".bin", randomBytes(sizes[i], static_cast<unsigned>(i))));
        hashes.push_back(sha256(files.back().data));
    }
    const NOTEHANDLE note = openMemo(files);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        files[i].data.clear();
        const auto target = dir_.path() / ("out" + std::to_string(i));
        ASSERT_EQ(NSFNoteExtractFile(note, fileItem(note, static_cast<int>(i) + 1), target.string().c_str(),
                                     nullptr),
                  NOERROR);
        const std::vector<std::uint8_t> written = readFile(target);
        EXPECT_EQ(written.size(), sizes[i]);
        EXPECT_EQ(sha256(written), hashes[i]) << "size " << sizes[i];
    }
}

TEST_F(Attachments, ReplacesAnExistingFileAndLeavesNoTemporaryFiles) {
    // A longer old file is replaced through a temporary file; an empty one (a caller's reserved
    // name) is written in place. Either way only the target remains, holding the new bytes.
    for (const char *old : {"a much longer old content", ""}) {
        const NOTEHANDLE note = openMemo({fileOf("a.txt", {'a', 'b', 'c'})});
        const auto target = dir_.write("out/a.txt", old);
        ASSERT_EQ(NSFNoteExtractFile(note, fileItem(note, 1), target.string().c_str(), nullptr), NOERROR);
        EXPECT_EQ(readFile(target), (std::vector<std::uint8_t>{'a', 'b', 'c'})) << '"' << old << '"';
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(target.parent_path()), {}), 1);
        note_.reset();
    }
}

TEST_F(Attachments, StreamsThroughTheCallbackInOrder) {
    const std::vector<std::uint8_t> data = randomBytes(200000, 7);
    const NOTEHANDLE note = openMemo({fileOf("big.bin", data)});
    std::vector<std::uint8_t> received;
    int calls = 0;
    struct Sink {
        std::vector<std::uint8_t> *bytes;
        int *calls;
    } sink{&received, &calls};
    ASSERT_EQ(NSFNoteExtractWithCallback(
                  note, fileItem(note, 1), nullptr, 0,
                  [](const BYTE *bytes, DWORD length, void *param) LNCALLBACK -> STATUS {
                      auto *s = static_cast<Sink *>(param);
                      s->bytes->insert(s->bytes->end(), bytes, bytes + length);
                      ++*s->calls;
                      return NOERROR;
                  },
                  &sink),
              NOERROR);
    EXPECT_EQ(received, data);
    EXPECT_GT(calls, 1);
    // A status from the callback ends the extraction and is returned.
    EXPECT_EQ(NSFNoteExtractWithCallback(
                  note, fileItem(note, 1), nullptr, 0,
                  [](const BYTE *, DWORD, void *) LNCALLBACK -> STATUS { return ERR_CANCEL; }, nullptr),
              ERR_CANCEL);
}

TEST_F(Attachments, UnwritableTargetsGiveTheOsStatusAndLeaveNothing) {
    const NOTEHANDLE note = openMemo({fileOf("a.txt", {'x'})});
    const BLOCKID item = fileItem(note, 1);
    LogCapture log;
    const auto missingDir = dir_.path() / "no" / "such" / "dir" / "a.txt";
    EXPECT_EQ(NSFNoteExtractFile(note, item, missingDir.string().c_str(), nullptr), ERR_NOEXIST);
    EXPECT_FALSE(std::filesystem::exists(missingDir.parent_path()));
    std::filesystem::create_directories(dir_.path() / "isdir");
    EXPECT_EQ(NSFNoteExtractFile(note, item, (dir_.path() / "isdir").string().c_str(), nullptr), ERR_CREATE);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path() / "isdir"));
    EXPECT_EQ(NSFNoteExtractFile(note, item, "", nullptr), ERR_INV_FILE_NAME);
    EXPECT_TRUE(log.contains((std::filesystem::path("no") / "such" / "dir" / "a.txt").string()));
}

TEST_F(Attachments, AFolderWithoutWriteAccessGivesAccessDenied) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps no write permission on a folder: a read-only folder still takes new files";
#else
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into a folder whatever its permissions";
    const NOTEHANDLE note = openMemo({fileOf("a.txt", {'x'})});
    const auto locked = dir_.path() / "locked";
    std::filesystem::create_directories(locked);
    std::filesystem::permissions(locked,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_EQ(NSFNoteExtractFile(note, fileItem(note, 1), (locked / "a.txt").string().c_str(), nullptr),
              ERR_ACCESS);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    EXPECT_TRUE(std::filesystem::is_empty(locked));
#endif
}

TEST_F(Attachments, AnObjectThatDisagreesWithItsFileObjectIsRefused) {
    struct Case {
        const char *edit, *replacement;
        STATUS expected;
        const char *logged;
    };
    const Case cases[] = {
        {"size='10'", "size='20'", ERR_OBJECT_TRUNCATED, "declares 20 bytes but its object holds 10"},
        {"size='10'", "size='4'", ERR_OBJECT_TRUNCATED, "declares 4 bytes but its object holds 10"},
        {"compression='none'", "compression='huffman'", ERR_ENCODING, "stored compressed"},
    };
    for (const Case &c : cases) {
        const NOTEHANDLE note = openMemo({fileOf("ten.bin", randomBytes(10, 3))}, c.edit, c.replacement);
        LogCapture log;
        const auto target = dir_.path() / "ten.bin";
        EXPECT_EQ(NSFNoteExtractFile(note, fileItem(note, 1), target.string().c_str(), nullptr), c.expected)
            << c.replacement;
        EXPECT_FALSE(std::filesystem::exists(target));
        EXPECT_TRUE(log.contains(c.logged)) << log.text();
        // A reserved empty target stays, and stays empty.
        const auto reserved = dir_.write("reserved.bin", "");
        EXPECT_EQ(NSFNoteExtractFile(note, fileItem(note, 1), reserved.string().c_str(), nullptr), c.expected);
        EXPECT_EQ(std::filesystem::file_size(reserved), 0u);
        note_.reset();
    }
}

TEST_F(Attachments, RefusesItemsThatAreNotAttachments) {
    const NOTEHANDLE note = openMemo({fileOf("a.txt", {'x'})});
    BLOCKID subject{};
    ASSERT_EQ(NSFItemInfo(note, "Subject", 7, &subject, nullptr, nullptr, nullptr), NOERROR);
    const auto target = (dir_.path() / "x").string();
    EXPECT_EQ(NSFNoteExtractFile(note, subject, target.c_str(), nullptr), ERR_ITEM_DATATYPE);
    EXPECT_EQ(NSFNoteExtractFile(note, BLOCKID{0x1234, 8}, target.c_str(), nullptr), ERR_BAD_PARAM);
    EXPECT_EQ(NSFNoteExtractFile(NULLHANDLE, subject, target.c_str(), nullptr), ERR_BAD_PARAM);
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(Attachments, EncryptedAttachmentsNeedTheirNotesKey) {
    kit::Database database;
    kit::Note memo = kit::Note::document("Memo");
    memo.add(kit::Item::file(fileOf("secret.txt", {'s', 'e', 'c'})).seal());
    memo.sealFor({"Anonymous"});
    const NOTEID id = database.add(std::move(memo)).info.noteId;
    NoteHandle note(open(writeDatabase(database)), id);
    ASSERT_EQ(note.status(), NOERROR);
    ENCRYPTION_KEY key{};
    ASSERT_EQ(NSFNoteDecrypt(note.get(), 0, &key), NOERROR);
    BLOCKID item{};
    ASSERT_EQ(NSFItemInfo(note.get(), "$FILE", 5, &item, nullptr, nullptr, nullptr), NOERROR);
    const auto target = (dir_.path() / "secret.txt").string();
    EXPECT_EQ(NSFNoteExtractFile(note.get(), item, target.c_str(), nullptr), ERR_NOEXTRACT_ENCRYPTED);
    ENCRYPTION_KEY wrong = key;
    wrong.Text[0] ^= 1;
    EXPECT_EQ(NSFNoteExtractFile(note.get(), item, target.c_str(), &wrong), ERR_NOT_SEALED_FOR_YOU);
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(NSFNoteExtractFile(note.get(), item, target.c_str(), &key), NOERROR);
    EXPECT_EQ(readFile(target), (std::vector<std::uint8_t>{'s', 'e', 'c'}));
}

TEST_F(Attachments, KeyIsIgnoredForAttachmentsThatAreNotEncrypted) {
    const NOTEHANDLE note = openMemo({fileOf("plain.txt", {'p'})});
    ENCRYPTION_KEY key{};
    key.Byte1 = 9;
    const auto target = dir_.path() / "plain.txt";
    EXPECT_EQ(NSFNoteExtractFile(note, fileItem(note, 1), target.string().c_str(), &key), NOERROR);
    EXPECT_EQ(readFile(target), (std::vector<std::uint8_t>{'p'}));
}

TEST_F(Attachments, Ole2ObjectsAreFoundByNameAndHostType) {
    kit::FileAttachment ole = fileOf("EXT12345", randomBytes(3000, 11));
    ole.hostType = "bytearrayext";
    ole.flags.clear();
    const std::vector<std::uint8_t> oleBytes = ole.data;
    const NOTEHANDLE note = openMemo({fileOf("EXT00000", {'n'}), ole, fileOf("doc.txt", {'d'})});
    const auto target = dir_.path() / "object.ole";
    char name[] = "EXT12345";
    const std::string path = target.string();
    ASSERT_EQ(NSFNoteExtractOLE2Object(note, name, const_cast<char *>(path.c_str()), nullptr, TRUE, 0),
              NOERROR);
    EXPECT_EQ(sha256(readFile(target)), sha256(oleBytes));
    EXPECT_EQ(NSFNoteExtractOLE2Object(note, name, const_cast<char *>(path.c_str()), nullptr, FALSE, 0),
              ERR_EXISTS);
    // An ordinary attachment of the name is not an OLE object.
    char plain[] = "EXT00000";
    EXPECT_EQ(NSFNoteExtractOLE2Object(note, plain, const_cast<char *>(path.c_str()), nullptr, TRUE, 0),
              ERR_ITEM_NOT_FOUND);
    EXPECT_EQ(sha256(readFile(target)), sha256(oleBytes));
}

} // namespace
} // namespace notesemu::test
