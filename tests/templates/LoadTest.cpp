// Loading and validation of templates at open: discovery, the main template, and every check of
// elements, attributes, nesting and format strings.
#include "TemplateFixture.h"

#include "nsf/catalogue/images.h"
#include "nsf/items/buffers.h"

namespace tessel::test {
namespace {

class LoadTest : public TemplateTest {
protected:
    kit::Database db() { return memoDb({kit::Item::text("Subject", "Hi")}); }
    std::vector<std::string> names() {
        std::vector<std::string> result;
        for (int32_t i = 0; pOpen != nullptr && i < pOpen->cTemplates; i++)
            result.push_back(pOpen->rgpTemplates[i]->pszName);
        std::sort(result.begin(), result.end());
        return result;
    }
};

TEST_F(LoadTest, NoTemplatesDirectoryFailsTheOpen) {
    open(db());
    EXPECT_EQ(openStatus, 4);
    EXPECT_TRUE(logged("Error opening templates dir " + templatesDir().string()));
    EXPECT_TRUE(logged("nsfInitXMLTemplates() failed"));
}

TEST_F(LoadTest, TemplateOptionOffSkipsLoading) {
    host->config().set("tessel", "ExtractByTemplate", "0");
    open(db());
    EXPECT_EQ(openStatus, 0);
    EXPECT_EQ(pOpen->cTemplates, 0);
}

TEST_F(LoadTest, DirectoryWithoutTemplates) {
    write("readme.txt", "<?xml version='1.0' ?><quillon/>"); // single quotes: not a template
    write("notes.xml", "<quillon/>");                         // no declaration
    write("empty.xml", "");
    open(db());
    EXPECT_EQ(openStatus, 44);
    EXPECT_TRUE(logged("No templates"));
}

TEST_F(LoadTest, TemplatesWithoutMain) {
    write("other.xml", doc(""));
    open(db());
    EXPECT_EQ(openStatus, 45);
    EXPECT_TRUE(logged("No main template"));
}

TEST_F(LoadTest, UpperCaseMainIsTheMainTemplate) {
    write("MAIN.XML", doc("x"));
    open(db());
    ASSERT_EQ(openStatus, 0);
    EXPECT_EQ(pOpen->cTemplates, 1);
    EXPECT_EQ(pOpen->nMainTemplate, 1);
}

TEST_F(LoadTest, IgnoredFilesAndFolders) {
    writeMain("");
    write("sub/called.xml", doc(""));
    write(".hidden.xml", doc(""));
    write("notes.txt", "plain text");
    write("single.xml", "<?xml version='1.0' encoding='UTF-8'?><quillon/>");
    write("images/pic.xml", doc(""));
    write("images2/lost.xml", doc("")); // a folder merely beginning with "images" is not searched
    open(db());
    ASSERT_EQ(openStatus, 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"called.xml", "main.xml"}));
    EXPECT_EQ(std::string(pOpen->rgpTemplates[pOpen->nMainTemplate - 1]->pszName), "main.xml");
}

TEST_F(LoadTest, DuplicateNameInTwoFolders) {
    writeMain("");
    write("a/part.xml", doc(""));
    write("b/PART.xml", doc(""));
    open(db());
    EXPECT_EQ(openStatus, 46);
    bool bLogged = logged("Template name part.xml already used") || logged("Template name PART.xml already used");
    EXPECT_TRUE(bLogged);
}

TEST_F(LoadTest, CLevelsIsTheDeepestControlNesting) {
    writeMain("<ifex name='A'><ifex name='B'><switch name='C'><case text='x'/></switch></ifex></ifex>"
              "<ifex name='D'/>");
    open(db());
    ASSERT_EQ(openStatus, 0);
    EXPECT_EQ(pOpen->rgpTemplates[0]->cLevels, 4);
}

std::string nested(int cLevels) {
    std::string body;
    for (int i = 0; i < cLevels; i++)
        body += "<ifex name='A'>";
    for (int i = 0; i < cLevels; i++)
        body += "</ifex>";
    return body;
}

struct CheckCase {
    const char *pszLabel;
    std::string body;
    int nStatus;
    const char *pszLogged; // a line that must end the log's text, or null
};

class CheckTest : public LoadTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckTest, StatusAndMessage) {
    const CheckCase &c = GetParam();
    write("images/logo.gif", "GIF89a-bytes");
    write("called.xml", doc(""));
    writeMain(c.body);
    open(db());
    EXPECT_EQ(openStatus, c.nStatus) << c.body;
    if (c.pszLogged != nullptr) {
        EXPECT_TRUE(logged(c.pszLogged)) << c.pszLogged;
    }
}

