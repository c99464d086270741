// Template preparation over a real note: each field placeholder of a form's rich text is followed
// by a text record holding the field's value, which the converter then writes as it is.
#include "RichTextSupport.h"

#include <OpenFixture.h>

#include "nsf/items/buffers.h"
#include "nsf/items/itemdata.h"
#include "nsf/richtext/richtext.h"
#include <notes/nsfnote.h>

namespace tessel::test {
namespace {

using kit::Bytes;
using kit::CdWriter;
using kit::Item;

class FormFields : public OpenTest {
protected:
    // Reads the item as composite data, prepares it for the templates and converts it.
    std::string prepareAndConvert(const kit::Note &note, const char *pszItem, Bytes *pPrepared) {
        kit::Database db;
        db.add(note);
        EXPECT_NE(open(db), nullptr);
        NOTEHANDLE hNote = NULLHANDLE;
        EXPECT_EQ(NSFNoteOpen(pOpen->hDB, sub(0).dwNoteID, 0, &hNote), NOERROR);
        EXPECT_EQ(nsfGetItemData(pOpen, hNote, pszItem, NSF_DATA_CDR, nullptr), 0);
        EXPECT_EQ(nsfConvertCDRforXML(pOpen, hNote), 0);
        pPrepared->assign(pOpen->BufferCDR->rgbData, pOpen->BufferCDR->rgbData + pOpen->BufferCDR->ucbData);
        EXPECT_EQ(nsfConvertCDRtoMHT(pOpen, hNote), 0);
        NSFNoteClose(hNote);
        return std::string(reinterpret_cast<const char *>(pOpen->BufferMHT->rgbData),
                           pOpen->BufferMHT->ucbData);
    }
};

TEST_F(FormFields, FieldValueFollowsItsPlaceholder) {
    kit::Note note = memo("Tom & Jerry <friends> = caf\xC3\xA9");
    note.add(Item::textList("Crew", {"Bob", "Carol"}));
    kit::Field subject, crew, missing;
    subject.name = "Subject";
    crew.name = "Crew";
    crew.defaultValueFormula = Bytes{1, 2, 3}; // the name comes after the formulas
    missing.name = "NoSuchField";
    CdWriter form;
    form.text({}, "Subject: ").field(subject).text({}, "Crew: ").field(crew).field(missing).text({}, "end");
    note.add(Item::richTextRaw("Form", form.bytes()));
    Bytes prepared;
    const std::string mht = prepareAndConvert(note, "Form", &prepared);

    // The prepared data: every record kept, a text record after each field that has a value.
    const auto records = kit::cdRecords(Bytes(prepared.begin() + 2, prepared.end()));
    std::vector<uint16_t> signatures;
    for (const auto &rec : records)
        signatures.push_back(rec.signature);
    EXPECT_EQ(signatures,
              (std::vector<uint16_t>{0xFF85, 0xFF8A, 0xFF85, 0xFF85, 0xFF8A, 0xFF85, 0xFF8A, 0xFF85}));

    const std::string run = "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>";
    const std::string prepared0 = "<FONT FACE=3D\"SERIF\" SIZE=3D0 COLOR=3D#000000>";
    EXPECT_EQ(mht.substr(0, mht.find(kBodyEnd)),
              run + "Subject: </FONT>\r\n" + prepared0 +
                  "Tom & Jerry &lt;friends&gt; =3D caf\xC3\xA9</FONT>\r\n" + run + "Crew: </FONT>\r\n" +
                  prepared0 + "Bob<BR>\r\nCarol</FONT>\r\n" + run + "end</FONT>\r\n");
}

TEST_F(FormFields, FieldWithoutTextBeforeItGetsNoValue) {
    kit::Note note = memo("Budget");
    kit::Field subject;
    subject.name = "Subject";
    CdWriter form;
    form.paragraph().field(subject);
    note.add(Item::richTextRaw("Form", form.bytes()));
    Bytes prepared;
    prepareAndConvert(note, "Form", &prepared);
    EXPECT_EQ(Bytes(prepared.begin() + 2, prepared.end()), form.bytes());
}

} // namespace
} // namespace tessel::test
