// The host's Extractor over the plug-in as a host loads it: slots 5 and 7 filled in the shared
// library, extraction into a file, a string and an I/O object, and an empty slot reported as
// unavailable.
#include "ExtractFixture.h"

#include <quillon/host/Container.h>
#include <quillon/host/ReaderLibrary.h>
#include <quillon/host/Status.h>

namespace tessel::test {
namespace {

using kit::Item;
using kit::Note;

class HostExtractorTest : public ExtractTest {
protected:
    void SetUp() override {
        ExtractTest::SetUp();
        std::string error;
        library = quillon::ReaderLibrary::load(TESSEL_NSF_PLUGIN, error);
        ASSERT_NE(library, nullptr) << error;
        kit::Database db;
        Note note = memo("hosted");
        note.add(Item::file(file("report.bin", pattern(10000, 3))));
        db.add(std::move(note));
        Note hidden = Note::raw("form");
        hidden.add(Item::text("Body", "form body"));
        hidden.add(Item::file(file("inner.txt", {'i', 'n'})));
        hiddenId = db.add(std::move(hidden)).info.noteId;
        // A folder whose name has a space and a dot, as a checkout path may.
        dir = scratch.path() / "in put.d";
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "mail box.dxl", std::ios::binary) << db.toDxl();
        container = std::make_unique<quillon::Container>(*host, *library, dir / "mail box.dxl");
        ASSERT_TRUE(container->isOpen()) << quillon::statusName(container->status());
    }
    void TearDown() override {
        container.reset();
        ExtractTest::TearDown();
    }
    std::unique_ptr<quillon::ReaderLibrary> library;
    std::unique_ptr<quillon::Container> container;
    std::filesystem::path dir;
    uint32_t hiddenId = 0;
};

TEST_F(HostExtractorTest, SlotsFiveAndSevenAreFilled) {
    EXPECT_NE(library->operations().fpExtractSubFileToIOobj, nullptr);
    EXPECT_NE(library->operations().fpExtractSubFileToIOobjEx, nullptr);
}

TEST_F(HostExtractorTest, IntoFileStringAndObject) {
    quillon::Extractor extractor(*container);
    std::filesystem::path out = dir / "report copy.bin";
    EXPECT_EQ(extractor.extract(1, out, 0), 0);
    EXPECT_EQ(readFile(out), text(pattern(10000, 3)));

    std::string memo;
    EXPECT_EQ(extractor.extract(0, memo, QLExtractFlag_GetFormattedBody), 0);
    EXPECT_TRUE(startsWith(memo, kEnvelope + kHead));
    EXPECT_TRUE(memo.ends_with(kClosing));

    quillon::MemoryIOObject object;
    EXPECT_EQ(extractor.extract(0, object.get(), 0), 0);
    EXPECT_TRUE(startsWith(object.data(), "From: CN=Alice Smith/O=Acme\r\n"));
}

TEST_F(HostExtractorTest, BadIndexCreatesNoFile) {
    quillon::Extractor extractor(*container);
    std::filesystem::path out = dir / "none.bin";
    EXPECT_EQ(extractor.extract(7, out, 0), QLSTATUS_BAD_ARGUMENT);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(HostExtractorTest, UnwritableFileGivesOutputFailed) {
    quillon::Extractor extractor(*container);
    std::filesystem::path out = dir / "no such folder" / "x.bin";
    EXPECT_EQ(extractor.extract(1, out, 0), QLSTATUS_OUTPUT_FAILED);
    EXPECT_TRUE(has(extractor.error(), "cannot open")) << extractor.error();
}

TEST_F(HostExtractorTest, SlotSevenIntoOneFileKeepsEveryEntry) {
    quillon::Extractor extractor(*container);
    QLExtraSubFileInfo extra{sizeof(QLExtraSubFileInfo), hiddenId, QLExtraSubFileKind_Note};
    std::filesystem::path out = dir / "hidden.out";
    EXPECT_EQ(extractor.extractEx(0, out, 0, &extra), 0);
    EXPECT_EQ(readFile(out), "\r\nform body"
                             "in")
        << "the note and its attachment, one after the other";
    std::string intoString;
    EXPECT_EQ(extractor.extractEx(0, intoString, 0, &extra), 0);
    EXPECT_EQ(intoString, readFile(out));
    EXPECT_EQ(quillon::Catalogue(*container).count().value, 2);

    std::filesystem::path plain = dir / "plain.out";
    EXPECT_EQ(extractor.extractEx(1, plain, 0, nullptr), 0);
    EXPECT_EQ(readFile(plain), text(pattern(10000, 3)));
}

TEST_F(HostExtractorTest, EmptySlotsAreUnavailable) {
    QLReaderInterface empty = library->operations();
    empty.fpExtractSubFileToIOobj = nullptr;
    empty.fpExtractSubFileToIOobjEx = nullptr;
    quillon::Extractor extractor(*host, empty, container->context());
    std::string out;
    EXPECT_EQ(extractor.extract(0, out, 0), quillon::kStatusUnavailable);
    EXPECT_EQ(extractor.extractEx(0, out, 0, nullptr), quillon::kStatusUnavailable);
    EXPECT_EQ(quillon::statusName(quillon::kStatusUnavailable), "UNAVAILABLE");
}

} // namespace
} // namespace tessel::test
