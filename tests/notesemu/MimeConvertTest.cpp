// MIMEConvertMIMEPartCC: each kind of MIME body converted into composite records that a reader
// walks with EnumCompositeBuffer; attachments made of parts; hostile messages.
#include "DxlValues.h"
#include "Log.h"
#include "MailTestSupport.h"

#include <gtest/gtest.h>

namespace notesemu::test {
namespace {

// A 3 x 2 GIF (the header carries the size; the rest is a minimal image).
const std::vector<std::uint8_t> kGif{0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x03, 0x00, 0x02, 0x00, 0x80, 0x00,
                                     0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00,
                                     0x03, 0x00, 0x02, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};

std::string base64(std::span<const std::uint8_t> bytes) {
    const std::string encoded = base64Encode(bytes);
    std::string out;
    for (std::size_t at = 0; at < encoded.size(); at += 76)
        out += encoded.substr(at, 76) + "\r\n";
    return out;
}

const char kHtml[] = "text/html; charset=utf-8";
const char kPlain[] = "text/plain; charset=utf-8";

class MimeTest : public RuntimeTest {
protected:
    // Opens a database of the given notes and the first one's note.
    NOTEHANDLE openNote(const kit::Note &memo) {
        kit::Database database;
        const NOTEID id = database.add(memo).info.noteId;
        note_ = std::make_unique<NoteHandle>(
            open(writeDatabase(database, "mime" + std::to_string(++count_) + ".dxl")), id);
        EXPECT_EQ(note_->status(), NOERROR);
        return note_->get();
    }

    Body convert(const Entity &entity) { return convertNote(mimeMemo(entity)); }

    Body convertNote(const kit::Note &memo) {
        const NOTEHANDLE note = openNote(memo);
        char body[] = "Body";
        EXPECT_EQ(MIMEConvertMIMEPartCC(note, body, 4, nullptr), NOERROR);
        EXPECT_FALSE(NSFNoteHasMIMEPart(note));
        return readBody(note);
    }