const CheckCase rgCheckCases[] = {
    {"CaseInsideFor", "<for name='A'><case text='x'/></for>", 46, "Element <case> must be inside a <switch>"},
    {"DefaultInsideIf", "<ifex name='A'><default/></ifex>", 46, "Element <default> must be inside a <switch>"},
    {"ForInsideFor", "<for name='A'><ifex name='B'><for name='C'/></ifex></for>", 46,
     "Element <for> cannot be nested in itself"},
    {"SwitchInsideSwitch", "<switch name='A'><case text='1'><switch name='B'/></case></switch>", 46,
     "Element <switch> cannot be nested in itself"},
    {"ForAfterFor", "<for name='A'/><for name='B'/>", 0, nullptr},
    {"IndexOutsideFor", "<ifex name='A'><index/></ifex>", 46, "Element <index> must be inside a <for>"},
    {"IndexInsideFor", "<for name='A'><index/></for>", 0, nullptr},
    {"ElseFirst", "<else/>", 46, "Element <else> must be after an <if> or <switch>"},
    {"ElseAfterIf", "<ifex name='A'/><else/>", 0, nullptr},
    {"TwentyFiveLevels", nested(25), 0, nullptr},
    {"TwentySixLevels", nested(26), 46, "Element <ifex> is nested more than 25 levels"},
    {"LogTypeWarning", "<log text='x' type='WARNING'/>", 46, "Invalid error type WARNING"},
    {"LogTypeWarn", "<log text='x' type='WARN'/>", 0, nullptr},
    {"QuitTypeBad", "<quit type='LOUD'/>", 46, "Invalid error type LOUD"},
    {"AddrTypeOU", "<addr name='A' type='OU'/>", 46, "Invalid address type OU"},
    {"AddrTypeCN", "<addr name='A' type='CN'/>", 0, nullptr},
    {"FormatTD7", "<date name='A' format='TD=7'/>", 46, "nsfInitAttribFormat() failed"},
    {"FormatWithUnknownPair", "<date name='A' format='TD=1,XY=3'/>", 0, nullptr},
    {"FormatGarbage", "<format format='%s%n%x,,=,T=,TD=x'/>", 46, nullptr},
    {"FormatQL", "<date_ql name='A' format='QL=138'/>", 0, nullptr},
    {"FormatQLTooBig", "<date_ql name='A' format='QL=139'/>", 46, nullptr},
    {"ImageLinkUnknown", "<image link='nolink'/>", 0, "Invalid image link nolink"},
    {"ImageFileMissing", "<image file='none.gif'/>", 46, "Invalid image file none.gif"},
    {"ImageFileOutsideFolder", "<image file='../main.xml'/>", 46, "Invalid image file ../main.xml"},
    {"ImageFilePresent", "<image file='logo.gif'/><image_uri file='logo.gif'/>", 0, nullptr},
    {"CallMissing", "<call file='nope.xml'/>", 46, "Invalid template file nope.xml"},
    {"CallPresent", "<call file='CALLED.XML'/>", 0, nullptr},
    {"TextAtRoot", "<text/>", 46, "Element <text> has no main or parent item"},
    {"TextInsideIf", "<ifex name='A'><text/></ifex>", 0, nullptr},
    {"TimeWithoutItem", "<time name='A'/>", 46, "Element <time> has no secondary item"},
    {"IfeqWithoutText", "<ifeq name='A'/>", 46, "Element <ifeq> has no secondary item or text"},
    {"IfeqWithoutName", "<ifeq text='A'/>", 46, "Element <ifeq> has no main item"},
    {"IfiniEmpty", "<ifini/>", 46, "Element <ifini> has no option name or text"},
    {"CaseWithoutText", "<switch name='A'><case/></switch>", 46, "Element <case> has no text"},
    {"StopWithoutText", "<stop/>", 46, "Element <stop> has no text"},
    {"CallWithoutFile", "<call/>", 46, "Element <call> has no file"},
    {"ImageWithoutLink", "<image/>", 46, "Element <image> has no link or file"},
    {"BodyWithAttribute", "<body name='x'/>", 46, "Element <body> has an invalid attribute: name=\"x\""},
    {"UnknownAttribute", "<text name='A' bogus='1'/>", 46, "Element <text> has an invalid attribute: bogus=\"1\""},
    {"UnknownElement", "<bold/>", 46, "Invalid element <bold>"},
    {"MaxNotDigit", "<for name='A' max='x'/>", 46, nullptr},
    {"MalformedXml", "<ifex name='A'>", 46, "mismatched tag"},
    {"BadToken", "<ifex name=A/>", 46, "not well-formed (invalid token)"},
    {"UnclosedTag", "<ifex name='A'><text name='B'></ifex>", 46, nullptr},
    {"NamespacedElement", "<x:text xmlns:x='urn:x' name='A'/>", 46, "Invalid element <urn:x text>"},
};

