// Tables: rows and cells, column spans, widths, borders, cell colours and gradients, vertical
// alignment, nested tables, and tables cut short.
#include "RichTextSupport.h"

namespace tessel::test {
namespace {

using kit::CdWriter;
using kit::TableCell;

std::string run(const std::string &text) {
    return "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>" + text + "</FONT>\r\n";
}

const std::string kBorders = " BORDER-LEFT: 1px solid black; BORDER-RIGHT: 1px solid black; BORDER-TOP: 1px "
                             "solid black; BORDER-BOTTOM: 1px "
                             "solid black;";
const std::string kTableOpen = "<TABLE STYLE=3D\" \">\r\n<TBODY>\r\n";
const std::string kTableClose = "</TD>\r\n</TR>\r\n</TBODY>\r\n</TABLE>\r\n";

TableCell cell(uint8_t row, uint8_t column, uint16_t left, uint16_t right) {
    TableCell c;
    c.row = row;
    c.column = column;
    c.leftMargin = left;
    c.rightMargin = right;
    return c;
}

std::string td(int width, const std::string &extra = "VERTICAL-ALIGN:top;") {
    return "<TD STYLE=3D\"  WIDTH:" + std::to_string(width) + "pt;" + kBorders + extra + "\">";
}

class Tables : public ConverterTest {
protected:
    CdWriter start(kit::PreTableBegin pre = {}) {
        CdWriter cd;
        cd.beginRecord(kit::sig::kPreTableBegin, 1).preTableBegin(pre).endRecord(kit::sig::kPreTableBegin, 1);
        cd.tableBegin({});
        return cd;
    }
};

TEST_F(Tables, RowsAndCells) {
    kit::PabDefinition plain;
    plain.id = 1;
    CdWriter cd;
    cd.pabDefinition(plain);
    cd.beginRecord(kit::sig::kPreTableBegin, 1).preTableBegin({}).endRecord(kit::sig::kPreTableBegin, 1);
    cd.tableBegin({});
    cd.tableCell(cell(0, 0, 0, 1440)).pabReference(1).text({}, "a");
    cd.tableCell(cell(0, 1, 1440, 2880)).pabReference(1).text({}, "b");
    cd.tableCell(cell(1, 0, 0, 1440)).pabReference(1).text({}, "");
    cd.tableCell(cell(1, 1, 1440, 2900)).pabReference(1).text({}, " ");
    cd.tableEnd().pabReference(1).text({}, " ");
    const std::string p = "<P ALIGN=3DLEFT >\r\n";
    EXPECT_EQ(body(cd), kTableOpen + "<TR>\r\n" + td(72) + p + run("a") + "</P>\r\n</TD>\r\n" + td(72) + p +
                            run("b") + "</P>\r\n</TD>\r\n</TR>\r\n<TR>\r\n" + td(72) + p + run("&nbsp;") +
                            "</P>\r\n</TD>\r\n" + td(73) + p + run("&nbsp;") + "</P>\r\n" + kTableClose + p +
                            run("&nbsp;") + "</P>\r\n");
}

TEST_F(Tables, SpanningCellCoversTheCellsBeforeIt) {
    CdWriter cd = start();
    cd.tableCell(cell(0, 0, 0, 1440)).text({}, "hidden");
    cd.tableCell(cell(0, 1, 1440, 2880)).text({}, "hidden");
    TableCell spanning = cell(0, 2, 2880, 4320);
    spanning.columnSpan = 3;
    cd.tableCell(spanning).text({}, "c");
    cd.tableCell(cell(1, 0, 0, 1440)).text({}, "d");
    cd.tableEnd();
    EXPECT_EQ(body(cd), kTableOpen + "<TR>\r\n<TD COLSPAN=3D3 STYLE=3D\"  WIDTH:216pt;" + kBorders +
                            "VERTICAL-ALIGN:top;\">" + run("c") + "</TD>\r\n</TR>\r\n<TR>\r\n" + td(72) +
                            run("d") + kTableClose);
}

TEST_F(Tables, CellWithoutRightEdgeKeepsItsWidthForTheNext) {
    CdWriter cd = start();
    cd.tableCell(cell(0, 0, 0, 0)).tableCell(cell(0, 1, 0, 1440)).tableEnd();
    EXPECT_EQ(body(cd), kTableOpen + "<TR>\r\n<TD STYLE=3D\" " + kBorders +
                            "VERTICAL-ALIGN:top;\"></TD>\r\n" + td(72) + kTableClose);
}

struct CellCase {
    const char *name;
    uint8_t border, flags;
    uint16_t background;
    std::optional<std::pair<kit::ColorValue, kit::ColorValue>> colour;
    std::string style; // after "WIDTH:72pt;"
};

class CellStyle : public Tables, public ::testing::WithParamInterface<CellCase> {};

TEST_P(CellStyle, GivesItsStyle) {
    const CellCase &c = GetParam();
    CdWriter cd = start();
    TableCell tc = cell(0, 0, 0, 1440);
    tc.border = c.border;
    tc.flags = c.flags;
    tc.backgroundColor = c.background;
    cd.tableCell(tc);
    if (c.colour)
        cd.color(c.colour->first, kit::sig::kTableCellColor, c.colour->second);
    cd.tableEnd();
    EXPECT_EQ(body(cd), kTableOpen + "<TR>\r\n<TD STYLE=3D\"  WIDTH:72pt;" + c.style + "\">" + kTableClose);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CellStyle,
    ::testing::Values(
        CellCase{"NoBorders", 0x00, 0, 0, {}, "VERTICAL-ALIGN:top;"},
        CellCase{"LeftAndBottom",
                 0x82,
                 0,
                 0,
                 {},
                 " BORDER-LEFT: 1px solid black; BORDER-BOTTOM: 1px solid black;VERTICAL-ALIGN:top;"},
        CellCase{"RightAndTop",
                 0x28,
                 0,
                 0,
                 {},
                 " BORDER-RIGHT: 1px solid black; BORDER-TOP: 1px solid black;VERTICAL-ALIGN:top;"},
        CellCase{"PaletteBackground", 0, 0x01, 15, {}, "BACKGROUND-COLOR:#C0C0C0;VERTICAL-ALIGN:top;"},
        CellCase{
            "BackgroundOutsideThePalette", 0, 0x01, 300, {}, "BACKGROUND-COLOR:#000000;VERTICAL-ALIGN:top;"},
        CellCase{"Gradient", 0, 0x11, 0,
                 std::make_pair(kit::ColorValue::rgb(255, 0, 0), kit::ColorValue::rgb(0, 0, 255)),
                 "BACKGROUND-COLOR:#7F007F;VERTICAL-ALIGN:top;"},
        CellCase{"GradientWithoutColourRecordIsWhite",
                 0,
                 0x11,
                 0,
                 {},
                 "BACKGROUND-COLOR:#FFFFFF;VERTICAL-ALIGN:top;"},
        CellCase{"ColourRecordWithoutGradientFlag", 0, 0x01, 2,
                 std::make_pair(kit::ColorValue::rgb(1, 2, 3), kit::ColorValue::rgb(4, 5, 6)),
                 "BACKGROUND-COLOR:#FF0000;VERTICAL-ALIGN:top;"},
        CellCase{"Middle", 0, 0x20, 0, {}, "VERTICAL-ALIGN:middle;"},
        CellCase{"Bottom", 0, 0x80, 0, {}, "VERTICAL-ALIGN:bottom;"},
        CellCase{"MiddleWinsOverBottom", 0, 0xA0, 0, {}, "VERTICAL-ALIGN:middle;"}),
    [](const auto &info) { return info.param.name; });

TEST_F(Tables, BorderRecordAndStyleColour) {
    kit::PreTableBegin pre;
    pre.styleColor1 = 0x00FF00;
    kit::BorderInfo border;
    border.flags = 7; // not a style: the flags doubleword is not read
    border.borderStyle = 2; // double
    border.widthTop = 3;
    border.widthLeft = 0;
    border.widthBottom = 5;
    border.widthRight = 0;
    border.color = kit::ColorValue::rgb(0x12, 0x34, 0x56);
    CdWriter cd;
    cd.beginRecord(kit::sig::kPreTableBegin, 1)
        .preTableBegin(pre)
        .borderInfo(border)
        .endRecord(kit::sig::kPreTableBegin, 1);
    cd.tableBegin({}).tableEnd();
    EXPECT_EQ(
        body(cd),
        "<TABLE STYLE=3D\" BACKGROUND-COLOR: #00FF00; BORDER-TOP:3px double #123456 ; BORDER-BOTTOM:5px "
        "double #123456 ;\">\r\n<TBODY>\r\n" +
            kTableClose);
}

TEST_F(Tables, UnknownBorderStyleIsSolid) {
    kit::BorderInfo border;
    border.borderStyle = 20;
    border.color = kit::ColorValue::rgb(0, 0, 0xFF);
    CdWriter cd;
    cd.preTableBegin({}).borderInfo(border).tableBegin({}).tableEnd();
    EXPECT_EQ(body(cd),
              "<TABLE STYLE=3D\"  BORDER-LEFT:1px solid #0000FF ; BORDER-TOP:1px solid #0000FF ; "
              "BORDER-BOTTOM:1px solid #0000FF ; BORDER-RIGHT:1px solid #0000FF ;\">\r\n<TBODY>\r\n" +
                  kTableClose);
}

TEST_F(Tables, NestedTableInsideACell) {
    CdWriter cd = start();
    cd.tableCell(cell(0, 0, 0, 1440)).text({}, "outer");
    cd.preTableBegin({}).tableBegin({}, true);
    cd.tableCell(cell(0, 0, 0, 720), true).text({}, "inner");
    TableCell spanning = cell(0, 1, 720, 1440);
    spanning.columnSpan = 2;
    cd.tableCell(spanning, true).text({}, "wide").tableEnd(true);
    cd.tableCell(cell(0, 1, 1440, 2880)).text({}, "next").tableEnd();
    EXPECT_EQ(body(cd), kTableOpen + "<TR>\r\n" + td(72) + run("outer") + kTableOpen + "<TR>\r\n" +
                            "<TD COLSPAN=3D2 STYLE=3D\"  WIDTH:72pt;" + kBorders + "VERTICAL-ALIGN:top;\">" +
                            run("wide") + kTableClose + "</TD>\r\n" + td(72) + run("next") + kTableClose);
}

TEST_F(Tables, BeginWithoutPreTableGoesToTheEnclosingTable) {
    CdWriter cd;
    cd.tableBegin({}).tableCell(cell(0, 0, 0, 1440)).text({}, "a").tableEnd();
    EXPECT_EQ(body(cd), run("a"));
}

TEST_F(Tables, TableOpenAtTheEndIsDropped) {
    CdWriter cd = start();
    cd.tableCell(cell(0, 0, 0, 1440)).text({}, "a");
    EXPECT_EQ(body(cd), kTableOpen + "<TR>\r\n" + td(72) + run("a"));
}

TEST_F(Tables, ShortCellRecordGivesNoMarkup) {
    CdWriter cd = start();
    cd.record(kit::sig::kTableCell, kit::Bytes{0, 0, 0, 0});
    cd.tableCell(cell(0, 0, 0, 1440)).tableEnd();
    EXPECT_EQ(body(cd), kTableOpen + "<TR>\r\n" + td(72) + kTableClose);
}

} // namespace
} // namespace tessel::test
