#include "tessel/kit/Values.h"

#include <gtest/gtest.h>

namespace tessel::kit {
namespace {

Bytes hex(std::string_view h) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < h.size();) {
        if (h[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16)));
        i += 2;
    }
    return out;
}

Bytes concat(Bytes a, std::string_view s) {
    a.insert(a.end(), s.begin(), s.end());
    return a;
}

// The two-part message of the published worked example: a prolog and one body part.
TEST(Values, MimePartsMatchTheWorkedExample) {
    MimePart prolog;
    prolog.partType = MimePart::kProlog;
    prolog.headers = "Content-Type: multipart/alternative; boundary=\"b1_XYZ\"\r\n\r\n";
    prolog.body = "This is a multi-part message in MIME format.\r\n";
    const Bytes p = prolog.value();
    EXPECT_EQ(p.size() + 2, 126u);
    EXPECT_EQ(Bytes(p.begin(), p.begin() + 20), hex("0200 02000000 01 00 6800 0000 3A00 0000 00000000"));
    EXPECT_EQ(Bytes(p.begin() + 20, p.end()), concat({}, prolog.headers + prolog.body));

    MimePart part;
    part.boundary = "--b1_XYZ\r\n";
    part.headers = "Content-Type: text/plain; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
    part.body = "Hello Bob.\r\n";
    const Bytes b = part.value();
    EXPECT_EQ(b.size() + 2, 122u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 20), hex("0200 03000000 02 00 6400 0A00 4E00 0000 00000000"));

    MimePart epilog;
    epilog.partType = MimePart::kEpilog;
    epilog.boundary = "--b1_XYZ--\r\n";
    const Bytes e = epilog.value();
    EXPECT_EQ(e, concat(hex("0200 01000000 03 00 0C00 0C00 0000 0000 00000000"), "--b1_XYZ--\r\n"));
}

TEST(Values, Rfc822HeadersMatchTheWorkedExample) {
    const Bytes from = Rfc822Text::address("From", "\"Ann Example\" <ann@example.com>").value();
    EXPECT_EQ(from.size() + 2, 86u);
    EXPECT_EQ(Bytes(from.begin(), from.begin() + 14), hex("0E00 08000000 1F00 0400 0200 2100"));
    EXPECT_EQ(std::string(from.begin() + 14 + 31, from.begin() + 14 + 31 + 6), "From: ");

    const TimeDate when = DateTime::at(2020, 3, 3, 10, 0, 0, 0, -300).toTimeDate();
    const Bytes date = Rfc822Text::date("Date", "Tue, 3 Mar 2020 10:00:00 -0500", when).value();
    EXPECT_EQ(date.size() + 2, 62u);
    EXPECT_EQ(Bytes(date.begin() + 2, date.begin() + 6), hex("09000000"));
    EXPECT_EQ(Bytes(date.begin() + 14, date.begin() + 22), hex("C0655200 20852505"));

    EXPECT_EQ(Rfc822Text::text("Subject", "Hello").value().size() + 2, 37u);
}

TEST(Values, ListsAndRanges) {
    EXPECT_EQ(textListValue({"ab", "", "\xC3\xA9"}), hex("0300 0200 0000 0100 6162 82"));
    EXPECT_EQ(numberRangeValue({1.0}), hex("0100 0000 000000000000F03F"));
    const TimeDate t{{1, 2}};
    EXPECT_EQ(timeRangeValue({}, {{t, t}}), hex("0000 0100 0100000002000000 0100000002000000"));
    EXPECT_EQ(noteRefListValue({Unid{0x1122334455667788ULL, 1}}),
              hex("0100 8877665544332211 0100000000000000"));
}

} // namespace
} // namespace tessel::kit