INSTANTIATE_TEST_SUITE_P(Templates, CheckTest, ::testing::ValuesIn(rgCheckCases),
                         [](const ::testing::TestParamInfo<CheckCase> &info) { return info.param.pszLabel; });

TEST_F(LoadTest, MalformedXmlNamesTheLine) {
    write("main.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quillon>\n<ifex name='A'>\n</quillon>\n");
    open(db());
    EXPECT_EQ(openStatus, 46);
    EXPECT_TRUE(logged("XML Parser failed on line 4 of XML template main.xml, error..."));
    EXPECT_TRUE(logged("mismatched tag"));
}

TEST_F(LoadTest, TemplatePictureJoinsTheCatalogue) {
    write("images/Logo.JPG", "jpeg-bytes");
    write("images/plain", "raw");
    writeMain("<image file='Logo.JPG'/><image file='Logo.JPG'/><image file='plain'/>");
    open(db());
    ASSERT_EQ(openStatus, 0);
    ASSERT_EQ(pOpen->numImages, 2) << "a picture named twice is loaded once";
    NSFIMAGE *pJpeg = nsfFindImage(pOpen, nullptr, "Logo.JPG");
    ASSERT_NE(pJpeg, nullptr);
    EXPECT_EQ(pJpeg->wImageType, CDIMAGETYPE_JPEG);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(pJpeg->pBuffer->rgbData), pJpeg->pBuffer->ucbData), "jpeg-bytes");
    NSFIMAGE *pPlain = nsfFindImage(pOpen, nullptr, "plain");
    ASSERT_NE(pPlain, nullptr);
    EXPECT_EQ(pPlain->wImageType, 0);
}

TEST_F(LoadTest, EntityExpansionBombIsRefused) {
    std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE quillon [\n<!ENTITY a \"aaaaaaaaaa\">\n";
    for (char c = 'b'; c <= 'k'; c++)
        decl += std::string("<!ENTITY ") + c + " \"" + std::string(10, '&') + "\">\n";
    // Each entity holds ten references to the one before it.
    std::string fixed;
    for (size_t i = 0; i < decl.size(); i++) {
        if (decl[i] == '&') {
            size_t lineStart = decl.rfind("<!ENTITY ", i);
            char prev = static_cast<char>(decl[lineStart + 9] - 1);
            fixed += std::string("&") + prev + ";";
        } else {
            fixed += decl[i];
        }
    }
    write("main.xml", fixed + "]>\n<quillon>&k;</quillon>\n");
    open(db());
    EXPECT_EQ(openStatus, 46);
    EXPECT_TRUE(logged("nsfInitXMLTemplate() failed"));
}

TEST_F(LoadTest, DeepDataElementNestingIsHarmless) {
    std::string body;
    for (int i = 0; i < 5000; i++)
        body += "<text name='Subject'>";
    for (int i = 0; i < 5000; i++)
        body += "</text>";
    writeMain(body);
    open(db());
    EXPECT_EQ(openStatus, 0);
    EXPECT_EQ(pOpen->rgpTemplates[0]->cLevels, 0);
}

TEST_F(LoadTest, EmptyPictureFileIsInvalid) {
    write("images/empty.gif", "");
    writeMain("<image file='empty.gif'/>");
    open(db());
    EXPECT_EQ(openStatus, 46);
    EXPECT_TRUE(logged("Empty image file..."));
}

TEST_F(LoadTest, FirstInvalidTemplateStopsTheLoad) {
    writeMain("<bold/>");
    write("z.xml", doc("<also_bad/>"));
    open(db());
    EXPECT_EQ(openStatus, 46);
    EXPECT_TRUE(logged("nsfInitXMLTemplate() failed"));
    EXPECT_TRUE(logged("Stopping XML processing"));
}

} // namespace
} // namespace tessel::test
