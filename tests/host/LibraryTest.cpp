#include <quillon/host/Container.h>
#include <quillon/host/Host.h>
#include <quillon/host/ReaderLibrary.h>

#include <gtest/gtest.h>

#include "FakeReader.h"
#include <tessel/kit/TempDir.h>
#include <tessel/kit/TestAllocator.h>

using tessel::kit::TempDir;

using quillon::Container;
using quillon::Host;
using quillon::HostOptions;
using quillon::ReaderLibrary;

namespace {

// The reader asks for libraries by their Windows names. On Windows the name is the file's; on POSIX
// "x.dll" (any case of the extension) is the shared library "libx.so".
TEST(LoadLibrary, MapsWindowsNamesIntoTheLibraryDirectory) {
    struct Case {
        const char *pszName;
        const char8_t *pszFile; // in the library directory, or the path itself when absolute
    } cases[] = {
#ifdef _WIN32
        {"bmpcv.dll", u8"bmpcv.dll"},
        {"Other.DLL", u8"Other.DLL"},
        {"libplain.so", u8"libplain.so"},
        {"C:/abs/x.dll", u8"C:/abs/x.dll"},
        {"C:/\xCE\xA9/\xE6\x97\xA5.dll", u8"C:/\u03A9/\u65E5.dll"}, // named outside the code page
        {"\xE6\x97\xA5.dll", u8"\u65E5.dll"},
#else
        {"bmpcv.dll", u8"libbmpcv.so"},
        {"Other.DLL", u8"libOther.so"},
        {"libplain.so", u8"libplain.so"},
        {"/abs/x.dll", u8"/abs/x.dll"},
        {"/\xCE\xA9/\xE6\x97\xA5.dll", u8"/\u03A9/\u65E5.dll"},
        {"\xE6\x97\xA5.dll", u8"lib\u65E5.so"},
#endif
        {".dll", u8".dll"},
    };
#ifdef _WIN32
    const std::filesystem::path directory = "C:/Program Files/tessel/bin";
#else
    const std::filesystem::path directory = "/opt/tessel/lib";
#endif
    HostOptions options;
    options.libraryDir = directory;
    Host host({}, options);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pszName);
        const std::filesystem::path file(c.pszFile);
        EXPECT_EQ(host.libraryPath(c.pszName), file.is_absolute() ? file : directory / file);
    }
    Host noDirectory;
    EXPECT_EQ(noDirectory.libraryPath("bmpcv.dll"), std::filesystem::path(cases[0].pszFile));
}

TEST(LoadLibrary, LoadsTheImageConverterByItsWindowsName) {
    HostOptions options;
    options.libraryDir = HOST_TEST_LIBRARY_DIR;
    Host host({}, options);
    QLHAPI *pHAPI = host.services();
    void *hLibrary = reinterpret_cast<void *>(1);
    ASSERT_NE(pHAPI->fpLoadLibrary(pHAPI, "bmpcv.dll", &hLibrary), 0) << host.lastLibraryError();
    ASSERT_NE(hLibrary, nullptr);
    auto pfnAnswer = reinterpret_cast<int (*)()>(pHAPI->fpGetProcAddress(pHAPI, hLibrary, "hostTestAnswer"));
    ASSERT_NE(pfnAnswer, nullptr);
    EXPECT_EQ(pfnAnswer(), 42);
    EXPECT_EQ(pHAPI->fpGetProcAddress(pHAPI, hLibrary, "IMGXconvert"), nullptr);
    EXPECT_NE(host.lastLibraryError().find("IMGXconvert"), std::string::npos) << host.lastLibraryError();
    pHAPI->fpFreeLibrary(pHAPI, hLibrary);
    pHAPI->fpFreeLibrary(pHAPI, nullptr);
}

TEST(LoadLibrary, ReportsAMissingLibrary) {
    HostOptions options;
    options.libraryDir = HOST_TEST_LIBRARY_DIR;
    Host host({}, options);
    QLHAPI *pHAPI = host.services();
    void *hLibrary = reinterpret_cast<void *>(1);
    EXPECT_EQ(pHAPI->fpLoadLibrary(pHAPI, "nosuchlib.dll", &hLibrary), 0);
    EXPECT_EQ(hLibrary, nullptr);
#ifdef _WIN32
    EXPECT_NE(host.lastLibraryError().find("nosuchlib.dll"), std::string::npos) << host.lastLibraryError();
#else
    EXPECT_NE(host.lastLibraryError().find("libnosuchlib.so"), std::string::npos) << host.lastLibraryError();
#endif
    EXPECT_EQ(pHAPI->fpLoadLibrary(pHAPI, nullptr, &hLibrary), 0);
    EXPECT_EQ(pHAPI->fpLoadLibrary(pHAPI, "bmpcv.dll", nullptr), 0);
    EXPECT_EQ(pHAPI->fpGetProcAddress(pHAPI, nullptr, "x"), nullptr);
}

