// A memo whose body is DXL rich-text XML, in the shape a Domino export has, extracted through the
// reader as MHT: its document link, attachment reference, button and bordered table show as the
// converter renders them.
#include "ExtractFixture.h"

#include <fstream>
#include <sstream>

namespace tessel::test {
namespace {

class XmlRichTextMemo : public ExtractTest {
protected:
    // Copies the corpus file into the scratch folder and opens it through the reader.
    NSFCONTEXT *openCorpus(const std::string &file) {
        close();
        std::filesystem::copy_file(std::filesystem::path(TESSEL_TEST_DATA) / "notesemu" / file,
                                   scratch.path() / file);
        input = std::make_unique<quillon::FileIOObject>(file, quillon::FileIOObject::Direction::Input);
        openStatus = -1;
        pOpen = static_cast<NSFCONTEXT *>(
            nsfInit(input->get(), host->services(), 0, nullptr, nullptr, &openStatus));
        return pOpen;
    }
};

TEST_F(XmlRichTextMemo, LinksAttachmentReferenceButtonAndTableShowInTheMht) {
    host->setHostDirectory(shareDirectory());
    host->config().set("sorrel", "ShowAttachmentName", "1");
    ASSERT_NE(openCorpus("memo-richtext-links.dxl"), nullptr);
    ASSERT_EQ(openStatus, 0);
    const int32_t memo = indexOf("Budget_review");
    ASSERT_GE(memo, 0);
    EXPECT_EQ(fileName(memo + 1), "figures.xlsx") << "the attachment is a subfile of its own";
    const std::string mht = extractOk(memo, QLExtractFlag_GetFormattedBody);
    const struct {
        const char *what;
        const char *fragment;
    } shown[] = {
        {"the document link's picture", " width=3D17 height=3D18>"},
        {"the text before the link", "Hello Bo, the budget:"},
        {"the attachment's display name", "Figures Q1.xlsx"},
        {"the button and its label", "<BUTTON>"},
        {"the button's label", "Approve</FONT></BUTTON>"},
        {"the table", "<TABLE STYLE=3D\""},
        {"a cell's text", "Amount"},
        {"the spanning cell", "COLSPAN=3D2"},
        {"text after the table", "Regards"},
    };
    for (const auto &s : shown)
        EXPECT_NE(mht.find(s.fragment), std::string::npos) << s.what << "\n" << mht;
    EXPECT_EQ(mht.find("@Command"), std::string::npos) << "a button's formula is not shown";
    EXPECT_EQ(mht.find("@UserName"), std::string::npos) << "computed text's formula is not shown";
}

} // namespace
} // namespace tessel::test
