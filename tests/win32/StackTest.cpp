// The whole stack on Windows: the host library loads tessel_nsf.dll, which runs on the emulated
// runtime (nnotes.dll) and converts pictures through bmpcv.dll, all copied into a test folder as
// a user would install them, and reads the bundled sample database.
#include <gtest/gtest.h>

#include <quillon/host/Catalogue.h>
#include <quillon/host/Config.h>
#include <quillon/host/Container.h>
#include <quillon/host/Extractor.h>
#include <quillon/host/Host.h>
#include <quillon/host/ReaderLibrary.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <tessel/kit/TempDir.h>

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

TEST(WindowsStack, TheSampleIsListedAndExtracted) {
    kit::TempDir dir{"tessel-stack"};
    for (const char *pszLibrary : {TESSEL_NSF_PLUGIN, TESSEL_NOTES_RUNTIME_DLL, TESSEL_BMPCV_DLL})
        dir.copy(pszLibrary, fs::path(pszLibrary).filename());
    fs::create_directories(dir.path() / "share");
    fs::copy(TESSEL_SHARE_DIR "/NSFtemplates", dir.path() / "share" / "NSFtemplates", fs::copy_options::recursive);
    fs::path input = dir.copy(TESSEL_SAMPLE_MAIL, "mail.dxl");

    std::string error;
    auto reader = quillon::ReaderLibrary::load(dir.path() / "tessel_nsf.dll", error);
    ASSERT_NE(reader, nullptr) << error;
    quillon::HostOptions options;
    options.hostDir = (dir.path() / "share").string();
    quillon::Host host({}, options);
    quillon::Container container(host, *reader, input);
    ASSERT_TRUE(container.isOpen()) << "status " << container.status() << " " << container.error();

    quillon::Catalogue catalogue(container);
    auto subfiles = catalogue.list();
    ASSERT_TRUE(subfiles.ok()) << subfiles.status;
    ASSERT_GT(subfiles.value.size(), 5u);

    quillon::Extractor extractor(container);
    std::set<int32_t> kinds;
    size_t cExtracted = 0;
    std::vector<int> failedStatuses;
    for (const quillon::SubFile &subfile : subfiles.value) {
        if (subfile.kind == QLSubFileType_Folder)
            continue;
        fs::path output = dir.path() / ("out" + std::to_string(subfile.index));
        int status = extractor.extract(subfile.index, output, QLExtractFlag_GetFormattedBody);
        SCOPED_TRACE(subfile.name.value_or("(no name)"));
        if (status != QLSTATUS_OK) {
            // Only a memo kept as MIME may fail: the Windows runtime has no MIME conversion.
            EXPECT_EQ(subfile.kind, QLSubFileType_Main);
            failedStatuses.push_back(status);
            continue;
        }
        ASSERT_TRUE(fs::exists(output));
        if (subfile.kind == QLSubFileType_Main) {
            EXPECT_GT(fs::file_size(output), 0u);
        }
        kinds.insert(subfile.kind);
        ++cExtracted;
    }
    EXPECT_TRUE(kinds.count(QLSubFileType_Main)) << "memos are extracted";
    EXPECT_TRUE(kinds.count(QLSubFileType_Attachment)) << "attachments are extracted";
    EXPECT_GT(cExtracted, subfiles.value.size() / 2);
    EXPECT_LE(failedStatuses.size(), 1u) << "the sample holds one memo kept as MIME";
}

TEST(WindowsStack, NamesOutsideTheCodePageReachTheFiles) {
    // Greek and CJK: no single Windows code page holds both.
    const std::wstring foreign = L"\u03A9mega \u65E5\u672C";
    kit::TempDir dir{"tessel-stack-names"};
    for (const char *pszLibrary : {TESSEL_NSF_PLUGIN, TESSEL_NOTES_RUNTIME_DLL, TESSEL_BMPCV_DLL})
        dir.copy(pszLibrary, fs::path(pszLibrary).filename());
    const fs::path input = dir.copy(TESSEL_SAMPLE_MAIL, fs::path(foreign) / L"mail.dxl");
    dir.write(fs::path(foreign) / L"tessel.ini", "[tessel]\nkey=value\n");

    quillon::Config config;
    ASSERT_TRUE(config.loadFile(dir.path() / foreign / L"tessel.ini"));
    EXPECT_EQ(config.get("tessel", "key"), "value");
    EXPECT_FALSE(config.loadFile(dir.path() / foreign / L"absent.ini"));
    ASSERT_EQ(config.warnings().size(), 1u);
    // The warning names the file in UTF-8.
    EXPECT_NE(config.warnings().front().find("\xCE\xA9mega \xE6\x97\xA5\xE6\x9C\xAC"), std::string::npos)
        << config.warnings().front();

    std::string error;
    auto reader = quillon::ReaderLibrary::load(dir.path() / "tessel_nsf.dll", error);
    ASSERT_NE(reader, nullptr) << error;
    fs::create_directories(dir.path() / "share");
    fs::copy(TESSEL_SHARE_DIR "/NSFtemplates", dir.path() / "share" / "NSFtemplates", fs::copy_options::recursive);
    quillon::HostOptions options;
    options.hostDir = (dir.path() / "share").string();
    quillon::Host host({}, options);
    quillon::Container container(host, *reader, input);
    ASSERT_TRUE(container.isOpen()) << "status " << container.status() << " " << container.error();

    quillon::Extractor extractor(container);
    const fs::path output = dir.path() / foreign / L"readme \u00FC.txt";
    EXPECT_EQ(extractor.extract(2, output, 0), QLSTATUS_OK) << extractor.error();
    EXPECT_TRUE(fs::is_regular_file(output));
    EXPECT_GT(fs::file_size(output), 0u);
}

} // namespace
} // namespace tessel::test
