// The mail renderings: the header rows and their special handling, the Sent rules, the attachment
// list, the logo, a memo without Body, the all-fields list, and whole memos compared with files
// under tests/data/extract that were checked by hand.
#include "ExtractFixture.h"

#include <fstream>
#include <sstream>

namespace tessel::test {
namespace {

using kit::DateTime;
using kit::Item;
using kit::Note;

constexpr uint32_t kPlain = 0;
constexpr uint32_t kFormatted = QLExtractFlag_GetFormattedBody;

std::string expectedFile(const std::string &name) {
    std::ifstream in(std::filesystem::path(TESSEL_EXTRACT_DATA_DIR) / name, std::ios::binary);
    EXPECT_TRUE(in.good()) << "missing expected output " << name;
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The text between the header block's font start and end of a formatted memo.
std::string headerBlock(const std::string &mht) {
    const std::string start = "<FONT face=3D\"Arial Unicode MS\" size=3D2>\r\n";
    const std::string end = "<BR>\r\n</FONT>\r\n</P>\r\n";
    size_t a = mht.find(start);
    size_t b = mht.find(end, a == std::string::npos ? 0 : a);
    if (a == std::string::npos || b == std::string::npos)
        return "<no header block>";
    return mht.substr(a + start.size(), b - a - start.size());
}

// The header lines of a plain memo: everything before the blank line that precedes the body.
std::string headerLines(const std::string &plain) {
    size_t b = plain.find("\r\n\r\n");
    return b == std::string::npos ? plain : plain.substr(0, b + 2);
}

class MailTest : public ExtractTest {
protected:
    static Note mailMemo(const std::string &subject) {
        Note note = Note::document("Memo");
        note.add(Item::text("From", "Alice"));
        note.add(Item::text("Subject", subject));
        return note;
    }
    // Opens a database holding the one memo and returns the subfile index of the memo.
    int32_t openOne(Note note) {
        kit::Database db;
        db.add(std::move(note));
        EXPECT_NE(open(db), nullptr);
        EXPECT_EQ(openStatus, 0);
        return 0;
    }
};

struct SentCase {
    const char *name;
    bool posted, composed, alt;
    const char *altOption;
    const char *plainSent;     // the plain Sent line, "" for none
    const char *formattedSent; // the formatted Sent line, "" for none
};

class SentRules : public MailTest, public ::testing::WithParamInterface<SentCase> {};

TEST_P(SentRules, OneSentLineFromTheFirstTimeThatHasText) {
    const SentCase &c = GetParam();
    if (c.altOption[0] != '\0')
        option("AltSentField", c.altOption);
    Note note = mailMemo("sent");
    if (c.posted)
        note.add(Item::dateTime("PostedDate", DateTime::at(2021, 5, 6, 7, 8, 9)));
    if (c.composed)
        note.add(Item::dateTime("ComposedDate", DateTime::at(2020, 1, 2, 3, 4, 5)));
    if (c.alt)
        note.add(Item::text("DeliveredDate", "yesterday"));
    int32_t i = openOne(std::move(note));

    std::string plain = headerLines(extractOk(i, kPlain));
    std::string expectedPlain = std::string("From: Alice\r\n") + c.plainSent + "Subject: sent\r\n";
    EXPECT_EQ(plain, expectedPlain);

    std::string formatted = headerBlock(extractOk(i, kFormatted));
    std::string expectedFormatted =
        std::string("<B>From: </B>Alice<BR>\r\n") + c.formattedSent + "<B>Subject: </B>sent<BR>\r\n";
    EXPECT_EQ(formatted, expectedFormatted);
}

INSTANTIATE_TEST_SUITE_P(
    Mail, SentRules,
    ::testing::Values(
        SentCase{"PostedWins", true, true, true, "DeliveredDate", "Sent: 05/06/2021 07:08:09 AM\r\n",
                 "<B>Sent: </B>05/06/2021 07:08:09 AM<BR>\r\n"},
        SentCase{"ComposedWithoutPosted", false, true, true, "DeliveredDate", "Sent: 01/02/2020 03:04:05 AM\r\n",
                 "<B>Sent: </B>01/02/2020 03:04:05 AM<BR>\r\n"},
        SentCase{"AltSentField", false, false, true, "DeliveredDate", "Sent: yesterday\r\n",
                 "<B>Sent: </B>yesterday<BR>\r\n"},
        SentCase{"AltSentFieldNotOnTheMemo", false, false, false, "DeliveredDate", "Sent:  \r\n", ""},
        SentCase{"AltItemIgnoredWithoutOption", false, false, true, "", "Sent:  \r\n", ""},
        SentCase{"NoTimeAtAll", false, false, false, "", "Sent:  \r\n", ""}),
    [](const auto &info) { return std::string(info.param.name); });

struct RowCase {
    const char *name;
    const char *item;
    const char *value;
    const char *line; // the plain line expected, "" for none
    const char *warning;
};

class HeaderRows : public MailTest, public ::testing::WithParamInterface<RowCase> {};

TEST_P(HeaderRows, ValueAndSpecialHandling) {
    const RowCase &c = GetParam();
    Note note = Note::document("Memo");
    note.add(Item::text("From", "Alice"));
    note.add(Item::text(c.item, c.value));
    int32_t i = openOne(std::move(note));
    std::string plain = headerLines(extractOk(i, kPlain));
    EXPECT_EQ(plain, std::string("From: Alice\r\nSent:  \r\n") + c.line);
    if (c.warning[0] != '\0')
        EXPECT_TRUE(logged(c.warning)) << c.warning;
    else
        EXPECT_FALSE(logged("has unhandled value: " + std::string(c.value)));
}

INSTANTIATE_TEST_SUITE_P(
    Mail, HeaderRows,
    ::testing::Values(
        RowCase{"SendTo", "SendTo", "Bob", "To: Bob\r\n", ""},
        RowCase{"CopyTo", "CopyTo", "Carol", "Cc: Carol\r\n", ""},
        RowCase{"BlindCopyTo", "BlindCopyTo", "Dave", "Bcc: Dave\r\n", ""},
        RowCase{"Importance", "Importance", "1", "Priority: 1\r\n", ""},
        RowCase{"Chair", "Chair", "Erin", "Chair: Erin\r\n", ""},
        RowCase{"StartsCut", "StartDateTime", "01/02/2020 09:00:00 AM;01/09/2020 09:00:00 AM",
                "Starts: 01/02/2020 09:00:00 AM\r\n", ""},
        RowCase{"EndsCut", "EndDateTime", "01/02/2020 10:00:00 AM;x", "Ends: 01/02/2020 10:00:00 AM\r\n", ""},
        RowCase{"StartsWithoutRange", "StartDateTime", "01/02/2020", "Starts: 01/02/2020\r\n", ""},
        RowCase{"RepeatsDaily", "RepeatForUnit", "D", "Repeats: Daily\r\n", ""},
        RowCase{"RepeatsWeekly", "RepeatForUnit", "W", "Repeats: Weekly\r\n", ""},
        RowCase{"RepeatsMonthly", "RepeatForUnit", "M", "Repeats: Monthly\r\n", ""},
        RowCase{"RepeatsYearly", "RepeatForUnit", "Y", "Repeats: Yearly\r\n", ""},
        RowCase{"RepeatsUnknown", "RepeatForUnit", "X", "Repeats: X\r\n",
                "nsfExtractMailHeader(): Field Repeats has unhandled value: X"},
        RowCase{"Location", "Location", "Room 1", "Location: Room 1\r\n", ""},
        RowCase{"Attendees", "Attendees", "Frank", "Attendees: Frank\r\n", ""},
        RowCase{"EmptyValueSkipped", "Location", "", "", ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(MailTest, HeaderRowsInTableOrderAndHtmlEscaped) {
    Note note = Note::document("Memo");
    // Items in an order unlike the table's: the output follows the table.
    note.add(Item::text("Attendees", "Frank"));
    note.add(Item::text("Subject", "a < b = c"));
    note.add(Item::text("CopyTo", "Carol"));
    note.add(Item::text("From", "Alice <alice@example.com>"));
    note.add(Item::textList("SendTo", {"Bob", "Dora"}));
    int32_t i = openOne(std::move(note));
    EXPECT_EQ(headerLines(extractOk(i, kPlain)), "From: Alice <alice@example.com>\r\n"
                                                 "Sent:  \r\n"
                                                 "To: Bob\r\nDora\r\n"
                                                 "Cc: Carol\r\n"
                                                 "Subject: a < b = c\r\n"
                                                 "Attendees: Frank\r\n");
    EXPECT_EQ(headerBlock(extractOk(i, kFormatted)), "<B>From: </B>Alice &lt;alice@example.com&gt;<BR>\r\n"
                                                     "<B>To: </B>Bob<BR>\r\nDora<BR>\r\n"
                                                     "<B>Cc: </B>Carol<BR>\r\n"
                                                     "<B>Subject: </B>a &lt; b =3D c<BR>\r\n"
                                                     "<B>Attendees: </B>Frank<BR>\r\n");
}

TEST_F(MailTest, AttachmentListNamesTheMemosOwnAttachmentsOnly) {
    kit::Database db;
    Note first = mailMemo("first");
    first.add(Item::file(file("a.txt", {'a'})));
    first.add(Item::file(file("b.pdf", {'b'})));
    db.add(std::move(first));
    db.add(mailMemo("second")); // the next catalogue entry after "third"'s memo is another note
    Note third = mailMemo("third");
    db.add(std::move(third));
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(kinds(), (std::vector<int32_t>{0, 1, 1, 0, 0}));

    EXPECT_TRUE(has(extractOk(0, kPlain), "Attachments: a.txt, b.pdf\r\n"));
    EXPECT_TRUE(has(extractOk(0, kFormatted), "<B>Attachments: </B>a.txt, b.pdf<BR>\r\n"));
    EXPECT_FALSE(has(extractOk(3, kPlain), "Attachments"));
    EXPECT_FALSE(has(extractOk(4, kPlain), "Attachments")) << "the last memo of the catalogue";
}

TEST_F(MailTest, LogoPictureInHeaderTableAndAsPart) {
    kit::Database db;
    kit::Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44,
                      1, 0, 0x3B};
    db.add(Note::imageResource("logo.gif;companylogo", kit::ImageFile{kit::ImageFile::Format::Gif, gif}));
    Note note = mailMemo("with logo");
    note.info.noteId = 0x1F2 & ~3u; // note IDs are multiples of 4
    note.add(Item::text("Logo", "companylogo"));
    note.add(Item::richText("Body", kit::RichText{}.par(1, "Hello")));
    db.add(std::move(note));
    ASSERT_NE(open(db), nullptr);
    const uint32_t noteId = sub(0).dwNoteID;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", noteId);
    const std::string location = "file:///ql_" + std::string(hex) + "_image999.gif";

    std::string mht = extractOk(0, kFormatted);
    EXPECT_TRUE(has(mht, "<TABLE style=3D\"vertical-align:top;\">\r\n<TBODY>\r\n<TR style=3D\"vertical-align:top;\">"
                         "\r\n<TD>\r\n<IMG src=3D\"" + location + "\">\r\n</TD>\r\n<TD>\r\n<P>\r\n"));
    EXPECT_TRUE(has(mht, "<BR>\r\n</FONT>\r\n</P>\r\n</TD>\r\n</TBODY>\r\n</TABLE>\r\n"));
    const std::string part = "\r\n------=_NextPart_000_0004_01CB58DD.164505B0\r\nContent-Type: image/gif\r\n"
                             "Content-Transfer-Encoding: base64\r\nContent-Location: " + location + "\r\n\r\n"
                             "R0lGODlhAQABAAAAACwAAAAAAQABAAACAkQBADs=";
    EXPECT_TRUE(has(mht, part)) << mht;
    EXPECT_TRUE(mht.ends_with(part + kClosing)) << "the logo part follows the body, the closing follows it";
    EXPECT_FALSE(has(extractOk(0, kPlain), "ql_")) << "the plain rendering has no pictures";
}

TEST_F(MailTest, MemoWithoutBody) {
    int32_t i = openOne(mailMemo("no body"));
    std::string plain = extractOk(i, kPlain);
    EXPECT_EQ(plain, "From: Alice\r\nSent:  \r\nSubject: no body\r\n");
    EXPECT_TRUE(logged("WARNING nsfExtractMailBody(): No mail body item"));

    std::string mht = extractOk(i, kFormatted);
    EXPECT_TRUE(startsWith(mht, kEnvelope + kHead)) << mht;
    EXPECT_TRUE(has(mht, "<B>Subject: </B>no body<BR>\r\n<BR>\r\n</FONT>\r\n</P>\r\n"));
    EXPECT_TRUE(mht.ends_with(kClosing));
    EXPECT_EQ(mht.find("------=_NextPart_000_0004_01CB58DD.164505B0--"), mht.size() - kClosing.size() + 4)
        << "one closing delimiter: the converter's own is cut off";
}

TEST_F(MailTest, FormattedMemoEndsWithOneClosingDelimiter) {
    Note note = mailMemo("closing");
    note.add(Item::richText("Body", kit::RichText{}.par(1, "Body text")));
    int32_t i = openOne(std::move(note));
    std::string mht = extractOk(i, kFormatted);
    EXPECT_TRUE(startsWith(mht, kEnvelope + kHead));
    EXPECT_TRUE(mht.ends_with(kClosing));
    size_t first = mht.find("------=_NextPart_000_0004_01CB58DD.164505B0--");
    EXPECT_EQ(first, mht.rfind("------=_NextPart_000_0004_01CB58DD.164505B0--"));
}

TEST_F(MailTest, AllFieldsListWithEveryItemInOrder) {
    option("ExtractAllFields", "1");
    Note note = Note::document("Memo");
    note.add(Item::text("From", "Alice"));
    note.add(Item::text("Empty", ""));
    note.add(Item::number("Count", 3));
    note.add(Item::textList("Tags", {"x", "y"}));
    int32_t i = openOne(std::move(note));
    std::string list = extractOk(i, kPlain);
    EXPECT_EQ(list, "Form: Memo\r\nFrom: Alice\r\nEmpty:  \r\nCount: 3\r\nTags: x\r\ny\r\n");
}

TEST_F(MailTest, AllFieldsListWithUnreadableLastItem) {
    option("ExtractAllFields", "1");
    Note note = Note::document("Memo");
    note.add(Item::text("From", "Alice"));
    note.add(Item::text("Subject", "broken"));
    // A time value too short to hold a TIMEDATE is logged and read as empty; a rich-text value
    // whose records run past its end cannot be read at all.
    note.add(Item::richTextRaw("Broken", kit::Bytes{0x01, 0x00, 0x00, 0x00}));
    int32_t i = openOne(std::move(note));
    std::string out;
    int status = extract(i, kPlain, out);
    EXPECT_NE(status, 0) << "the unreadable item's status is the result";
    EXPECT_EQ(out, "Form: Memo\r\nFrom: Alice\r\nSubject: broken\r\n") << "every readable item is written";
    EXPECT_TRUE(logged("WARNING nsfExtractAllFields(): nsfGetItemData() failed"));
}

struct WholeCase {
    const char *name;
    uint32_t flags;
    const char *file;
};

class WholeMemo : public MailTest, public ::testing::WithParamInterface<WholeCase> {};

// A calendar memo with attachments: every row of the header table that has a value.
Note calendarMemo() {
    Note note = Note::document("Appointment");
    note.add(Item::text("From", "CN=Alice Smith/O=Acme"));
    note.add(Item::dateTime("PostedDate", DateTime::at(2021, 5, 6, 7, 8, 9)));
    note.add(Item::dateTime("ComposedDate", DateTime::at(2021, 5, 6, 7, 0, 0)));
    note.add(Item::textList("SendTo", {"Bob Jones <bob@acme.example>", "Carol"}));
    note.add(Item::text("CopyTo", "Dave"));
    note.add(Item::text("Subject", "Planning & review"));
    note.add(Item::text("Importance", "1"));
    note.add(Item::text("Chair", "CN=Alice Smith/O=Acme"));
    note.add(Item::text("StartDateTime", "06/01/2021 09:00:00 AM;06/08/2021 09:00:00 AM"));
    note.add(Item::text("EndDateTime", "06/01/2021 10:00:00 AM;06/08/2021 10:00:00 AM"));
    note.add(Item::text("RepeatForUnit", "W"));
    note.add(Item::text("Location", "Room 4"));
    note.add(Item::text("Body", "Agenda:\n1. budget\n2. plans"));
    note.add(Item::file(kit::FileAttachment{"agenda.txt", {'x'}}));
    note.add(Item::file(kit::FileAttachment{"plan.pdf", {'y'}}));
    return note;
}

TEST_P(WholeMemo, MatchesTheFileCheckedByHand) {
    const WholeCase &c = GetParam();
    int32_t i = openOne(calendarMemo());
    EXPECT_EQ(extractOk(i, c.flags), expectedFile(c.file));
}

INSTANTIATE_TEST_SUITE_P(Mail, WholeMemo,
                         ::testing::Values(WholeCase{"Plain", kPlain, "calendar-plain.txt"},
                                           WholeCase{"PlainWithoutHeader", QLExtractFlag_ExcludeMailHeader,
                                                     "calendar-plain-noheader.txt"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(MailTest, WholeAllFieldsList) {
    option("ExtractAllFields", "1");
    int32_t i = openOne(calendarMemo());
    EXPECT_EQ(extractOk(i, kPlain), expectedFile("calendar-allfields.txt"));
}

} // namespace
} // namespace tessel::test
