// Every entry point that takes a note handle tells "runtime not started" from "not an open note".
#include "TestSupport.h"

#include <notes/notes.h>
#include <notes/mailserv.h>
#include <notes/mime.h>

#include <gtest/gtest.h>

#include <functional>

namespace notesemu {
namespace {

TEST(NoteHandleStatus, NotStartedAndBadHandleAreDifferentStatuses) {
    test::TempDir dir;
    test::ScopedEnv path("PATH", dir.path().string());
    test::ScopedEnv notesIni("NOTES_INI", std::nullopt);
    const std::string out = (dir.path() / "out.bin").string();
    const struct {
        const char *name;
        std::function<STATUS(NOTEHANDLE)> call;
    } calls[] = {
        {"NSFNoteClose", [](NOTEHANDLE h) { return NSFNoteClose(h); }},
        {"NSFItemInfo", [](NOTEHANDLE h) { return NSFItemInfo(h, "Subject", 7, nullptr, nullptr, nullptr, nullptr); }},
        {"NSFNoteDecrypt", [](NOTEHANDLE h) { return NSFNoteDecrypt(h, 0, nullptr); }},
        {"NSFNoteExtractFile", [&](NOTEHANDLE h) { return NSFNoteExtractFile(h, BLOCKID{}, out.c_str(), nullptr); }},
        {"MailGetMessageBodyComposite",
         [&](NOTEHANDLE h) { return MailGetMessageBodyComposite(h, const_cast<char *>("Body"), const_cast<char *>(out.c_str()), nullptr); }},
        {"MIMEConvertMIMEPartCC",
         [](NOTEHANDLE h) { return MIMEConvertMIMEPartCC(h, const_cast<char *>("Body"), 4, nullptr); }},
    };
    for (const auto &c : calls)
        EXPECT_EQ(c.call(0x1234), ERR_NOTES_NOT_INITIALIZED) << c.name;
    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    for (const auto &c : calls)
        EXPECT_EQ(c.call(0x1234), ERR_BAD_PARAM) << c.name;
    NotesTerm();
}

} // namespace
} // namespace notesemu
