// The sample database's rich-text showcase memo, opened through the reader: its Body read as
// composite data, converted to MHT, and every picture part compared with the picture it came from.
#include "RichTextSupport.h"

#include <OpenFixture.h>
#include <tessel/kit/BmpReader.h>

#include <cstring>

#include "nsf/catalogue/images.h"
#include "nsf/items/buffers.h"
#include "nsf/items/itemdata.h"
#include "nsf/richtext/richtext.h"
#include <notes/nsfnote.h>

namespace tessel::test {
namespace {

using kit::Bytes;

uint16_t word(const Bytes &b, std::size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint32_t dword(const Bytes &b, std::size_t at) {
    return word(b, at) | static_cast<uint32_t>(word(b, at + 2)) << 16;
}

class SampleMemo : public OpenTest {
protected:
    void SetUp() override {
        OpenTest::SetUp();
        // A checkout path and a database name with spaces and dots.
        const auto folder = scratch.path() / "sample dir.d";
        std::filesystem::create_directories(folder / "home" / "NSFtemplates" / "images");
        std::filesystem::copy_file(TESSEL_SAMPLE_MAIL, folder / "mail v1.dxl");
        docLink = Bytes(300);
        for (std::size_t i = 0; i < docLink.size(); ++i)
            docLink[i] = static_cast<uint8_t>(0xFF - i);
        std::ofstream(folder / "home" / "NSFtemplates" / "images" / "doclink.jpg", std::ios::binary)
            .write(reinterpret_cast<const char *>(docLink.data()),
                   static_cast<std::streamsize>(docLink.size()));
        host->setHostDirectory((folder / "home").string() + "/");
        host->setLibraryDirectory(TESSEL_BMPCV_DIR);
        input = std::make_unique<quillon::FileIOObject>(folder / "mail v1.dxl",
                                                        quillon::FileIOObject::Direction::Input);
        pOpen = static_cast<NSFCONTEXT *>(
            nsfInit(input->get(), host->services(), 0, nullptr, nullptr, &openStatus));
        ASSERT_NE(pOpen, nullptr);
        ASSERT_EQ(openStatus, 0);
    }

    // Opens the showcase memo, reads its Body and converts it; the composite data is kept in cdr.
    std::string convertShowcase() {
        DWORD noteID = 0;
        for (int32_t i = 0; i < pOpen->numSubFiles; ++i)
            if (sub(i).subFileType == QLSubFileType_Main &&
                std::strcmp(sub(i).szSubject, "Rich_text_showcase") == 0)
                noteID = sub(i).dwNoteID;
        EXPECT_NE(noteID, 0u) << "the sample has the showcase memo";
        NOTEHANDLE hNote = NULLHANDLE;
        EXPECT_EQ(NSFNoteOpen(pOpen->hDB, noteID, 0, &hNote), NOERROR);
        EXPECT_EQ(nsfGetItemData(pOpen, hNote, "Body", NSF_DATA_CDR, nullptr), 0);
        const NSFBUFFER *pCDR = pOpen->BufferCDR;
        cdr.assign(pCDR->rgbData, pCDR->rgbData + pCDR->ucbData);
        EXPECT_EQ(nsfConvertCDRtoMHT(pOpen, hNote), 0);
        NSFNoteClose(hNote);
        char szNoteID[16];
        std::snprintf(szNoteID, sizeof szNoteID, "%X", static_cast<unsigned>(noteID));
        noteHex = szNoteID;
        return std::string(reinterpret_cast<const char *>(pOpen->BufferMHT->rgbData),
                           pOpen->BufferMHT->ucbData);
    }

    struct Expected {
        std::string kind; // "bytes" or "bitmap"
        Bytes data;
        uint16_t width = 0, height = 0;
    };
    // The pictures the records hold, in the order they appear, worked out from the records alone.
    std::vector<Expected> expectedPictures() {
        std::vector<Expected> pictures;
        bool docLinkSeen = false;
        std::set<std::string> sharedSeen;
        const Bytes records(cdr.begin() + 2, cdr.end());
        for (const auto &rec : kit::cdRecords(records)) {
            const std::size_t at = rec.offset;
            switch (rec.signature & 0xFF) {
            case 0x7D:
                if (static_cast<int32_t>(dword(records, at + 16)) > 0)
                    pictures.push_back({"bytes", {}});
                break;
            case 0x7C: {
                const uint16_t n = word(records, at + 6);
                pictures.back().data.insert(pictures.back().data.end(), records.begin() + at + 10,
                                            records.begin() + at + 10 + n);
                break;
            }
            case 0x95:
                pictures.push_back({"bitmap", {}, word(records, at + 22), word(records, at + 24)});
                break;
            case 0x91:
            case 0x92:
                if (!docLinkSeen)
                    pictures.push_back({"bytes", docLink});
                docLinkSeen = true;
                break;
            case 0x78:
            case 0xF6: {
                const std::string name(records.begin() + at + 34,
                                       records.begin() + at + 34 + word(records, at + 12));
                if (sharedSeen.insert(name).second) {
                    const NSFIMAGE *pImage = nsfFindImage(pOpen, name.c_str(), nullptr);
                    EXPECT_NE(pImage, nullptr) << name;
                    if (pImage != nullptr)
                        pictures.push_back(
                            {"bytes", Bytes(pImage->pBuffer->rgbData,
                                            pImage->pBuffer->rgbData + pImage->pBuffer->ucbData)});
                }
                break;
            }
            default:
                break;
            }
        }
        return pictures;
    }

    Bytes docLink;
    Bytes cdr;
    std::string noteHex;
};

TEST_F(SampleMemo, BodyHtmlHoldsEveryConstruct) {
    const std::string mht = convertShowcase();
    ASSERT_TRUE(mht.ends_with(std::string(kDelimiter) + "--"));
    const std::string html = mht.substr(0, mht.find(kBodyEnd));
    for (const std::string &piece :
         {std::string("<P ALIGN=3DCENTER >\r\n<FONT FACE=3D\"Georgia                         \" SIZE=3D3 "
                      "COLOR=3D#000080><B> Rich text showcase</B> </FONT>\r\n"),
          std::string("<B> bold </B> </FONT>"),
          std::string("<FONT FACE=3D\"SERIF\" SIZE=3D2 COLOR=3D#000000><I> italic </I> </FONT>"),
          std::string("<FONT FACE=3D\"MONOSPACE\" SIZE=3D2 COLOR=3D#000000><U> underlined </U> </FONT>"),
          std::string("<FONT FACE=3D\"Arial                           \" SIZE=3D2 COLOR=3D#FF0000><S> struck "
                      "red </S> </FONT>"),
          std::string("<SUP> super </SUP>"),
          std::string("<SUB> sub </SUB>"),
          std::string("<FONT FACE=3D\"SANS-SERIF\" SIZE=3D4 COLOR=3D#00E100>large</FONT>"),
          std::string("<BR><FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>a &lt;tagged> "
                      "line&nbsp;&nbsp;&nbsp;&nbsp;with a "
                      "tab, 1 =3D 1 & caf\xC3\xA9<BR>and a second line</FONT>"),
          std::string("<P ALIGN=3DRIGHT >\r\n<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 "
                      "COLOR=3D#000000>&nbsp;&nbsp;indented"),
          std::string("<P ALIGN=3DJUSTIFY >"),
          std::string("STYLE=3D\"BACKGROUND-COLOR:#FFFF80\">highlighted</FONT>\r\n<FONT "
                      "FACE=3D\"SANS-SERIF\" SIZE=3D2 "
                      "COLOR=3D#000000>&nbsp;and plain again</FONT>"),
          std::string("<UL><LI ALIGN=3DLEFT >\r\n"),
          std::string("</LI><LI ALIGN=3DLEFT >\r\n<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>item "
                      "two of list 10"),
          std::string("<UL STYLE=3D\"list-style-type: circle;\"><LI"),
          std::string("<UL STYLE=3D\"list-style-type: square;\"><LI"),
          std::string("<OL STYLE=3D\"list-style-type: decimal;\"><LI"),
          std::string("<OL STYLE=3D\"list-style-type: upper-roman;\"><LI"),
          std::string("<OL STYLE=3D\"list-style-type: lower-roman;\"><LI"),
          std::string("<OL STYLE=3D\"list-style-type: upper-alpha;\"><LI"),
          std::string("<OL STYLE=3D\"list-style-type: lower-alpha;\"><LI"),
          std::string(
              "<A href=3D\"http://example.net/a?b=3D1&c=3D2\">\r\n<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 "
              "COLOR=3D#0000FF><U> the example site</U> </FONT>\r\n</A>\r\n"),
          std::string("width=3D17 height=3D18>\r\n"),
          std::string(
              "<BR><FONT FACE=3D\"SANS-SERIF\"  SIZE=3D1 COLOR=3D#000000>showcase.txt</FONT><BR>\r\n"),
          std::string("<BUTTON><FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000><B> Reply</B> "
                      "</FONT></BUTTON>\r\n"),
          std::string("<P>\r\nSection: details\r\n</P>\r\n"),
          std::string("<HR>"),
          std::string(
              "<BR><FONT FACE=3D\"SANS-SERIF\"  SIZE=3D1 COLOR=3D#000000>A GIF picture</FONT><BR>\r\n"),
          std::string("<IMG src=3D\"file:///ql_1AC_image5.png\" width=3D10 height=3D10>\r\n"),
          std::string("<TABLE STYLE=3D\" BACKGROUND-COLOR: #F0F0F0; BORDER-LEFT:1px solid #336699 ; "
                      "BORDER-TOP:1px solid "
                      "#336699 ; BORDER-BOTTOM:1px solid #336699 ; BORDER-RIGHT:1px solid #336699 "
                      ";\">\r\n<TBODY>\r\n<TR>\r\n"),
          std::string("BACKGROUND-COLOR:#C0C0C0;VERTICAL-ALIGN:top;\">"),
          std::string("BACKGROUND-COLOR:#7F967F;VERTICAL-ALIGN:middle;\">"),
          std::string("VERTICAL-ALIGN:bottom;\">"),
          std::string("<TABLE STYLE=3D\" \">\r\n<TBODY>\r\n<TR>\r\n"),
          std::string("<TD COLSPAN=3D3 STYLE=3D\"  WIDTH:300pt;"),
          std::string("</TD>\r\n</TR>\r\n</TBODY>\r\n</TABLE>\r\n<P ALIGN=3DLEFT >\r\n<FONT "
                      "FACE=3D\"SANS-SERIF\" SIZE=3D2 "
                      "COLOR=3D#000000>The end.</FONT>\r\n</P>\r\n")}) {
        EXPECT_NE(html.find(piece), std::string::npos) << "missing: " << piece;
    }
    EXPECT_EQ(html.find("hidden pop-up"), std::string::npos) << "hidden text only when asked for";
    EXPECT_TRUE(html.ends_with("</P>\r\n"));
}

TEST_F(SampleMemo, EveryPicturePartIsTheSourcePicture) {
    const std::string mht = convertShowcase();
    const auto expected = expectedPictures();
    const auto parts = pictureParts(mht);
    ASSERT_EQ(parts.size(), expected.size());
    ASSERT_GE(expected.size(), 11u) << "doclink, icon, GIF, JPEG, BMP, PNG, three bitmaps, two shared";
    // The parts in the order of their names' numbers.
    std::size_t bitmaps = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string prefix = "ql_" + noteHex + "_image" + std::to_string(i);
        const auto part = std::find_if(parts.begin(), parts.end(), [&](const auto &p) {
            return p.first == prefix || p.first.starts_with(prefix + ".");
        });
        ASSERT_NE(part, parts.end()) << prefix;
        EXPECT_NE(mht.find("<IMG src=3D\"file:///" + part->first + "\""), std::string::npos) << part->first;
        if (expected[i].kind == "bitmap") {
            ++bitmaps;
            EXPECT_EQ(part->second.contentType, "image/bmp");
            const kit::BmpPicture bmp = kit::readBmp(part->second.data);
            EXPECT_EQ(bmp.width, expected[i].width);
            EXPECT_EQ(bmp.height, expected[i].height);
        } else {
            EXPECT_EQ(part->second.data, expected[i].data) << part->first;
        }
    }
    EXPECT_EQ(bitmaps, 3u);
    EXPECT_EQ(parts.at("ql_" + noteHex + "_image0.jpg").data, docLink) << "the document link comes first";
}

} // namespace
} // namespace tessel::test
