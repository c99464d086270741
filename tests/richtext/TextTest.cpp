// Text runs, fonts, paragraphs and lists, hotspots, buttons, captions, section bars, highlight
// colours and BEGIN/END blocks: the HTML each record gives.
#include "RichTextSupport.h"

#include <tessel/kit/Lmbcs.h>

namespace tessel::test {
namespace {

using kit::CdWriter;
using kit::FontId;
using kit::PabDefinition;

FontId font(uint8_t face, uint8_t attrib, uint8_t color, uint8_t size) {
    return FontId{face, attrib, color, size};
}

struct TextCase {
    const char *name;
    FontId font;
    std::string text;
    std::string expected;
};

class TextRun : public ConverterTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextRun, GivesTheFontTagAndText) {
    const TextCase &c = GetParam();
    static const kit::Face faces[] = {{5, 0x22, "Arial"}, {6, 0x31, "Courier New"}};
    CdWriter cd;
    cd.fontTable(faces).text(c.font, c.text);
    EXPECT_EQ(body(cd), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextRun,
    ::testing::Values(
        TextCase{"SwissTenPoint", font(1, 0, 0, 10), "Hello",
                 "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>Hello</FONT>\r\n"},
        TextCase{"SerifTwelveBlue", font(0, 0, 4, 12), "x", "<FONT FACE=3D\"SERIF\" SIZE=3D2 COLOR=3D#0000FF>x</FONT>\r\n"},
        TextCase{"TypewriterFortyPointIsEight", font(4, 0, 2, 40), "m",
                 "<FONT FACE=3D\"MONOSPACE\" SIZE=3D1 COLOR=3D#FF0000>m</FONT>\r\n"},
        TextCase{"UserInterfaceFace", font(3, 0, 239, 24), "u",
                 "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D4 COLOR=3D#000000>u</FONT>\r\n"},
        TextCase{"ColourOutsideTheTable", font(1, 0, 240, 10), "c", "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2>c</FONT>\r\n"},
        TextCase{"PaletteColour", font(1, 0, 100, 10), "p",
                 "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#00E100>p</FONT>\r\n"},
        TextCase{"EveryAttribute", font(1, 0x3F, 0, 10), "t",
                 "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000><B> <I> <U> <SUP> <SUB> <S> t</S> </SUB> "
                 "</SUP> </U> </I> </B> </FONT>\r\n"},
        TextCase{"BoldItalic", font(1, 0x03, 0, 10), "bi",
                 "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000><B> <I> bi</I> </B> </FONT>\r\n"},
        TextCase{"FaceFromTheFontTable", font(5, 0, 0, 10), "a",
                 "<FONT FACE=3D\"Arial                           \" SIZE=3D2 COLOR=3D#000000>a</FONT>\r\n"},
        TextCase{"SecondFaceOfTheTable", font(6, 0, 0, 10), "a",
                 "<FONT FACE=3D\"Courier New                     \" SIZE=3D2 COLOR=3D#000000>a</FONT>\r\n"},
        TextCase{"FaceMissingFromTheTable", font(9, 0, 0, 10), "a",
                 "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>a</FONT>\r\n"},
        TextCase{"Escapes", font(1, 0, 0, 10), "a<b\tc\nd",
                 "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>a&lt;b&nbsp;&nbsp;&nbsp;&nbsp;c<BR>d</FONT>\r\n"},
        TextCase{"LeadingSpacesOnly", font(1, 0, 0, 10), "  two  spaces",
                 "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>&nbsp;&nbsp;two  spaces</FONT>\r\n"},
        TextCase{"AmpersandAndGreaterStay", font(1, 0, 0, 10), "a & b > c",
                 "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>a & b > c</FONT>\r\n"},
        TextCase{"EqualsGetsTheEscape", font(1, 0, 0, 10), "x=y",
                 "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>x=3Dy</FONT>\r\n"},
        TextCase{"NonAsciiThroughTheCharacterConversion", font(1, 0, 0, 10), "caf\xC3\xA9 \xE2\x82\xAC",
                 "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>caf\xC3\xA9 \xE2\x82\xAC</FONT>\r\n"},
        TextCase{"EmptyOutsideATable", font(1, 0, 0, 10), "", "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000></FONT>\r\n"}),
    [](const auto &info) { return info.param.name; });

struct ParCase {
    const char *name;
    uint16_t flags, flags2, justify;
    std::string open, close;
};

class Paragraph : public ConverterTest, public ::testing::WithParamInterface<ParCase> {};

TEST_P(Paragraph, OpensAndClosesItsKind) {
    const ParCase &c = GetParam();
    PabDefinition pab;
    pab.id = 7;
    pab.flags = c.flags;
    pab.flags2 = c.flags2;
    pab.justify = c.justify;
    CdWriter cd;
    cd.pabDefinition(pab).paragraph().pabReference(7).text(font(1, 0, 0, 10), "x");
    EXPECT_EQ(body(cd), c.open + "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>x</FONT>\r\n" + c.close);
}

const std::string kLeft = " ALIGN=3DLEFT >\r\n";

INSTANTIATE_TEST_SUITE_P(
    Kinds, Paragraph,
    ::testing::Values(ParCase{"Plain", 0, 0, 0, "<P" + kLeft, "</P>\r\n"},
                      ParCase{"Right", 0, 0, 1, "<P ALIGN=3DRIGHT >\r\n", "</P>\r\n"},
                      ParCase{"Justify", 0, 0, 2, "<P ALIGN=3DJUSTIFY >\r\n", "</P>\r\n"},
                      ParCase{"Center", 0, 0, 3, "<P ALIGN=3DCENTER >\r\n", "</P>\r\n"},
                      ParCase{"NoWrapIsLeft", 0, 0, 4, "<P" + kLeft, "</P>\r\n"},
                      ParCase{"Bullet", 0x0400, 0, 0, "<UL><LI" + kLeft, "</LI></UL>\r\n"},
                      ParCase{"CircleBullet", 0x0400, 0x0800, 0,
                              "<UL STYLE=3D\"list-style-type: circle;\"><LI" + kLeft, "</LI></UL>\r\n"},
                      ParCase{"SquareBullet", 0x0400, 0x1000, 0,
                              "<UL STYLE=3D\"list-style-type: square;\"><LI" + kLeft, "</LI></UL>\r\n"},
                      ParCase{"UncheckedBulletIsSquare", 0x0400, 0x2000, 0,
                              "<UL STYLE=3D\"list-style-type: square;\"><LI" + kLeft, "</LI></UL>\r\n"},
                      ParCase{"Decimal", 0x1000, 0, 0, "<OL STYLE=3D\"list-style-type: decimal;\"><LI" + kLeft,
                              "</LI></OL>\r\n"},
                      ParCase{"UpperRoman", 0x1000, 0x0802, 0,
                              "<OL STYLE=3D\"list-style-type: upper-roman;\"><LI" + kLeft, "</LI></OL>\r\n"},
                      ParCase{"LowerRoman", 0x1000, 0x1002, 0,
                              "<OL STYLE=3D\"list-style-type: lower-roman;\"><LI" + kLeft, "</LI></OL>\r\n"},
                      ParCase{"UpperAlpha", 0x1000, 0x1800, 0,
                              "<OL STYLE=3D\"list-style-type: upper-alpha;\"><LI" + kLeft, "</LI></OL>\r\n"},
                      ParCase{"LowerAlpha", 0x1000, 0x1802, 3,
                              "<OL STYLE=3D\"list-style-type: lower-alpha;\"><LI ALIGN=3DCENTER >\r\n",
                              "</LI></OL>\r\n"},
                      ParCase{"MoreFlagsRead", 0, 0x8000, 1, "<P ALIGN=3DRIGHT >\r\n", "</P>\r\n"}),
    [](const auto &info) { return info.param.name; });

const std::string kX = "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>x</FONT>\r\n";
const std::string kY = "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>y</FONT>\r\n";

class Paragraphs : public ConverterTest {
protected:
    CdWriter withDefinitions() {
        CdWriter cd;
        PabDefinition plain, bullet, numbered;
        plain.id = 1;
        bullet.id = 2;
        bullet.flags = PabDefinition::kBullet;
        numbered.id = 3;
        numbered.flags = PabDefinition::kNumberedList;
        cd.pabDefinition(plain).pabDefinition(bullet).pabDefinition(numbered);
        return cd;
    }
};

TEST_F(Paragraphs, ItemsOfOneListContinueIt) {
    CdWriter cd = withDefinitions();
    cd.paragraph().pabReference(2).text({}, "x").paragraph().pabReference(2).text({}, "y");
    EXPECT_EQ(body(cd), "<UL><LI" + kLeft + kX + "</LI><LI" + kLeft + kY + "</LI></UL>\r\n");
}

TEST_F(Paragraphs, AnotherKindClosesTheList) {
    CdWriter cd = withDefinitions();
    cd.paragraph().pabReference(2).text({}, "x").paragraph().pabReference(3).text({}, "y").pabReference(1);
    EXPECT_EQ(body(cd), "<UL><LI" + kLeft + kX + "</LI></UL>\r\n<OL STYLE=3D\"list-style-type: decimal;\"><LI" + kLeft +
                            kY + "</LI></OL>\r\n<P" + kLeft + "</P>\r\n");
}

TEST_F(Paragraphs, EachPlainParagraphClosesThePrevious) {
    CdWriter cd = withDefinitions();
    cd.pabReference(1).text({}, "x").pabReference(1).text({}, "y");
    EXPECT_EQ(body(cd), "<P" + kLeft + kX + "</P>\r\n<P" + kLeft + kY + "</P>\r\n");
}

TEST_F(Paragraphs, UnknownDefinitionOpensAPlainParagraph) {
    CdWriter cd = withDefinitions();
    cd.pabReference(2).text({}, "x").pabReference(99).text({}, "y");
    EXPECT_EQ(body(cd), "<UL><LI" + kLeft + kX + "</LI></UL>\r\n<P>" + kY + "</P>\r\n");
}

TEST_F(Paragraphs, FirstDefinitionOfAnIdWins) {
    CdWriter cd;
    PabDefinition first, second;
    first.id = second.id = 4;
    first.justify = PabDefinition::kRight;
    cd.pabDefinition(first).pabDefinition(second).pabReference(4).text({}, "x");
    EXPECT_EQ(body(cd), "<P ALIGN=3DRIGHT >\r\n" + kX + "</P>\r\n");
}

TEST_F(Paragraphs, ParagraphRecordAfterTextBreaksTheLine) {
    CdWriter cd = withDefinitions();
    cd.paragraph().pabReference(1).text({}, "x").paragraph().text({}, "y").paragraph().paragraph().pabReference(1);
    EXPECT_EQ(body(cd), "<P" + kLeft + kX + "<BR>" + kY + "</P>\r\n<P" + kLeft + "</P>\r\n");
}

TEST_F(Paragraphs, DefinitionTooShortIsSkipped) {
    CdWriter cd;
    cd.record(kit::sig::kPabDefinition, kit::Bytes{0x05, 0x00, 0x01, 0x00}).pabReference(5).text({}, "x");
    EXPECT_EQ(body(cd), "<P>" + kX + "</P>\r\n");
}

TEST_F(ConverterTest, HorizontalRule) {
    CdWriter cd;
    cd.horizontalRule({});
    EXPECT_EQ(body(cd), "<HR>");
}

TEST_F(ConverterTest, UrlLinkWrapsItsText) {
    CdWriter cd;
    cd.urlLinkBegin("http://example.net/a?b=1&c=\"2\"").text({}, "x").urlLinkEnd();
    EXPECT_EQ(body(cd), "<A href=3D\"http://example.net/a?b=3D1&c=3D%222%22\">\r\n" + kX + "</A>\r\n");
}

TEST_F(ConverterTest, HotspotEndWithoutOpenLinkWritesNothing) {
    CdWriter cd;
    cd.urlLinkEnd().text({}, "x").urlLinkEnd();
    EXPECT_EQ(body(cd), kX);
}

TEST_F(ConverterTest, LinkOfAnotherTypeOpensNothing) {
    CdWriter cd;
    cd.hotspotBegin(kit::sig::kV4HotspotBegin, kit::hotspot::kPopup, 0, kit::toBytes(std::string_view("pop\0", 4)))
        .text({}, "x")
        .urlLinkEnd();
    EXPECT_EQ(body(cd), kX);
}

TEST_F(ConverterTest, AttachmentNameOnlyWithTheOption) {
    CdWriter cd;
    cd.fileHotspotBegin("ATT0X1Y2", "report <2024>.pdf").hotspotEnd();
    EXPECT_EQ(body(cd), "");
    host->config().set("sorrel", "ShowAttachmentName", "1");
    EXPECT_EQ(body(cd), "report &lt;2024>.pdf");
    host->config().set("sorrel", "ShowAttachmentName", "yes");
    EXPECT_EQ(body(cd), "");
}

TEST_F(ConverterTest, AttachmentWithOneNameShowsIt) {
    host->config().set("sorrel", "ShowAttachmentName", "1");
    CdWriter cd;
    cd.hotspotBegin(kit::sig::kHotspotBegin, kit::hotspot::kFile, 0, kit::toBytes(std::string_view("a.txt\0", 6)));
    EXPECT_EQ(body(cd), "a.txt");
}

TEST_F(ConverterTest, HiddenTextOnlyWhenAskedFor) {
    CdWriter cd;
    cd.hotspotBegin(kit::sig::kHotspotBegin, kit::hotspot::kMouseOver, 0,
                    kit::toBytes(std::string_view("pop-up text\0junk", 16)));
    EXPECT_EQ(body(cd), "");
    EXPECT_EQ(body(cd, CNVO_SHOWHIDDENTEXT),
              "<FONT FACE=3D\"MONOSPACE\"  SIZE=3D3  COLOR=3D#202020>pop-up text</FONT>\r\n");
}

struct ButtonCase {
    const char *name;
    FontId font;
    std::string label;
    std::string expected;
};

class ButtonRecord : public ConverterTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ButtonRecord, GivesAButton) {
    const ButtonCase &c = GetParam();
    kit::Button button;
    button.font = c.font;
    button.label = c.label;
    CdWriter cd;
    cd.button(button);
    EXPECT_EQ(body(cd), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ButtonRecord,
    ::testing::Values(ButtonCase{"Plain", font(1, 0, 0, 10), "Open",
                                 "<BUTTON><FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>Open</FONT></BUTTON>\r\n"},
                      ButtonCase{"BoldRedSerif", font(0, 1, 2, 12), "Go",
                                 "<BUTTON><FONT FACE=3D\"SERIF\" SIZE=3D2 COLOR=3D#FF0000><B> Go</B> </FONT></BUTTON>\r\n"},
                      ButtonCase{"ColourOutsideTheTableIsZero", font(4, 0, 250, 20), "a=b",
                                 "<BUTTON><FONT FACE=3D\"MONOSPACE\" SIZE=3D4 COLOR=3D0>a=3Db</FONT></BUTTON>\r\n"},
                      ButtonCase{"EmptyLabel", font(1, 0, 0, 10), "",
                                 "<BUTTON><FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000></FONT></BUTTON>\r\n"}),
    [](const auto &info) { return info.param.name; });

TEST_F(ConverterTest, ButtonShorterThanItsFontGivesNothing) {
    CdWriter cd;
    cd.record(kit::sig::kButton, kit::Bytes{0, 0, 0, 0, 0, 0, 0, 0, 1, 0});
    EXPECT_EQ(body(cd), "");
}

TEST_F(ConverterTest, Caption) {
    CdWriter cd;
    cd.caption({"Figure 1", 0, font(1, 0, 9, 10), kit::ColorValue::rgb(0, 0, 0)})
        .caption({"Fig", 0, font(0, 0, 241, 10), kit::ColorValue::rgb(0, 0, 0)});
    EXPECT_EQ(body(cd), "<BR><FONT FACE=3D\"SANS-SERIF\"  SIZE=3D1 COLOR=3D#008000>Figure 1</FONT><BR>\r\n"
                        "<BR><FONT FACE=3D\"SERIF\"  SIZE=3D1 COLOR=3D0>Fig</FONT><BR>\r\n");
}

TEST_F(ConverterTest, CaptionTextLongerThanItsRecordGivesNothing) {
    CdWriter cd;
    kit::Bytes payload(24, 0);
    payload[0] = 200; // text length
    payload.push_back('A');
    cd.record(kit::sig::kCaption, payload);
    EXPECT_EQ(body(cd), "");
}

TEST_F(ConverterTest, SectionBar) {
    kit::Bar bar;
    bar.title = "Details";
    kit::Bar formula = bar;
    formula.flags |= kit::Bar::kIsFormula;
    CdWriter cd;
    cd.bar(bar).bar(formula);
    EXPECT_EQ(body(cd), "<P>\r\nDetails\r\n</P>\r\n");
}

struct HighlightCase {
    const char *name;
    uint16_t flags;
    std::string style;
};

class Highlight : public ConverterTest, public ::testing::WithParamInterface<HighlightCase> {};

TEST_P(Highlight, AppliesToTheNextRunOnly) {
    kit::ColorValue colour = kit::ColorValue::rgb(1, 2, 3);
    colour.flags = GetParam().flags;
    CdWriter cd;
    cd.color(colour).text({}, "x").text({}, "y");
    const std::string styled =
        GetParam().style.empty()
            ? kX
            : "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000 STYLE=3D\"BACKGROUND-COLOR:" + GetParam().style +
                  "\">x</FONT>\r\n";
    EXPECT_EQ(body(cd), styled + kY);
}

INSTANTIATE_TEST_SUITE_P(Flags, Highlight,
                         ::testing::Values(HighlightCase{"Yellow", 0x8001, "#FFFF80"},
                                           HighlightCase{"Pink", 0x4001, "#FF80FF"},
                                           HighlightCase{"Blue", 0x2001, "#80FFFF"},
                                           HighlightCase{"Other", 0x1001, ""}, HighlightCase{"Plain", 0x0001, ""}),
                         [](const auto &info) { return info.param.name; });

TEST_F(ConverterTest, BlockIsConvertedOnceAndItsColourComesFirst) {
    kit::ColorValue pink = kit::ColorValue::rgb(1, 2, 3);
    pink.flags = 0x4001;
    CdWriter cd;
    cd.text({}, "x")
        .beginRecord(kit::sig::kText, 0)
        .text({}, "y")
        .color(pink)
        .endRecord(kit::sig::kText, 0)
        .text({}, "x");
    EXPECT_EQ(body(cd), kX + "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000 STYLE=3D\"BACKGROUND-COLOR:#FF80FF\">y</FONT>\r\n" + kX);
}

TEST_F(ConverterTest, BlocksFollowingEachOther) {
    CdWriter cd;
    cd.beginRecord(kit::sig::kText, 0)
        .text({}, "x")
        .endRecord(kit::sig::kText, 0)
        .beginRecord(kit::sig::kText, 0)
        .text({}, "y")
        .endRecord(kit::sig::kText, 0);
    EXPECT_EQ(body(cd), kX + kY);
}

TEST_F(ConverterTest, BeginWithoutEndStillConvertsTheRest) {
    CdWriter cd;
    cd.text({}, "x").beginRecord(kit::sig::kText, 0).text({}, "y").horizontalRule({}).text({}, "x");
    EXPECT_EQ(body(cd), kX + kY + "<HR>" + kX);
}

TEST_F(ConverterTest, NestedBeginIsPartOfTheOuterBlock) {
    CdWriter cd;
    cd.beginRecord(kit::sig::kButton, 0)
        .beginRecord(kit::sig::kText, 0)
        .text({}, "x")
        .endRecord(kit::sig::kText, 0)
        .text({}, "y")
        .endRecord(kit::sig::kButton, 0)
        .text({}, "x");
    EXPECT_EQ(body(cd), kX + kY + kX);
}

} // namespace
} // namespace tessel::test
