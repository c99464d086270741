// A container opened with templates on, over a templates directory the test writes, and a way to
// run the main template against one of its memos into memory.
#pragma once

#include "OpenFixture.h"

#include <quillon/host/IOObject.h>
#include <notes/notes.h>

#include "nsf/templates/templates.h"

namespace tessel::test {

class TemplateTest : public OpenTest {
protected:
    void SetUp() override {
        OpenTest::SetUp();
        home = scratch.path() / "home dir.v2";
        std::filesystem::create_directories(home);
        host->setHostDirectory(home.string());
        host->config().set("tessel", "ExtractByTemplate", "1");
    }

    std::filesystem::path templatesDir() const { return home / "NSFtemplates"; }

    // Writes a file below NSFtemplates, making the folders it needs.
    void write(const std::filesystem::path &relative, const std::string &content) {
        std::filesystem::path path = templatesDir() / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }
    // A template document: the declaration and a root around the body.
    static std::string doc(const std::string &body) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quillon>" + body + "</quillon>\n";
    }
    void writeMain(const std::string &body) { write("main.xml", doc(body)); }

    // A database with one memo holding the items given.
    static kit::Database memoDb(std::vector<kit::Item> items) {
        kit::Database db;
        db.info.title = "Templates";
        kit::Note note = kit::Note::document("Memo");
        for (auto &item : items)
            note.add(std::move(item));
        db.add(std::move(note));
        return db;
    }

    struct Result {
        int status = -1;
        std::string output;
    };
    // Runs the main template against subfile i (a memo) and gives the status and what was written.
    Result run(int32_t i = 0, bool bImages = false) {
        Result result;
        if (pOpen == nullptr || i >= pOpen->numSubFiles) {
            ADD_FAILURE() << "no such subfile";
            return result;
        }
        NSFSUBFILE *pSubFile = pOpen->subFiles[i];
        NOTEHANDLE hNote = NULLHANDLE;
        if (NSFNoteOpenExt(pOpen->hDB, pSubFile->dwNoteID, 0x03000000, &hNote) != NOERROR) {
            ADD_FAILURE() << "note does not open";
            return result;
        }
        quillon::MemoryIOObject out("out");
        out.get()->fpOpen(out.get());
        result.status = nsfExtractMailFieldsXML(pOpen, pSubFile, hNote, out.get());
        if (bImages && result.status == 0)
            result.status = nsfExtractMailImagesXML(pOpen, pSubFile, hNote, out.get());
        NSFNoteClose(hNote);
        out.get()->fpClose(out.get());
        result.output = out.data();
        return result;
    }
    // Opens a database whose one memo holds the items, with the main template given, and runs it.
    Result runMain(const std::string &body, std::vector<kit::Item> items) {
        writeMain(body);
        open(memoDb(std::move(items)));
        if (openStatus != 0) {
            ADD_FAILURE() << "open failed with " << openStatus;
            return {};
        }
        return run();
    }

    std::filesystem::path home;
};

} // namespace tessel::test
