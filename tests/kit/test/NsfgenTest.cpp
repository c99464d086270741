// Runs the nsfgen program: determinism, well-formedness and the features a sample must show.
#include "XmlTree.h"

#include "tessel/kit/CdWriter.h"
#include "tessel/kit/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <unistd.h>

namespace tessel::kit {
namespace {

#ifdef TESSEL_NSFGEN_PATH
constexpr const char *kNsfgen = TESSEL_NSFGEN_PATH;
#else
constexpr const char *kNsfgen = nullptr;
#endif

class NsfgenTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kNsfgen)
            GTEST_SKIP() << "nsfgen is not part of this build";
        dir_ = scratch_.path();
    }

    std::string generate(const std::string &args, const std::string &name) {
        const auto out = dir_ / name;
        const std::string command =
            shellQuote(kNsfgen) + " " + args + " --out " + shellQuote(out.string()) + " 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream in(out, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TempDir scratch_{"kit-nsfgen"};
    std::filesystem::path dir_;
};

TEST_F(NsfgenTest, SameSeedSameBytesOtherSeedOtherBytes) {
    const std::string a = generate("--seed 7 --notes 12", "a.dxl");
    const std::string b = generate("--seed 7 --notes 12", "b.dxl");
    const std::string c = generate("--seed 8 --notes 12", "c.dxl");
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST_F(NsfgenTest, RejectsBadArguments) {
    const std::string command =
        shellQuote(kNsfgen) + " --seed x --out " + shellQuote((dir_ / "x.dxl").string()) + " 2>/dev/null";
    EXPECT_NE(std::system(command.c_str()), 0);
    const std::string noDir = shellQuote(kNsfgen) + " --out " + shellQuote((dir_ / "no-dir" / "x.dxl").string()) +
                              " 2>/dev/null";
    // The program itself runs: a bad seed and a missing folder are its refusals, not the shell's.
    EXPECT_EQ(std::system((shellQuote(kNsfgen) + " --help > /dev/null 2>&1").c_str()), 0);
    EXPECT_NE(std::system(noDir.c_str()), 0);
}

TEST_F(NsfgenTest, ByteTargetKeepsWritingDocuments) {
    const std::string text = generate("--seed 3 --notes 1 --bytes 0.5", "big.dxl");
    EXPECT_GE(text.size(), 512u * 1024u);
    EXPECT_TRUE(test::parseXml(text).error.empty());
}

TEST_F(NsfgenTest, DatabaseShowsEveryFeature) {
    const std::string text = generate("--seed 11 --notes 20", "f.dxl");
    const test::XmlDocument doc = test::parseXml(text);
    ASSERT_TRUE(doc.error.empty()) << doc.error;
    std::set<std::string> folderUnids, itemNames, rawTypes, forms;
    std::size_t documents = 0, imageResources = 0, attachments = 0, memosWithLogo = 0;
    bool logoResource = false;
    for (const auto &note : doc.root->children) {
        const std::string kind = note->local();
        if (kind == "folder")
            folderUnids.insert(note->first("noteinfo")->attr("unid"));
        if (kind == "imageresource")
            ++imageResources;
        if (kind == "document") {
            ++documents;
            forms.insert(note->attr("form"));
        }
        for (const test::XmlNode *item : note->all("item")) {
            const std::string name = item->attr("name");
            itemNames.insert(name);
            if (name == "$FILE")
                ++attachments;
            if (name == "Logo" && note->attr("form") == "Memo")
                ++memosWithLogo;
            if (name == "$TITLE" && item->first("text") &&
                item->first("text")->text == "StdNotesLtr0.gif;StdNotesLtr0")
                logoResource = true;
            if (const test::XmlNode *raw = item->first("rawitemdata")) {
                rawTypes.insert(raw->attr("type"));
                if (raw->attr("type") == "1") {
                    const auto records = test::decodeBase64(raw->text);
                    EXPECT_NO_THROW(cdRecords(records)) << name;
                    EXPECT_LE(records.size() + 2, 65406u);
                }
            }
            if (name == "$FolderRefs") {
                for (const test::XmlNode *ref : item->first("textlist")->all("text")) {
                    EXPECT_TRUE(folderUnids.count(ref->text)) << "folder reference to an unknown folder";
                }
            }
        }
    }
    EXPECT_GE(documents, 20u);
    EXPECT_GE(folderUnids.size(), 2u);
    EXPECT_TRUE(logoResource);
    EXPECT_GE(imageResources, 1u);
    EXPECT_GE(attachments, 4u);
    EXPECT_GE(memosWithLogo, 1u);
    for (const char *form : {"Memo", "Appointment", "Document"})
        EXPECT_TRUE(forms.count(form)) << form;
    for (const char *name : {"From", "SendTo", "CopyTo", "Subject", "PostedDate", "ComposedDate",
                             "Importance", "Body", "StartDateTime", "EndDateTime", "RepeatForUnit", "Chair",
                             "Location", "Attendees", "$SealedFor", "$FolderRefs", "$NoteHasNativeMIME"})
        EXPECT_TRUE(itemNames.count(name)) << name;
    for (const char *type : {"1", "19", "502", "4"})
        EXPECT_TRUE(rawTypes.count(type)) << type;
}

} // namespace
} // namespace tessel::kit
