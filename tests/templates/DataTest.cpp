// The data elements: durations, addresses, zones, dates formatted by the host, pictures and their
// numbering, and rich text.
#include "TemplateFixture.h"

#include "nsf/catalogue/images.h"
#include "nsf/items/buffers.h"

#include <tessel/kit/CdWriter.h>

namespace tessel::test {
namespace {

using kit::DateTime;
using kit::Item;

class DataTest : public TemplateTest {};

struct DataCase {
    const char *pszLabel;
    std::string body;
    std::string expected;
};

class DataOutputTest : public DataTest, public ::testing::WithParamInterface<DataCase> {};

std::vector<Item> memoItems() {
    return {Item::text("Subject", "Hello <World>"),
            Item::dateTime("Start", DateTime::at(2021, 3, 4, 5, 6, 7)),
            Item::dateTime("OneOfEach", DateTime::at(2021, 3, 5, 6, 7, 8)),
            Item::dateTime("TwoDays", DateTime::at(2021, 3, 6, 8, 6, 7)),
            Item::dateTime("Earlier", DateTime::at(2021, 3, 4, 5, 5, 7)),
            Item::dateTime("Est", DateTime::at(2021, 1, 15, 7, 0, 0, 0, -300)),
            Item::dateTime("Cet", DateTime::at(2021, 1, 15, 7, 0, 0, 0, 60)),
            Item::dateTime("Cest", DateTime::at(2021, 7, 1, 12, 0, 0, 0, 120, true)),
            Item::dateTime("India", DateTime::at(2021, 1, 15, 7, 0, 0, 0, 330)),
            Item::text("Names", "CN=Ann Lee/OU=Sales/O=Org;CN=Bo Ray/O=Org"),
            Item::text("Mixed", "CN=Ann Lee/O=Org;cy@example.com"),
            Item::textList("List", {"CN=Ann Lee/O=Org", "CN=Bo Ray/O=Org"}),
            Item::text("Equals", "a=b")};
}

TEST_P(DataOutputTest, Writes) {
    const DataCase &c = GetParam();
    Result result = runMain(c.body, memoItems());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, c.expected) << c.body;
}

const DataCase rgDataCases[] = {
    {"TextIsEscaped", "<text name='Subject'/>", "Hello &lt;World&gt;"},
    {"TextEqualsSign", "<text name='Equals'/>", "a=3Db"},
    {"TextOfAbsentItem", "[<text name='Missing'/>]", "[]"},
    {"NameOfItem", "<ifex name='Subject'><name/></ifex>", "Subject"},
    {"TimeOneOfEach", "<time name='Start' item='OneOfEach'/>", "1 day, 1 hour, 1 min, 1 sec"},
    {"TimePlural", "<time name='Start' item='TwoDays'/>", "2 days, 3 hours"},
    {"TimeBackwardsIsAbsolute", "<time name='Start' item='Earlier'/>", "1 min"},
    {"TimeEqual", "[<time name='Start' item='Start'/>]", "[]"},
    {"TimeInsideControl", "<ifex name='Start'><time item='OneOfEach'/></ifex>", "1 day, 1 hour, 1 min, 1 sec"},
    {"TimeWithAbsentItem", "[<time name='Start' item='Missing'/>]", "[]"},
    {"AddrWithoutType", "<addr name='Names'/>", "Ann Lee/Sales/Org, Bo Ray/Org"},
    {"AddrCommonNames", "<addr name='Names' type='CN'/>", "Ann Lee, Bo Ray"},
    {"AddrKeepsInternetAddress", "<addr name='Mixed' type='CN'/>", "Ann Lee, cy@example.com"},
    {"AddrOfList", "<addr name='List' type='CN'/>", "Ann Lee<BR>\r\nBo Ray"},
    {"ZoneThreeLetters", "<zone name='Est'/>", "EST"},
    {"ZoneFourLettersWritesNothing", "[<zone name='Cest'/>]", "[]"},
    {"ZoneOfPartHourZone", "[<zone name='India'/>]", "[]"},
    {"ZoneUtcWest", "<zone_utc name='Est'/>", "(UTC-05:00)"},
    {"ZoneUtcEast", "<zone_utc name='Cet'/>", "(UTC+01:00)"},
    {"ZoneUtcPartHour", "<zone_utc name='India'/>", "(UTC+05:30)"},
    {"ZoneUtcOfText", "[<zone_utc name='Subject'/>]", "[]"},
    {"DateShowsZoneOnRequest", "<date name='Est' format='TZ=2'/>", "01/15/2021 07:00:00 AM EST"},
    {"DateInsideIfReadsAgain", "<ifex name='Est'><date format='TS=0'/></ifex>", "01/15/2021"},
    {"TextInsideIfOnTime", "<ifex name='Start'><text/></ifex>", "03/04/2021 05:06:07 AM"},
    {"RichOnAbsentItem", "[<rich name='Missing'/>]", "[]"},
    {"ImageLinkUnknownWritesNothing", "[<image link='nolink'/>]", "[]"},
    {"LogoWithoutLogo", "[<logo/>]", "[]"},
};

INSTANTIATE_TEST_SUITE_P(Templates, DataOutputTest, ::testing::ValuesIn(rgDataCases),
                         [](const ::testing::TestParamInfo<DataCase> &info) { return info.param.pszLabel; });

TEST_F(DataTest, DateFormattedByTheHost) {
    Result result = runMain("<date_ql name='Start' format='QL=0'/>", memoItems());
    EXPECT_EQ(result.status, 0);
    struct tm t = {};
    t.tm_year = 121;
    t.tm_mon = 2;
    t.tm_mday = 4;
    t.tm_hour = 5;
    t.tm_min = 6;
    t.tm_sec = 7;
    t.tm_isdst = -1;
    mktime(&t);
    char sz[256];
    QLHAPI *pHAPI = host->services();
    int cch = pHAPI->fpFormatDateTime(pHAPI, &t, 0, pHAPI->nDateOrder, pHAPI->b24Hour, sz, sizeof(sz));
    ASSERT_GT(cch, 0);
    EXPECT_EQ(result.output, std::string(sz, cch));
    EXPECT_NE(result.output.find("2021"), std::string::npos);
}

TEST_F(DataTest, TwoImagesOfOnePictureAreNumbered999And998) {
    write("images/pic.gif", "GIF89a");
    Result result = runMain("<image file='pic.gif'/>|<image_uri file='pic.gif'/>|<image link='nolink'/>",
                            memoItems());
    ASSERT_EQ(result.status, 0);
    char szId[16];
    snprintf(szId, sizeof(szId), "%X", pOpen->subFiles[0]->dwNoteID);
    std::string id = szId;
    EXPECT_EQ(result.output, "<IMG src=3D\"file:///ql_" + id + "_image999.gif\">|\"file:///ql_" + id +
                                 "_image998.gif\"|");
    ASSERT_EQ(pOpen->cImagesXML, 2);
    NSFIMAGE *pPicture = nsfFindImage(pOpen, nullptr, "pic.gif");
    ASSERT_NE(pPicture, nullptr);
    EXPECT_EQ(pOpen->rgnImagesXML[0], pPicture->nImage);
    EXPECT_EQ(pOpen->rgnImagesXML[1], pPicture->nImage);
}

TEST_F(DataTest, PictureListStartsEmptyForEveryExtraction) {
    write("images/pic.gif", "GIF89a");
    Result first = runMain("<image file='pic.gif'/>", memoItems());
    Result second = run();
    EXPECT_EQ(first.output, second.output);
    EXPECT_EQ(pOpen->cImagesXML, 1);
}

TEST_F(DataTest, BufferXmlStartsEmptyForEveryExtraction) {
    writeMain("x");
    open(memoDb(memoItems()));
    ASSERT_EQ(openStatus, 0);
    NSFBUFFER *pXML = pOpen->BufferXML;
    ASSERT_EQ(nsfCheckBuffer(pOpen, pXML, 8), 0);
    memcpy(pXML->rgbData, "leftover", 8);
    pXML->ucbData = 8;
    EXPECT_EQ(run().output, "x");
    EXPECT_EQ(pXML->ucbData, 0u);
}

size_t countOf(const std::string &text, const std::string &what) {
    size_t c = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        c++;
    return c;
}

TEST_F(DataTest, RichTextWithTwoPicturesKeepsItsPartsForLater) {
    const kit::Bytes gif{'G', 'I', 'F', '8', '9', 'a', 1, 2, 3};
    const kit::Bytes jpeg{0xFF, 0xD8, 0xFF, 0xE0, 4, 5, 6};
    kit::CdWriter cd;
    cd.paragraph().text(kit::FontId{}, "before").picture(kit::ImageType::Gif, 2, 2, gif);
    cd.picture(kit::ImageType::Jpeg, 3, 3, jpeg).text(kit::FontId{}, "after");
    std::vector<Item> items = memoItems();
    items.push_back(Item::richTextRaw("Notes", cd.bytes()));
    Result result = runMain("[<rich name='Notes'/>]", items);
    ASSERT_EQ(result.status, 0);
    const std::string delimiter = "------=_NextPart_000_0004_01CB58DD.164505B0";
    // The HTML is written at the element, without the frame's end or the picture parts.
    EXPECT_TRUE(result.output.starts_with("[")) << result.output;
    EXPECT_TRUE(result.output.ends_with("\r\n]")) << result.output;
    EXPECT_NE(result.output.find("before"), std::string::npos);
    EXPECT_NE(result.output.find("after"), std::string::npos);
    EXPECT_EQ(countOf(result.output, "<IMG"), 2u);
    EXPECT_EQ(result.output.find("</BODY>"), std::string::npos);
    EXPECT_EQ(result.output.find(delimiter), std::string::npos);
    // The two picture parts wait in BufferXML, each opening with the delimiter line.
    NSFBUFFER *pXML = pOpen->BufferXML;
    std::string parts(reinterpret_cast<const char *>(pXML->rgbData), pXML->ucbData);
    EXPECT_TRUE(parts.starts_with("\r\n" + delimiter + "\r\n")) << parts;
    EXPECT_EQ(countOf(parts, delimiter), 2u);
    EXPECT_EQ(countOf(parts, "Content-Type: image/gif"), 1u);
    EXPECT_EQ(countOf(parts, "Content-Type: image/jpeg"), 1u);
    EXPECT_EQ(parts.find(delimiter + "--"), std::string::npos);
}

TEST_F(DataTest, PicturePartsAreWrittenAfterTheRun) {
    kit::CdWriter cd;
    cd.paragraph().picture(kit::ImageType::Gif, 2, 2, kit::Bytes{'G', 'I', 'F', '8', '9', 'a'});
    std::vector<Item> items = memoItems();
    items.push_back(Item::richTextRaw("Notes", cd.bytes()));
    writeMain("<rich name='Notes'/>|");
    open(memoDb(items));
    ASSERT_EQ(openStatus, 0);
    Result result = run(0, true);
    ASSERT_EQ(result.status, 0);
    const size_t at = result.output.find("|\r\n------=_NextPart_000_0004_01CB58DD.164505B0\r\n");
    EXPECT_NE(at, std::string::npos) << result.output;
    EXPECT_EQ(pOpen->BufferXML->ucbData, 0u);
}

} // namespace
} // namespace tessel::test