TEST(ReaderLibrary, ExplainsWhyALibraryIsNotAReader) {
    struct Case {
        const char *pszPath;
        const char *pszMessagePart;
    } cases[] = {
#ifdef _WIN32
        {"C:/nonexistent/tessel_nsf.dll", "tessel_nsf.dll"},
#else
        {"/nonexistent/libtessel_nsf.so", "/nonexistent/libtessel_nsf.so"},
#endif
        {HOST_TEST_BMPCV, QL_READER_ENTRY_NAME},
        {HOST_TEST_READER_SLOT6, "slot 6"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pszPath);
        std::string error;
        EXPECT_EQ(ReaderLibrary::load(c.pszPath, error), nullptr);
        EXPECT_NE(error.find(c.pszMessagePart), std::string::npos) << error;
    }
}

TEST(ReaderLibrary, FillsTheOperationTableAndKeepsSlot6) {
    std::string error;
    std::unique_ptr<ReaderLibrary> reader = ReaderLibrary::load(HOST_TEST_READER, error);
    ASSERT_NE(reader, nullptr) << error;
    const QLReaderInterface &ops = reader->operations();
    EXPECT_EQ(ops.pSlot6, ReaderLibrary::kSlot6Sentinel);
    EXPECT_NE(ops.fpInit, nullptr);
    EXPECT_NE(ops.fpShutdown, nullptr);
    EXPECT_NE(ops.fpExtractSubFileToIOobjEx, nullptr);
    EXPECT_TRUE(reader->directory().is_absolute()) << reader->directory();
    EXPECT_TRUE(std::filesystem::equivalent(reader->directory(), HOST_TEST_LIBRARY_DIR)) << reader->directory();
}

class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        reader_ = ReaderLibrary::load(HOST_TEST_READER, error);
        ASSERT_NE(reader_, nullptr) << error;
        options_.allocator = &allocator_;
    }

    quillon::TestAllocator allocator_;
    HostOptions options_;
    std::unique_ptr<ReaderLibrary> reader_;
    TempDir dir_;
};

TEST_F(ContainerTest, HandsTheReaderAnOpenInputAndClosesTheContext) {
    std::filesystem::path path = dir_.write("mail.nsf", "data");
    Host host({}, options_);
    {
        quillon::Credential credentials[] = {{QLCredentialType_Password, "secret"}};
        Container container(host, *reader_, path, CNVO_CREATEROOTDIR, credentials);
        ASSERT_TRUE(container.isOpen()) << container.status();
        auto *pContext = static_cast<FakeReaderContext *>(container.context());
        EXPECT_EQ(pContext->pHAPI, host.services());
        EXPECT_EQ(pContext->bInputWasOpen, 1);
        EXPECT_EQ(pContext->nCloseResult, 1);
        EXPECT_EQ(pContext->bCloseCleared, 1);
        EXPECT_EQ(pContext->dwFlags, CNVO_CREATEROOTDIR);
        EXPECT_EQ(pContext->cCredentials, 1);
        EXPECT_EQ(std::string(pContext->pszFileName), path.string());
        EXPECT_EQ(allocator_.liveCount(), 2u); // the context and the name
        // The host's library directory defaults to the plug-in's.
        EXPECT_TRUE(std::filesystem::equivalent(host.libraryDirectory(), HOST_TEST_LIBRARY_DIR))
            << host.libraryDirectory();
    }
    EXPECT_EQ(allocator_.liveCount(), 0u);
}

TEST_F(ContainerTest, KeepsTheStatusOfAFailedOpenAndStillCloses) {
    std::filesystem::path path = dir_.write("mail.nsf", "data");
    quillon::Config config;
    config.set("tessel", "FakeStatus", "12");
    Host host(std::move(config), options_);
    {
        Container container(host, *reader_, path);
        EXPECT_FALSE(container.isOpen());
        EXPECT_EQ(container.status(), QLSTATUS_INIT_FAILED);
        EXPECT_NE(container.context(), nullptr);
        EXPECT_EQ(static_cast<FakeReaderContext *>(container.context())->cCredentials, -1);
    }
    EXPECT_EQ(allocator_.liveCount(), 0u);

    allocator_.failAllocation(allocator_.counts().allocations + 1);
    Container noMemory(host, *reader_, path);
    EXPECT_EQ(noMemory.status(), QLSTATUS_OUT_OF_MEMORY);
    EXPECT_EQ(noMemory.context(), nullptr);
}

TEST_F(ContainerTest, DoesNotCallTheReaderForAMissingFile) {
    HostOptions options = options_;
    options.libraryDir = "/kept";
    Host host({}, options);
    Container container(host, *reader_, dir_ / "missing.nsf");
    EXPECT_EQ(container.status(), QLSTATUS_ACCESS_FAILED);
    EXPECT_EQ(container.context(), nullptr);
    EXPECT_NE(container.error().find("missing.nsf"), std::string::npos);
    EXPECT_EQ(allocator_.counts().allocations, 0u);
    EXPECT_EQ(host.libraryDirectory(), std::filesystem::path("/kept"));
}

} // namespace