    std::unique_ptr<NoteHandle> note_;
    int count_ = 0;
};

// The conversions themselves. The Windows runtime is built without GMime; MimeUnavailable below
// checks how it refuses them there.
class MimeConvert : public MimeTest {
protected:
    void SetUp() override {
        MimeTest::SetUp();
#ifdef _WIN32
        GTEST_SKIP() << "the Windows runtime has no MIME conversion (no GMime): its ERR_NOT_IMPLEMENTED is "
                        "checked by MimeTest.UnavailableConversionIsRefusedAndTheMimeBodyKept";
#endif
    }
};

// Calls refused before any conversion, on every build.
using MimeConvertArguments = MimeTest;

#ifdef _WIN32
// Without GMime every MIME body is refused with ERR_NOT_IMPLEMENTED and a log line that counts
// its parts, and the note keeps its MIME items and attachments as they were: nothing is lost,
// and a caller can report the body as not convertible.
TEST_F(MimeTest, UnavailableConversionIsRefusedAndTheMimeBodyKept) {
    const std::vector<std::uint8_t> attached{'p', 'd', 'f'};
    const struct {
        const char *name;
        Entity entity;
        std::size_t parts;
    } cases[] = {
        {"plain text", Entity::leaf(kPlain, "hello\r\n"), 1},
        {"html", Entity::leaf(kHtml, "<p>hello <b>bold</b></p>"), 1},
        {"alternative",
         Entity::multipart("alternative", "alt",
                           {Entity::leaf(kPlain, "plain\r\n"), Entity::leaf(kHtml, "<p>html</p>")}),
         4},
        {"mixed with an attachment",
         Entity::multipart(
             "mixed", "mix",
             {Entity::leaf(kPlain, "see attached\r\n"),
              Entity::leaf("application/pdf; name=\"report.pdf\"", base64(attached),
                           "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
                           "filename=\"report.pdf\"\r\n")}),
         4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const NOTEHANDLE note = openNote(mimeMemo(c.entity));
        const std::vector<std::string> itemsBefore = note_->itemNames();
        const auto filesBefore = fileItems(note);
        LogCapture log;
        char body[] = "Body";
        EXPECT_EQ(MIMEConvertMIMEPartCC(note, body, 4, nullptr), ERR_NOT_IMPLEMENTED);
        EXPECT_TRUE(log.contains("MIME conversion is not part of this build of the runtime (no GMime); " +
                                 std::to_string(c.parts) + " MIME part(s) not converted"))
            << log.text();
        EXPECT_TRUE(NSFNoteHasMIMEPart(note));
        WORD type = 0;
        ASSERT_EQ(NSFItemInfo(note, "Body", 4, nullptr, &type, nullptr, nullptr), NOERROR);
        EXPECT_EQ(type, TYPE_MIME_PART);
        EXPECT_EQ(note_->itemNames(), itemsBefore);
        EXPECT_EQ(fileItems(note), filesBefore);
    }

    // The sample database's MIME memo likewise.
    const DBHANDLE db = open(TESSEL_SAMPLE_MAIL);
    int refused = 0;
    for (const Match &match : searchAll(db, NOTE_CLASS_DOCUMENT)) {
        NoteHandle note(db, match.id);
        ASSERT_EQ(note.status(), NOERROR);
        if (!NSFNoteHasMIMEPart(note.get()))
            continue;
        LogCapture log;
        char body[] = "Body";
        EXPECT_EQ(MIMEConvertMIMEPartCC(note.get(), body, 4, nullptr), ERR_NOT_IMPLEMENTED);
        EXPECT_TRUE(log.contains("(no GMime)")) << log.text();
        EXPECT_TRUE(NSFNoteHasMIMEPart(note.get()));
        ++refused;
    }
    EXPECT_EQ(refused, 1);
}
#endif

TEST_F(MimeConvert, PlainTextBecomesOneParagraphPerLineInItsCharset) {
    const Body latin = convert(Entity::leaf("text/plain; charset=iso-8859-1",
                                            "Gr=FC=DFe aus K=F6ln\r\nzweite Zeile=\r\n fortgesetzt\r\n",
                                            "Content-Transfer-Encoding: quoted-printable\r\n"));
    EXPECT_EQ(latin.text(), "Grüße aus Köln\nzweite Zeile fortgesetzt\n");
    const Body utf8 =
        convert(Entity::leaf(kPlain, base64(std::vector<std::uint8_t>{'c', 'a', 'f', 0xC3, 0xA9, '\n', 'x'}),
                             "Content-Transfer-Encoding: base64\r\n"));
    EXPECT_EQ(utf8.text(), "café\nx\n");
}

TEST_F(MimeConvert, HtmlKeepsParagraphsStylesLinksListsAndTables) {
    const Body body = convert(Entity::leaf(
        kHtml,
        "<html><head><title>t</title><style>p{}</style></head><body>"
        "<p>Hello <b>bold</b> <i>italic</i> <u>under</u></p>"
        "<p>line one<br>line two</p>"
        "<p>See <a href=\"https://example.com/a?b=1&amp;c=2\">the site</a>.</p>"
        "<ul><li>first</li><li>second</li></ul><ol><li>one</li></ol>"
        "<table><tr><th>H1</th><th>H2</th></tr><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>"
        "<script>alert(1)</script></body></html>"));
    const std::string text = body.text();
    EXPECT_NE(text.find("Hello bold italic under\n"), std::string::npos) << text;
    EXPECT_NE(text.find("line one\nline two\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("alert"), std::string::npos);
    EXPECT_EQ(text.find("p{}"), std::string::npos);
    EXPECT_TRUE(body.hasRun("bold", ISBOLD));
    EXPECT_TRUE(body.hasRun("italic", ISITALIC));
    EXPECT_TRUE(body.hasRun("under", ISUNDERLINE));
    EXPECT_FALSE(body.hasRun("Hello", ISBOLD));
    ASSERT_EQ(body.links, (std::vector<std::string>{"https://example.com/a?b=1&c=2"}));
    EXPECT_TRUE(body.hasRun("the site", 0));
    EXPECT_NE(std::find(body.pabFlags.begin(), body.pabFlags.end(), PABFLAG_BULLET), body.pabFlags.end());
    EXPECT_NE(std::find(body.pabFlags.begin(), body.pabFlags.end(), PABFLAG_NUMBEREDLIST),
              body.pabFlags.end());
    EXPECT_NE(text.find("first\nsecond\none\n"), std::string::npos) << text;
    ASSERT_EQ(body.tableSizes, (std::vector<std::pair<int, int>>{{3, 2}}));
    EXPECT_EQ(body.cells, (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}}));
    EXPECT_TRUE(body.hasRun("H1", ISBOLD));
    EXPECT_NE(text.find("H1\nH2\na\nb\nc\n\n"), std::string::npos) << text;
}

TEST_F(MimeConvert, AlternativeTakesTheRichestPart) {
    const Body body = convert(Entity::multipart(
        "alternative", "alt",
        {Entity::leaf(kPlain, "plain version\r\n"), Entity::leaf(kHtml, "<p>html <b>version</b></p>")}));
    EXPECT_EQ(body.text(), "html version\n");
    EXPECT_TRUE(body.hasRun("version", ISBOLD));
}

TEST_F(MimeConvert, RelatedPicturesAppearWhereTheHtmlReferencesThem) {
    const Body body = convert(
        Entity::multipart("related", "rel",
                          {Entity::leaf(kHtml, "<p>before <img src=\"cid:logo@x\" alt=\"logo\"> after</p>"),
                           Entity::leaf("image/gif", base64(kGif),
                                        "Content-Transfer-Encoding: base64\r\nContent-ID: <logo@x>\r\n")}));
    EXPECT_EQ(body.text(), "before  after\n");
    ASSERT_EQ(body.pictures.size(), 1u);
    EXPECT_EQ(body.pictures[0].type, CDIMAGETYPE_GIF);
    EXPECT_EQ(body.pictures[0].width, 3);
    EXPECT_EQ(body.pictures[0].height, 2);
    EXPECT_EQ(body.pictures[0].data, kGif);
    EXPECT_EQ(body.pictures[0].declaredSize, kGif.size());
    EXPECT_TRUE(fileItems(note_->get()).empty());
}

TEST_F(MimeConvert, MixedShowsInlinePicturesAndAttachesTheRest) {
    std::vector<std::uint8_t> pdf(5000);
    for (std::size_t i = 0; i < pdf.size(); ++i)
        pdf[i] = static_cast<std::uint8_t>(i * 7);
    const Body body = convert(Entity::multipart(
        "mixed", "mix",
        {Entity::leaf(kPlain, "see attached\r\n"),
         Entity::leaf("image/gif", base64(kGif),
                      "Content-Transfer-Encoding: base64\r\nContent-Disposition: inline\r\n"),
         Entity::leaf("application/pdf; name=\"report.pdf\"", base64(pdf),
                      "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
                      "filename=\"report.pdf\"\r\n"),
         Entity::leaf("application/octet-stream", "raw", "")}));
    EXPECT_NE(body.text().find("see attached\n"), std::string::npos);
    ASSERT_EQ(body.pictures.size(), 1u);
    EXPECT_EQ(body.pictures[0].data, kGif);
    EXPECT_EQ(body.fileHotspots, (std::vector<std::string>{"report.pdf", "Part1.bin"}));
    const auto files = fileItems(note_->get());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], (std::pair<std::string, DWORD>{"report.pdf", 5000}));
    EXPECT_EQ(files[1], (std::pair<std::string, DWORD>{"Part1.bin", 3}));
    // The attachment made of the part extracts to the decoded bytes.
    BLOCKID item{};
    ASSERT_EQ(NSFItemInfo(note_->get(), "$FILE", 5, &item, nullptr, nullptr, nullptr), NOERROR);
    const auto target = dir_.path() / "report.pdf";
    ASSERT_EQ(NSFNoteExtractFile(note_->get(), item, target.string().c_str(), nullptr), NOERROR);
    EXPECT_EQ(readFile(target), pdf);
}

TEST_F(MimeConvert, BodiesKeptInAttachmentObjectsAreReadBack) {
    std::vector<kit::MimePart> parts;
    itemize(Entity::multipart("mixed", "m",
                              {Entity::leaf(kPlain, "text part\r\n"),
                               Entity::leaf("text/plain; name=\"notes.txt\"", "notes.txt",
                                            "Content-Disposition: attachment; filename=\"notes.txt\"\r\n"),
                               Entity::leaf(kHtml, "$MIME_PART_00000001")}),
            {}, parts);
    parts[2].flags = kit::MimePart::kHasBoundary | kit::MimePart::kHasHeaders |
                     kit::MimePart::kBodyInDbObject | kit::MimePart::kSharedDbObject;
    parts[3].flags =
        kit::MimePart::kHasBoundary | kit::MimePart::kHasHeaders | kit::MimePart::kBodyInDbObject;
    kit::Note memo = mimeMemo(parts);
    kit::FileAttachment shared;
    shared.name = "notes.txt";
    shared.data = {'n', 'o', 't', 'e', 's'};
    memo.add(kit::Item::file(shared));
    kit::FileAttachment internal;
    internal.name = "$MIME_PART_00000001";
    const std::string html = "<p>from an <i>object</i></p>";
    internal.data.assign(html.begin(), html.end());
    memo.add(kit::Item::file(internal));
    const Body body = convertNote(memo);
    EXPECT_EQ(body.text(), "text part\n\nfrom an object\n");
    EXPECT_TRUE(body.hasRun("object", ISITALIC));
    EXPECT_EQ(body.fileHotspots, (std::vector<std::string>{"notes.txt"}));
    // The shared attachment stays the one $FILE item; the object that only held the HTML goes.
    EXPECT_EQ(fileItems(note_->get()), (std::vector<std::pair<std::string, DWORD>>{{"notes.txt", 5}}));
}

TEST_F(MimeConvert, ForwardedMessagesShowTheirHeadersAndBody) {
    const std::string inner =
        "From: Ann <ann@example.com>\r\nTo: bob@example.org\r\nSubject: Inner\r\n"
        "Date: Tue, 3 Mar 2020 10:00:00 -0500\r\nContent-Type: text/plain\r\n\r\ninner text\r\n";
    const Body body = convert(Entity::multipart(
        "mixed", "fw", {Entity::leaf(kPlain, "fyi\r\n"), Entity::leaf("message/rfc822", inner)}));
    const std::string text = body.text();
    EXPECT_NE(text.find("From: Ann <ann@example.com>\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Subject: Inner\n"), std::string::npos) << text;
    EXPECT_NE(text.find("inner text\n"), std::string::npos) << text;
}

TEST_F(MimeConvert, ConvertsOnlyTheWorkingCopy) {
    kit::Database database;
    const NOTEID id = database.add(mimeMemo(Entity::leaf(kPlain, "once\r\n"))).info.noteId;
    const DBHANDLE db = open(writeDatabase(database));
    {
        NoteHandle first(db, id);
        char body[] = "Body";
        ASSERT_EQ(MIMEConvertMIMEPartCC(first.get(), body, 4, nullptr), NOERROR);
        EXPECT_EQ(readBody(first.get()).text(), "once\n");
        // A second conversion finds no MIME part left.
        EXPECT_EQ(MIMEConvertMIMEPartCC(first.get(), body, 4, nullptr), ERR_MISC_INVALID_ARGS);
    }
    NoteHandle second(db, id);
    EXPECT_TRUE(NSFNoteHasMIMEPart(second.get()));
    WORD type = 0;
    ASSERT_EQ(NSFItemInfo(second.get(), "Body", 4, nullptr, &type, nullptr, nullptr), NOERROR);
    EXPECT_EQ(type, TYPE_MIME_PART);
    // The other items keep their order around the converted body.
    EXPECT_EQ(second.itemNames(),
              (std::vector<std::string>{"Form", "Subject", "Body", "$NoteHasNativeMIME"}));
}

TEST_F(MimeConvert, LongBodiesSpreadOverItemsOfOneName) {
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "Line " + std::to_string(i) + " of a long plain text message\r\n";
    const Body body = convert(Entity::leaf(kPlain, text));
    EXPECT_EQ(body.paragraphs.size(), 20000u);
    EXPECT_EQ(body.paragraphs.back(), "Line 19999 of a long plain text message");
    std::vector<std::string> names = note_->itemNames();
    EXPECT_GT(std::count(names.begin(), names.end(), "Body"), 10);
    // The object that held the part's body went with the MIME items.
    EXPECT_TRUE(fileItems(note_->get()).empty());
}

TEST_F(MimeConvertArguments, RefusesNotesWithoutMimeParts) {
    kit::Note memo = kit::Note::document("Memo");
    memo.add(kit::Item::text("Body", "plain text body"));
    const NOTEHANDLE note = openNote(memo);
    char body[] = "Body";
    EXPECT_EQ(MIMEConvertMIMEPartCC(note, body, 4, nullptr), ERR_MISC_INVALID_ARGS);
    EXPECT_EQ(MIMEConvertMIMEPartCC(note, nullptr, 0, nullptr), ERR_MISC_INVALID_ARGS);
    EXPECT_EQ(MIMEConvertMIMEPartCC(NULLHANDLE, body, 4, nullptr), ERR_BAD_PARAM);
}

// Hostile messages: a converted body with what could be read, or a clear status; never a crash.
TEST_F(MimeConvert, MissingBoundariesKeepWhatCanBeRead) {
    LogCapture log;
    // The multipart declares a boundary its body never uses.
    const Body body = convert(Entity::leaf("multipart/mixed; boundary=\"nowhere\"",
                                           "--elsewhere\r\nContent-Type: text/plain\r\n\r\nlost part\r\n"));
    EXPECT_NE(body.text().find("lost part"), std::string::npos) << body.text();
    EXPECT_TRUE(log.contains("missing or wrong boundary")) << log.text();
    // A multipart without any boundary parameter is read as text.
    const Body noBoundary = convert(Entity::leaf("multipart/mixed", "just text\r\n"));
    EXPECT_NE(noBoundary.text().find("just text"), std::string::npos) << noBoundary.text();
}

TEST_F(MimeConvert, BadEncodingsAndUnknownCharsetsKeepTheReadableText) {
    LogCapture log;
    const Body badBase64 =
        convert(Entity::leaf(kPlain, "SGVsbG8g!!d29y*bGQ=\r\n", "Content-Transfer-Encoding: base64\r\n"));
    EXPECT_EQ(badBase64.text(), "Hello world\n");
    const Body badQp =
        convert(Entity::leaf(kPlain, "a=ZZb=4\r\n", "Content-Transfer-Encoding: quoted-printable\r\n"));
    EXPECT_NE(badQp.text().find('a'), std::string::npos);
    const Body unknown = convert(Entity::leaf("text/plain; charset=x-no-such-charset", "caf\xC3\xA9\r\n"));
    EXPECT_EQ(unknown.text(), "café\n");
    EXPECT_TRUE(log.contains("unknown charset 'x-no-such-charset' read as utf-8")) << log.text();
    const Body latin = convert(Entity::leaf("text/plain; charset=x-no-such-charset", "caf\xE9\r\n"));
    EXPECT_EQ(latin.text(), "café\n");
    const Body badUtf8 = convert(Entity::leaf(kPlain, "ok \xFF\xFE end\r\n"));
    EXPECT_EQ(badUtf8.text(), "ok \xEF\xBF\xBD\xEF\xBF\xBD end\n");
}

TEST_F(MimeConvert, DeeplyNestedMultipartsAreBounded) {
    LogCapture log;
    Entity entity = Entity::leaf(kPlain, "deep text\r\n");
    for (int depth = 0; depth < 200; ++depth)
        entity = Entity::multipart("mixed", "b" + std::to_string(depth), {std::move(entity)});
    const Body body = convert(entity);
    EXPECT_EQ(body.text(), "deep text\n");
    EXPECT_TRUE(log.contains("nested deeper than 32 levels")) << log.text();
    // The same nesting inside one part's body.
    std::string stream = "deep inline\r\n";
    for (int depth = 0; depth < 3000; ++depth)
        stream = "--n" + std::to_string(depth) + "\r\nContent-Type: " +
                 (depth == 0 ? std::string("text/plain")
                             : "multipart/mixed; boundary=\"n" + std::to_string(depth - 1) + "\"") +
                 "\r\n\r\n" + stream + "\r\n--n" + std::to_string(depth) + "--\r\n";
    const Body inline_ = convert(Entity::leaf("multipart/mixed; boundary=\"n2999\"", stream));
    EXPECT_GE(inline_.records, 0);
}

TEST_F(MimeConvert, HugeAndDeeplyNestedHtmlConvertsInLinearTime) {
    LogCapture log;
    std::string big;
    for (int i = 0; i < 60000; ++i)
        big += "<p>Paragraph <b>" + std::to_string(i) + "</b> with <a href='https://e.com/" +
               std::to_string(i) + "'>a link</a></p>\n";
    ASSERT_GT(big.size(), 4u * 1024 * 1024);
    const Body body = convert(Entity::leaf(kHtml, big));
    EXPECT_EQ(body.links.size(), 60000u);
    EXPECT_EQ(body.paragraphs.back(), "Paragraph 59999 with a link");
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<div><b id=" + std::to_string(i) + ">";
    deep += "bottom";
    const Body nested = convert(Entity::leaf(kHtml, deep));
    EXPECT_NE(nested.text().find("bottom"), std::string::npos);
    EXPECT_TRUE(log.contains("start tags nested beyond")) << log.text();
}

TEST_F(MimeConvert, UnreadablePartsGiveAClearStatus) {
    kit::Note memo = kit::Note::document("Memo");
    memo.add(kit::Item::raw("Body", kit::type::kMimePart, {2, 0, 0}));
    const NOTEHANDLE note = openNote(memo);
    LogCapture log;
    char body[] = "Body";
    EXPECT_EQ(MIMEConvertMIMEPartCC(note, body, 4, nullptr), ERR_MIME_PARSE_BAD_DATA);
    EXPECT_TRUE(log.contains("not a MIME part")) << log.text();
    // A part whose lengths run past its data is read as far as it goes.
    kit::MimePart part;
    part.headers = "Content-Type: text/plain\r\n\r\n";
    part.body = "short body";
    kit::Bytes value = part.value();
    value[12] = 0xFF; // wHeadersLen
    kit::Note broken = kit::Note::document("Memo");
    broken.add(kit::Item::raw("Body", kit::type::kMimePart, value));
    const NOTEHANDLE second = openNote(broken);
    EXPECT_EQ(MIMEConvertMIMEPartCC(second, body, 4, nullptr), NOERROR);
    EXPECT_TRUE(log.contains("read as far as it goes")) << log.text();
}

} // namespace
} // namespace notesemu::test

