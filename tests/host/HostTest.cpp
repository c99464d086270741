#include <quillon/host/Host.h>

#include <gtest/gtest.h>

#include <tessel/kit/TempDir.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

using quillon::Host;
using quillon::HostOptions;

namespace {

using tessel::kit::ScopedEnv;

TEST(Host, FindsItsHostFromTheServicesTable) {
    Host host;
    QLHAPI *pHAPI = host.services();
    EXPECT_EQ(&Host::fromServices(pHAPI), &host);
    // Every entry is set.
    EXPECT_NE(pHAPI->fpLoadLibrary, nullptr);
    EXPECT_NE(pHAPI->fpGetProcAddress, nullptr);
    EXPECT_NE(pHAPI->fpFreeLibrary, nullptr);
    EXPECT_NE(pHAPI->fpGetProfileString, nullptr);
    EXPECT_NE(pHAPI->fpOpenStream, nullptr);
    EXPECT_NE(pHAPI->allocator.fpAlloc, nullptr);
    EXPECT_NE(pHAPI->allocator.fpFree, nullptr);
    EXPECT_NE(pHAPI->allocator.fpRealloc, nullptr);
    EXPECT_NE(pHAPI->allocator.fpReallocZero, nullptr);
    EXPECT_NE(pHAPI->fpDupString, nullptr);
    EXPECT_NE(pHAPI->fpConvertCharset, nullptr);
    EXPECT_NE(pHAPI->fpIsLeadByte, nullptr);
    EXPECT_NE(pHAPI->fpFormatDateTime, nullptr);
    EXPECT_NE(pHAPI->fpTimeToFILETIME, nullptr);
    ASSERT_NE(pHAPI->pszTempDir, nullptr);
    ASSERT_NE(pHAPI->pszHostDir, nullptr);
}

// A directory without a separator at its end gets the system's own ("/" or "\\"); one that has
// either keeps it.
TEST(Host, HostDirectoryComesFromTesselHomeWithASeparator) {
    const std::string separator(1, static_cast<char>(std::filesystem::path::preferred_separator));
    {
        ScopedEnv home("TESSEL_HOME", "/opt/tessel");
        EXPECT_EQ(quillon::defaultHostDirectory(), "/opt/tessel" + separator);
        Host host;
        EXPECT_EQ(host.services()->pszHostDir, "/opt/tessel" + separator);
    }
#ifdef _WIN32
    {
        ScopedEnv home("TESSEL_HOME", "C:\\tessel\\");
        EXPECT_EQ(quillon::defaultHostDirectory(), "C:\\tessel\\");
    }
#endif
    {
        ScopedEnv home("TESSEL_HOME", "/opt/tessel/");
        EXPECT_EQ(quillon::defaultHostDirectory(), "/opt/tessel/");
    }
    {
        ScopedEnv home("TESSEL_HOME", std::nullopt);
        std::string directory = quillon::defaultHostDirectory();
        ASSERT_FALSE(directory.empty());
        EXPECT_EQ(directory.back(), '/');
        EXPECT_NE(directory.find("share"), std::string::npos) << directory;
        // Without TESSEL_HOME it is one of the two compiled-in folders.
        EXPECT_TRUE(directory == TESSEL_TEST_INSTALL_SHARE_DIR || directory == TESSEL_TEST_SOURCE_SHARE_DIR)
            << directory;
    }
    {
        ScopedEnv home("TESSEL_HOME", "/ignored");
        HostOptions options;
        options.hostDir = "/given/by/embedder";
        Host host({}, options);
        EXPECT_EQ(host.services()->pszHostDir, "/given/by/embedder" + separator);
        host.setHostDirectory("/changed/");
        EXPECT_STREQ(host.services()->pszHostDir, "/changed/");
    }
}

TEST(Host, TempDirectoryIsEmptyUnlessConfigured) {
    Host plain;
    EXPECT_STREQ(plain.services()->pszTempDir, "");
    HostOptions options;
    options.tempDir = "/var/tmp/tessel";
    Host configured({}, options);
    EXPECT_STREQ(configured.services()->pszTempDir, "/var/tmp/tessel");
    configured.setTempDirectory("");
    EXPECT_STREQ(configured.services()->pszTempDir, "");
}

TEST(Host, PublishesTheDateSettings) {
    HostOptions options;
    options.dateOrder = quillon::DateOrder::DayMonthYear;
    options.b24Hour = true;
    Host host({}, options);
    QLHAPI *pHAPI = host.services();
    EXPECT_EQ(pHAPI->nDateOrder, 1);
    EXPECT_EQ(pHAPI->b24Hour, 1);

    // The reader passes the settings on; the result follows them.
    std::tm time{};
    time.tm_year = 124;
    time.tm_mon = 2;
    time.tm_mday = 5;
    time.tm_hour = 21;
    char buffer[64];
    ASSERT_GT(
        pHAPI->fpFormatDateTime(pHAPI, &time, 0, pHAPI->nDateOrder, pHAPI->b24Hour, buffer, sizeof buffer),
        0);
    EXPECT_STREQ(buffer, "05/03/2024 21:00:00");

    host.setDateSettings(quillon::DateOrder::YearMonthDay, false);
    EXPECT_EQ(pHAPI->nDateOrder, 2);
    EXPECT_EQ(pHAPI->b24Hour, 0);
}

} // namespace
