// Running templates: output outside the root, conditions, else, switch, loops through loop
// documents, call, quit, stop, and hostile templates.
#include "TemplateFixture.h"

namespace tessel::test {
namespace {

using kit::DateTime;
using kit::Item;

class RunTest : public TemplateTest {};

struct RunCase {
    const char *pszLabel;
    std::string body;
    std::string expected;
};

class RunOutputTest : public RunTest, public ::testing::WithParamInterface<RunCase> {};

// The memo every case runs against.
std::vector<Item> memoItems() {
    return {Item::text("Subject", "Yes"),
            Item::text("SendTo", "Ann;Bo;Cy"),
            Item::text("Semi", ";"),
            Item::text("Empty", ""),
            Item::text("Quote", "a\"b<c&d"),
            Item::dateTime("PostedDate", DateTime::at(2021, 3, 4, 5, 6, 7))};
}

TEST_P(RunOutputTest, Writes) {
    const RunCase &c = GetParam();
    Result result = runMain(c.body, memoItems());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, c.expected) << c.body;
}

const RunCase rgRunCases[] = {
    {"CharacterData", "<![CDATA[<P>one</P>]]> two", "<P>one</P> two"},
    {"IfneOnAbsentItemIsOff", "<ifne name='Missing' text='x'>A</ifne>", ""},
    {"IfnexOnAbsentItemIsOn", "<ifnex name='Missing'>A</ifnex>", "A"},
    {"IfexOnPresentItem", "<ifex name='Subject'>A</ifex>", "A"},
    {"IfexOnEmptyItemIsOff", "<ifex name='Empty'>A</ifex>", ""},
    {"IfeqIgnoresCase", "<ifeq name='Subject' text='yes'>A</ifeq>", "A"},
    {"IfeqWithItem", "<ifeq name='Subject' item='Subject' text='no'>A</ifeq>", "A"},
    {"IfltOrder", "<iflt name='Subject' text='Z'>A</iflt><ifgt name='Subject' text='Z'>B</ifgt>", "A"},
    {"IfleIfge", "<ifle name='Subject' text='YES'>A</ifle><ifge name='Subject' text='yes'>B</ifge>", "AB"},
    {"IfdtltLaterTextIsOff", "<ifdtlt name='PostedDate' text='03/05/2021 05:06:07 AM'>A</ifdtlt>", ""},
    {"IfdtltEarlierTextIsOn", "<ifdtlt name='PostedDate' text='03/03/2021 05:06:07 AM'>A</ifdtlt>", "A"},
    {"IfdteqSameTime", "<ifdteq name='PostedDate' text='03/04/2021 05:06:07 AM'>A</ifdteq>", "A"},
    {"IfdtgtLater", "<ifdtgt name='PostedDate' text='03/04/2021 05:06:08 AM'>A</ifdtgt>", "A"},
    {"UnreadableDateIsOn", "<ifdteq name='PostedDate' text='someday'>A</ifdteq>", "A"},
    {"ElseAfterOff", "<ifeq name='Subject' text='no'>A</ifeq><else>B</else>", "B"},
    {"ElseAfterOn", "<ifeq name='Subject' text='yes'>A</ifeq><else>B</else>", "A"},
    {"SwitchOnAbsentItem", "<switch name='Missing'><case text='x'>A</case><default>D</default></switch>", ""},
    {"SwitchFirstMatchOnly",
     "<switch name='Subject'><case text='yes'>A</case><case text='YES'>B</case><default>D</default></switch>",
     "A"},
    {"SwitchDefault", "<switch name='Subject'><case text='no'>A</case><default>D</default></switch>", "D"},
    {"ForThreePasses", "<for name='SendTo'>[<index/>:<text/>]</for>", "[1:Ann][2:Bo][3:Cy]"},
    {"ForWithMax", "<for name='SendTo' max='2'>[<index/>:<text/>]</for>", "[1:Ann][2:Bo]"},
    {"ForOverAbsentItem", "<for name='Missing'>X</for>", ""},
    {"ForOverEmptyValue", "<for name='Empty'>X</for>", ""},
    {"ForOverSingleSeparator", "<for name='Semi'>[<index/>:<text/>]</for>", "[1:][2:]"},
    {"ForNameInsidePass", "<for name='SendTo' max='1'><name/></for>", "SendTo"},
    {"ForWithConditionInside",
     "<for name='SendTo'><ifeq name='Subject' text='no'>+</ifeq><else>-</else><text/></for>", "-Ann-Bo-Cy"},
    // Inside a condition, an element without a name works on the condition's item.
    {"ForTextInsideCondition", "<for name='SendTo'><ifex name='Subject'><text/></ifex></for>", "YesYesYes"},
    {"ForAfterForTextsAgain", "<for name='SendTo' max='1'><text/></for>|<text name='Subject'/>", "Ann|Yes"},
    // Attribute values holding '"', '<' and '&' are carried into the loop document intact.
    {"ForAttributeNeedsEscaping",
     "<for name='SendTo' max='1'><ifeq name='Quote' text='a\"b&lt;c&amp;d'>match</ifeq></for>", "match"},
    // Character data holding "]]>" survives the loop document's CDATA sections.
    {"ForCharacterDataWithCdataEnd", "<for name='SendTo' max='2'>x]]&gt;y</for>", "x]]>yx]]>y"},
    {"QuitEndsDocument", "A<quit/>B<text name='Subject'/>", "A"},
    {"FormatKeepsForDocument", "<format format='TS=0'/><date name='PostedDate'/>", "03/04/2021"},
    {"DateOwnFormat", "<date name='PostedDate' format='TS=1'/>|<date name='PostedDate'/>",
     "05:06:07 AM|03/04/2021 05:06:07 AM"},
};

INSTANTIATE_TEST_SUITE_P(Templates, RunOutputTest, ::testing::ValuesIn(rgRunCases),
                         [](const ::testing::TestParamInfo<RunCase> &info) { return info.param.pszLabel; });

TEST_F(RunTest, TextOutsideTheRootIsNotWritten) {
    write("main.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- c --><quillon>in</quillon>\n");
    open(memoDb(memoItems()));
    ASSERT_EQ(openStatus, 0);
    EXPECT_EQ(run().output, "in");
}

TEST_F(RunTest, QuitInCalledTemplateReturnsToCaller) {
    write("sub.xml", doc("B<quit text='leaving' type='INFO'/>D<text name='Subject'/>"));
    Result result = runMain("A<call file='sub.xml'/>C", memoItems());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "ABC");
    EXPECT_TRUE(logged("leaving"));
}