namespace notesemu::test {
namespace {

TEST_F(MimeConvert, SampleMimeMemoShowsItsPictureTableAndLink) {
    const DBHANDLE db = open(TESSEL_SAMPLE_MAIL);
    int converted = 0;
    for (const Match &match : searchAll(db, NOTE_CLASS_DOCUMENT)) {
        NoteHandle note(db, match.id);
        ASSERT_EQ(note.status(), NOERROR);
        if (!NSFNoteHasMIMEPart(note.get()))
            continue;
        char body[] = "Body";
        ASSERT_EQ(MIMEConvertMIMEPartCC(note.get(), body, 4, nullptr), NOERROR);
        const Body read = readBody(note.get());
        EXPECT_NE(read.text().find("Hello Alice."), std::string::npos) << read.text();
        EXPECT_TRUE(read.hasRun("Alice", ISBOLD));
        ASSERT_EQ(read.pictures.size(), 1u);
        EXPECT_EQ(read.pictures[0].type, CDIMAGETYPE_GIF);
        EXPECT_EQ(read.pictures[0].width, 24);
        EXPECT_EQ(read.tableSizes, (std::vector<std::pair<int, int>>{{3, 3}}));
        EXPECT_EQ(read.links, (std::vector<std::string>{"https://www.example.com/q"}));
        ++converted;
    }
    EXPECT_EQ(converted, 1);
}

} // namespace
} // namespace notesemu::test
