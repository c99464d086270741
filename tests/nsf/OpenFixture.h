// A container opened through the reader's own open operation on a database written with the test
// kit, for the tests of the catalogue, the info operations and the metadata.
#pragma once

#include "NsfFixture.h"

#include <quillon/host/IOObject.h>
#include <tessel/kit/Dxl.h>

#include <chrono>

#include "nsf/catalogue/subfiles.h"
#include "nsf/reader/reader.h"
#include "nsf/base/status.h"

namespace tessel::test {

class OpenTest : public NsfTest {
protected:
    void SetUp() override {
        NsfTest::SetUp();
        // Open makes its own context.
        nsfLogClose(pContext);
        allocator.release(pContext);
        pContext = nullptr;
        std::ofstream(scratch.path() / "notes.ini") << "[Notes]\n";
        env.set("NOTES_INI", (scratch.path() / "notes.ini").string());
        env.set("TMPDIR", scratch.path().string());
        env.set("TZ", "UTC");
        tzset();
        host->config().set("tessel", "ExtractByTemplate", "0");
    }
    void TearDown() override {
        close();
        NsfTest::TearDown();
        EXPECT_EQ(allocator.liveCount(), 0u) << "open and close must leave nothing allocated";
    }

    // Writes the database as mailbox.dxl into the scratch folder (the current one) and opens it by
    // that relative name; the open's status is in openStatus.
    NSFCONTEXT *open(const kit::Database &db, uint32_t dwFlags = 0, const std::string &name = "mailbox.dxl") {
        close();
        std::filesystem::path path = scratch.path() / name;
        std::ofstream(path, std::ios::binary) << db.toDxl();
        input = std::make_unique<quillon::FileIOObject>(name, quillon::FileIOObject::Direction::Input);
        openStatus = -1;
        pOpen = static_cast<NSFCONTEXT *>(
            nsfInit(input->get(), host->services(), dwFlags, nullptr, nullptr, &openStatus));
        return pOpen;
    }
    void close() {
        if (pOpen != nullptr)
            nsfShutdown(pOpen);
        pOpen = nullptr;
    }
    std::vector<std::string> log() {
        if (pOpen != nullptr && pOpen->logFile != nullptr)
            fflush(pOpen->logFile);
        return splitLines(readFile(logPath()));
    }
    // True when some log line ends with the text (the line's prefix names the subfile counts).
    bool logged(const std::string &text) { return kit::anyLineEndsWith(log(), text); }
    const NSFSUBFILE &sub(int32_t i) const { return *pOpen->subFiles[i]; }
    std::string fileName(int32_t i) const {
        const NSFSUBFILE &s = sub(i);
        return s.pbFileName != nullptr
                   ? std::string(reinterpret_cast<const char *>(s.pbFileName), s.cbFileName)
                   : "";
    }
    std::vector<int32_t> kinds() const {
        std::vector<int32_t> result;
        for (int32_t i = 0; i < pOpen->numSubFiles; i++)
            result.push_back(sub(i).subFileType);
        return result;
    }

public:
    static kit::FileAttachment attachment(const std::string &name, const std::string &hostType = "msdos") {
        kit::FileAttachment file;
        file.name = name;
        file.data = kit::Bytes(name.begin(), name.end());
        file.hostType = hostType;
        file.modified = kit::DateTime::at(2021, 3, 4, 5, 6, 7);
        return file;
    }
    static kit::Note memo(const std::string &subject) {
        kit::Note note = kit::Note::document("Memo");
        note.add(kit::Item::text("From", "CN=Alice Smith/O=Acme"));
        note.add(kit::Item::text("Subject", subject));
        note.add(kit::Item::richText("Body", kit::RichText{}.par(1, "Hello")));
        return note;
    }
    // FILETIME of a GMT time: 100 ns units since 1601.
    static uint64_t fileTime(int year, int month, int day, int hour, int minute, int second) {
        using namespace std::chrono;
        const sys_seconds at = sys_days{std::chrono::year{year} / month / day} + hours{hour} + minutes{minute} +
                               seconds{second};
        return (static_cast<uint64_t>(at.time_since_epoch().count()) + 11644473600ull) * 10000000ull;
    }
    static uint64_t value(const QL_FILETIME &ft) {
        return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    }

protected:
    std::unique_ptr<quillon::FileIOObject> input;
    NSFCONTEXT *pOpen = nullptr;
    int openStatus = -1;
};

} // namespace tessel::test