TEST_F(RunTest, StopFailsAfterWhatWasWritten) {
    Result result = runMain("A<stop text='halted by template'/>B", memoItems());
    EXPECT_EQ(result.status, 47);
    EXPECT_EQ(result.output, "A");
    EXPECT_TRUE(logged("halted by template"));
}

TEST_F(RunTest, StopInCalledTemplateFailsEveryRun) {
    write("sub.xml", doc("B<stop text='no'/>"));
    Result result = runMain("A<call file='sub.xml'/>C", memoItems());
    EXPECT_EQ(result.status, 47);
    EXPECT_EQ(result.output, "AB");
}

TEST_F(RunTest, CallCycleEndsAtTheNestingLimit) {
    write("a.xml", doc("a<call file='b.xml'/>"));
    write("b.xml", doc("b<call file='a.xml'/>"));
    Result result = runMain("<call file='a.xml'/>", memoItems());
    EXPECT_EQ(result.status, 46);
    EXPECT_TRUE(logged("Template a.xml is nested more than 25 levels") ||
                logged("Template b.xml is nested more than 25 levels"));
    EXPECT_EQ(pOpen->nTemplateLevel, 0);
}

TEST_F(RunTest, LogWritesUnderTheTemplateName) {
    Result result = runMain("<log text='hello from main' type='ERROR'/>x", memoItems());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "x");
    EXPECT_TRUE(logged("main.xml: hello from main") || logged("hello from main"));
}

TEST_F(RunTest, IfiniReadsTheConfiguration) {
    host->config().set("tessel", "Branding", "Acme");
    Result result = runMain("<ifini name='Branding' text='acme'>A</ifini><ifini name='Other' text='x'>B</ifini>",
                            memoItems());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "A");
}

