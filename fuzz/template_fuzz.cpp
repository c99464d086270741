// Template validation and a run: the input is the main template; a fixed database with one memo
// (text, rich text with a table, a picture resource and an attachment) is extracted through it.
#include "OpenSupport.h"

namespace {

// The fixed note the template renders.
constexpr char kDatabase[] = R"(<?xml version="1.0" encoding="utf-8"?>
<database xmlns="http://www.lotus.com/dxl" version="8.5" replicaid="85257A3C00512A6E" title="Fuzz">
<document form="Memo">
<noteinfo noteid="20a" unid="0123456789ABCDEF0123456789ABCDEF" sequence="1">
<created><datetime>20210304T050607,08+00</datetime></created>
<modified><datetime>20210304T050607,08+00</datetime></modified></noteinfo>
<item name="From"><text>CN=Alice Smith/O=Acme</text></item>
<item name="SendTo"><textlist><text>Bob</text><text>Carol</text></textlist></item>
<item name="Subject"><text>Quarterly &lt;figures&gt;</text></item>
<item name="PostedDate"><datetime>20210304T050607,08+00</datetime></item>
<item name="Body"><richtext><pardef id="1"/><par def="1">Hello <run><font style="bold"/>world</run></par>
<table><tablerow><tablecell><par>a</par></tablecell><tablecell><par>b</par></tablecell></tablerow></table>
</richtext></item>
</document>
</database>
)";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::filesystem::path &dir = tessel::fuzz::scratch();
    static const std::filesystem::path database = [&] {
        std::filesystem::path path = dir / "template-memo.dxl";
        tessel::fuzz::writeFile(path, reinterpret_cast<const uint8_t *>(kDatabase), sizeof(kDatabase) - 1);
        // The shipped templates beside the fuzzed main one, so that what it includes is found.
        std::filesystem::create_directories(dir / "home");
        std::filesystem::copy(TESSEL_SOURCE_DIR "/share/NSFtemplates", dir / "home" / "NSFtemplates",
                              std::filesystem::copy_options::recursive |
                                  std::filesystem::copy_options::overwrite_existing);
        return path;
    }();
    tessel::fuzz::writeFile(dir / "home" / "NSFtemplates" / "main.xml", data, size);
    tessel::fuzz::openListMetaExtract(database, {(dir / "home/").string(), true});
    return 0;
}