TEST_F(RunTest, ZoneConditions) {
    std::vector<Item> items = memoItems();
    items.push_back(Item::dateTime("Est", DateTime::at(2021, 1, 15, 7, 0, 0, 0, -300)));
    items.push_back(Item::dateTime("Est2", DateTime::at(2021, 2, 1, 9, 0, 0, 0, -300)));
    items.push_back(Item::dateTime("Cest", DateTime::at(2021, 7, 1, 12, 0, 0, 0, 120, true)));
    Result result = runMain("<iftzeq name='Est' text='est'>A</iftzeq>"
                            "<iftzne name='Est' item='Est2'>B</iftzne>"
                            "<iftzeq name='Est' item='Est2'>C</iftzeq>"
                            "<iftzeq name='Cest' text='CED'>D</iftzeq>"
                            "<iftzeq name='Est' text='UTC'>E</iftzeq>",
                            items);
    EXPECT_EQ(result.status, 0);
    // A four-letter zone is no zone for the comparison.
    EXPECT_EQ(result.output, "AC");
    EXPECT_TRUE(logged("Invalid timezone in date1..."));
}

TEST_F(RunTest, ZoneAgainstTheSystemZone) {
    env.set("TZ", "EST5EDT");
    tzset();
    std::vector<Item> items = memoItems();
    items.push_back(Item::dateTime("Gmt", DateTime::at(2021, 1, 15, 7, 0, 0)));
    Result result = runMain("<iftzne name='Gmt'>A</iftzne><iftzeq name='Gmt'>B</iftzeq>", items);
    env.set("TZ", "UTC");
    tzset();
    EXPECT_EQ(result.status, 0);
    // The system zone is EST or EDT by the date; neither is GMT.
    EXPECT_EQ(result.output, "A");
}

TEST_F(RunTest, NameAtTheRootFailsTheRun) {
    Result result = runMain("A<name/>B", memoItems());
    EXPECT_EQ(result.status, 46);
    EXPECT_EQ(result.output, "A");
    EXPECT_TRUE(logged("Element has no main or parent item"));
    EXPECT_TRUE(logged("Invalid element <name>"));
}

TEST_F(RunTest, ForOverThousandsOfEntries) {
    std::string value;
    for (int i = 0; i < 3000; i++)
        value += (i ? ";" : "") + std::to_string(i);
    std::vector<Item> items = memoItems();
    items.push_back(Item::text("Many", value));
    Result result = runMain("<for name='Many'><index/>=<text/>,</for>", items);
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), ','), 3000);
    EXPECT_TRUE(result.output.starts_with("1=0,2=1,"));
    EXPECT_TRUE(result.output.ends_with("3000=2999,"));
}

TEST_F(RunTest, FailedWriteIsNotFatal) {
    writeMain("A<text name='Subject'/>B");
    open(memoDb(memoItems()));
    ASSERT_EQ(openStatus, 0);
    NSFSUBFILE *pSubFile = pOpen->subFiles[0];
    NOTEHANDLE hNote = NULLHANDLE;
    ASSERT_EQ(NSFNoteOpenExt(pOpen->hDB, pSubFile->dwNoteID, 0x03000000, &hNote), NOERROR);
    quillon::MemoryIOObject out("out");
    out.get()->fpOpen(out.get());
    out.failWrite(2);
    int nStatus = nsfExtractMailFieldsXML(pOpen, pSubFile, hNote, out.get());
    NSFNoteClose(hNote);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(out.data(), "AB");
    EXPECT_TRUE(logged("Error writing data to I/O object (size 3)"));
}

TEST_F(RunTest, EveryRunLeavesNoBuffersBehind) {
    writeMain("<for name='SendTo'><ifex name='Subject'><text/></ifex></for><call file='sub.xml'/>");
    write("sub.xml", doc("<text name='Subject'/>"));
    open(memoDb(memoItems()));
    ASSERT_EQ(openStatus, 0);
    int32_t cBuffersBefore = 0;
    for (int32_t i = 0; i < pOpen->numBuffers; i++)
        cBuffersBefore += pOpen->buffers[i] != nullptr ? 1 : 0;
    EXPECT_EQ(run().output, "YesYesYesYes");
    int32_t cBuffersAfter = 0;
    for (int32_t i = 0; i < pOpen->numBuffers; i++)
        cBuffersAfter += pOpen->buffers[i] != nullptr ? 1 : 0;
    EXPECT_EQ(cBuffersAfter, cBuffersBefore);
}

} // namespace
} // namespace tessel::test
