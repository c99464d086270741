// The portable OS layer on Windows: names outside the code page, long and UNC paths, nested
// directory creation, listings, the error numbers, the named mutex, temporary files and tree
// removal, and the time zone's name.
#include <windows.h>

#include <gtest/gtest.h>

#include <errno.h>
#include <process.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <thread>

#include <tessel/kit/TempDir.h>

#include "nsf/os/qlsys.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

// A path as the reader's callers pass it: UTF-8 bytes.
std::string utf8(const fs::path &path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path fromUtf8(const std::string &text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string readAll(QLSYS_FILE hFile) {
    std::string text;
    char rgch[256];
    size_t cb;
    while ((cb = qlsys_fread(rgch, 1, sizeof(rgch), hFile)) > 0)
        text.append(rgch, cb);
    return text;
}

void writeAll(QLSYS_FILE hFile, const std::string &text) {
    DWORD cbWritten = 0;
    ASSERT_TRUE(WriteFile(reinterpret_cast<HANDLE>(hFile), text.data(), static_cast<DWORD>(text.size()), &cbWritten,
                          nullptr));
    ASSERT_EQ(cbWritten, text.size());
}

std::set<std::wstring> entriesOf(const fs::path &dir) {
    std::set<std::wstring> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().wstring());
    return names;
}

bool underWine() {
    HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    return hNtdll != nullptr && GetProcAddress(hNtdll, "wine_get_version") != nullptr;
}

class QlsysWindowsTest : public ::testing::Test {
protected:
    kit::TempDir dir{"tessel-qlsys"};
};

TEST_F(QlsysWindowsTest, NamesOutsideTheCodePageAreTakenAsUtf8) {
    // Greek, CJK and a character beyond U+FFFF (a surrogate pair in UTF-16): none is in an ANSI
    // code page of the Latin alphabet.
    const std::string name = "\xCE\xA9-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.txt";
    const std::string path = utf8(dir.path()) + "\\" + name;
    for (const char *pszUtf8Only : {"0", "1"}) {
        SCOPED_TRACE(std::string("QL_PATHNM_UTF8=") + pszUtf8Only);
        kit::ScopedEnv env("QL_PATHNM_UTF8", pszUtf8Only);
        QLSYS_FILE hFile = qlsys_open(path.c_str(), QLSYS_O_WRONLY | QLSYS_O_CREAT | QLSYS_O_TRUNC);
        ASSERT_NE(hFile, QLSYS_INVALID_FILE) << "errno " << errno;
        writeAll(hFile, "payload");
        EXPECT_EQ(qlsys_fclose(hFile), 0);
        // Made under its own name, with no twin under the code page's reading of the bytes.
        EXPECT_EQ(entriesOf(dir.path()), std::set<std::wstring>{fromUtf8(name).wstring()});

        hFile = qlsys_fopen(path.c_str(), "rb");
        ASSERT_NE(hFile, QLSYS_INVALID_FILE);
        EXPECT_EQ(readAll(hFile), "payload");
        qlsys_fclose(hFile);
        EXPECT_EQ(qlsys_access(path.c_str(), 4), 0);
        QLSYS_STAT st;
        ASSERT_EQ(qlsys_stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 7);
    }
    EXPECT_EQ(qlsys_unlink(path.c_str()), 0);
    EXPECT_TRUE(entriesOf(dir.path()).empty());
}

TEST_F(QlsysWindowsTest, CodePageNamesStillOpenInTheCodePage) {
    if (GetACP() != 1252)
        GTEST_SKIP() << "the test's name is written in code page 1252, the system's is " << GetACP();
    // "café.txt" in code page 1252: not UTF-8, so the code-page attempt opens it.
    const std::string path = utf8(dir.path()) + "\\caf\xE9.txt";
    QLSYS_FILE hFile = qlsys_open(path.c_str(), QLSYS_O_WRONLY | QLSYS_O_CREAT);
    ASSERT_NE(hFile, QLSYS_INVALID_FILE);
    qlsys_fclose(hFile);
    EXPECT_EQ(entriesOf(dir.path()), std::set<std::wstring>{L"caf\u00E9.txt"});
}

TEST_F(QlsysWindowsTest, PathsOf300CharactersOpenInTheLongForm) {
    // Folders of 50 characters, made through the long form, and a file name that brings the
    // whole path to exactly 300 characters.
    std::string path = utf8(dir.path());
    while (path.size() < 240) {
        path += "\\" + std::string(50, 'd');
        std::wstring wide = L"\\\\?\\" + fromUtf8(path).wstring();
        ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr)) << GetLastError();
    }
    path += "\\";
    path += std::string(300 - path.size() - 4, 'f') + ".txt";
    ASSERT_EQ(path.size(), 300u);

    QLSYS_FILE hFile = qlsys_open(path.c_str(), QLSYS_O_RDWR | QLSYS_O_CREAT | QLSYS_O_TRUNC);
    ASSERT_NE(hFile, QLSYS_INVALID_FILE) << "errno " << errno;
    writeAll(hFile, "long");
    qlsys_fclose(hFile);
    EXPECT_EQ(qlsys_access(path.c_str(), 0), 0);

    // Forward slashes become backslashes for the long form.
    std::string slashed = path;
    for (size_t i = 2; i < slashed.size(); ++i) {
        if (slashed[i] == '\\')
            slashed[i] = '/';
    }
    hFile = qlsys_fopen(slashed.c_str(), "r");
    ASSERT_NE(hFile, QLSYS_INVALID_FILE) << "errno " << errno;
    EXPECT_EQ(readAll(hFile), "long");
    qlsys_fclose(hFile);

    // A folder whose path is longer than MAX_PATH is listed through the long form too, not taken
    // for a missing one.
    const std::string folder = path.substr(0, path.rfind('\\')) + "\\" + std::string(50, 'e');
    ASSERT_GT(folder.size(), static_cast<size_t>(MAX_PATH));
    ASSERT_EQ(qlsys_mkdir(folder.c_str()), 0) << "errno " << errno;
    hFile = qlsys_open((folder + "\\inside.txt").c_str(), QLSYS_O_RDWR | QLSYS_O_CREAT | QLSYS_O_TRUNC);
    ASSERT_NE(hFile, QLSYS_INVALID_FILE) << "errno " << errno;
    qlsys_fclose(hFile);
    QLSYS_DIR *pDir = qlsys_opendir(folder.c_str());
    ASSERT_NE(pDir, nullptr) << "errno " << errno;
    std::set<std::string> names;
    while (QLSYS_DIRENT *pEntry = qlsys_readdir(pDir))
        names.insert(pEntry->d_name);
    EXPECT_EQ(qlsys_closedir(pDir), 0);
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "inside.txt"}));
    // and it was made under its whole name, not one cut to MAX_PATH characters beside it.
    const std::string parent = folder.substr(0, folder.rfind('\\'));
    pDir = qlsys_opendir(parent.c_str());
    ASSERT_NE(pDir, nullptr) << "errno " << errno;
    names.clear();
    while (QLSYS_DIRENT *pEntry = qlsys_readdir(pDir))
        names.insert(pEntry->d_name);
    EXPECT_EQ(qlsys_closedir(pDir), 0);
    EXPECT_EQ(names, (std::set<std::string>{".", "..", path.substr(parent.size() + 1), std::string(50, 'e')}));
}

// A UNC share for the test: on Wine, \\server\share is the folder dosdevices\unc\server\share of
// the prefix; on Windows, the administrative share of the test folder's drive.
class QlsysUncTest : public QlsysWindowsTest {
protected:
    void SetUp() override {
        if (underWine()) {
            const char *pszPrefix = getenv("WINEPREFIX");
            if (pszPrefix == nullptr || pszPrefix[0] != '/')
                GTEST_SKIP() << "Wine without WINEPREFIX: its UNC folder is not known";
            server = "tessel" + std::to_string(GetCurrentProcessId());
            std::string unix = std::string(pszPrefix) + "/dosdevices/unc/" + server + "/share";
            shareRoot = fs::path("Z:" + unix).make_preferred();
            std::error_code ec;
            fs::create_directories(shareRoot, ec);
            ASSERT_FALSE(ec) << ec.message();
            hostFolder = shareRoot;
            shareFolder = "\\\\" + server + "\\share";
        } else {
            std::string local = utf8(dir.path());
            if (local.size() < 3 || local[1] != ':')
                GTEST_SKIP() << "the test folder is not on a drive";
            hostFolder = dir.path();
            shareFolder = "\\\\localhost\\" + std::string(1, local[0]) + "$" + local.substr(2);
            if (GetFileAttributesA(shareFolder.c_str()) == INVALID_FILE_ATTRIBUTES)
                GTEST_SKIP() << "no administrative share here";
        }
    }
    void TearDown() override {
        std::error_code ec;
        if (!shareRoot.empty())
            fs::remove_all(shareRoot.parent_path(), ec);
    }

    std::string server;
    fs::path shareRoot;
    fs::path hostFolder;
    std::string shareFolder;
};

TEST_F(QlsysUncTest, BackslashAndSlashFormsOpen) {
    std::ofstream(hostFolder / "a.txt", std::ios::binary) << "unc";
    std::string forward = shareFolder;
    for (char &ch : forward) {
        if (ch == '\\')
            ch = '/';
    }
    for (const std::string &path : {shareFolder + "\\a.txt", forward + "/a.txt"}) {
        SCOPED_TRACE(path);
        QLSYS_FILE hFile = qlsys_fopen(path.c_str(), "r");
        ASSERT_NE(hFile, QLSYS_INVALID_FILE) << "errno " << errno;
        EXPECT_EQ(readAll(hFile), "unc");
        qlsys_fclose(hFile);
    }
    EXPECT_EQ(qlsys_access((shareFolder + "\\a.txt").c_str(), 4), 0);
    EXPECT_NE(qlsys_access((shareFolder + "\\missing.txt").c_str(), 0), 0);
    // Directories below a share: the server's name is not a folder to make.
    EXPECT_EQ(qlsys_mkdir((shareFolder + "\\x\\y").c_str()), 0);
    EXPECT_TRUE(fs::is_directory(hostFolder / "x" / "y"));
}

TEST_F(QlsysWindowsTest, MkdirMakesEveryMissingLevel) {
    const std::string base = utf8(dir.path()) + "\\a";
    ASSERT_TRUE(fs::create_directory(dir.path() / "a"));
    EXPECT_EQ(qlsys_mkdir((base + "\\b\\c").c_str()), 0);
    EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "b" / "c"));
    EXPECT_EQ(qlsys_mkdir((base + "\\b\\c").c_str()), -1) << "every level existed";
    EXPECT_EQ(errno, EEXIST);
    // Either separator, and a trailing one.
    EXPECT_EQ(qlsys_mkdir((base + "/s/t/").c_str()), 0);
    EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "s" / "t"));
    // Levels named outside the code page are made under their own names.
    EXPECT_EQ(qlsys_mkdir((base + "\\\xCE\xA9\\\xE6\x97\xA5").c_str()), 0);
    EXPECT_TRUE(fs::is_directory(dir.path() / "a" / fromUtf8("\xCE\xA9") / fromUtf8("\xE6\x97\xA5")));

    EXPECT_EQ(qlsys_mkdir(""), -1);
    EXPECT_EQ(qlsys_mkdir(nullptr), -1);
    EXPECT_EQ(qlsys_mkdir("C:"), -1);
}

TEST_F(QlsysWindowsTest, ListingsOfEmptyMissingAndFullDirectories) {
    auto list = [](const std::string &path) {
        std::set<std::string> names;
        QLSYS_DIR *pDir = qlsys_opendir(path.c_str());
        EXPECT_NE(pDir, nullptr) << path;
        if (pDir == nullptr)
            return names;
        int32_t nLast = 0;
        while (QLSYS_DIRENT *pEntry = qlsys_readdir(pDir)) {
            EXPECT_EQ(pEntry->d_ino, 1);
            EXPECT_EQ(pEntry->d_off, ++nLast);
            EXPECT_EQ(pEntry->d_namlen, strlen(pEntry->d_name));
            names.insert(pEntry->d_name);
        }
        EXPECT_EQ(qlsys_readdir(pDir), nullptr) << "the end stays the end";
        EXPECT_EQ(qlsys_closedir(pDir), 0);
        return names;
    };
    const std::string path = utf8(dir.path());
    EXPECT_EQ(list(path), (std::set<std::string>{".", ".."})) << "no entries of its own";
    EXPECT_EQ(list(path + "\\"), (std::set<std::string>{".", ".."}));
    EXPECT_TRUE(list(path + "\\missing").empty()) << "a missing directory is an empty listing";

    dir.write("one.txt", "1");
    dir.write("sub/two.txt", "2");
    EXPECT_EQ(list(path + "/"), (std::set<std::string>{".", "..", "one.txt", "sub"}));
    EXPECT_EQ(qlsys_opendir((path + "\\one.txt").c_str()), nullptr) << "a file is not a directory";
    EXPECT_EQ(qlsys_closedir(nullptr), -1);

    // A directory named outside the code page is listed, its entries named in UTF-8.
    const std::string greek = "\xCE\xB5\xCE\xBD\xCE\xB1";  // ενα
    const std::string cjk = "\xE6\x97\xA5\xE6\x9C\xAC"; // 日本
    const std::string emoji = "\xF0\x9F\x93\x8E";             // a character beyond U+FFFF
    fs::create_directories(dir.path() / fromUtf8(greek) / fromUtf8(cjk));
    std::ofstream(dir.path() / fromUtf8(greek) / fromUtf8(emoji + ".txt")) << "x";
    std::ofstream(dir.path() / fromUtf8(greek) / "plain.txt") << "x";
    EXPECT_EQ(list(path + "\\" + greek),
              (std::set<std::string>{".", "..", cjk, emoji + ".txt", "plain.txt"}));
    EXPECT_EQ(list(path + "/" + greek + "/" + cjk + "/"), (std::set<std::string>{".", ".."}));
    EXPECT_TRUE(list(path + "\\" + greek + "\\" + greek).empty()) << "missing, named outside the code page";
}

TEST_F(QlsysWindowsTest, WindowsErrorsBecomeErrorNumbers) {
    const std::string path = utf8(dir.path());
    EXPECT_EQ(qlsys_open((path + "\\no\\such\\file").c_str(), QLSYS_O_RDONLY), QLSYS_INVALID_FILE);
    EXPECT_EQ(errno, ENOENT) << "ERROR_PATH_NOT_FOUND";

    dir.write("exists.txt", "x");
    EXPECT_EQ(qlsys_open((path + "\\exists.txt").c_str(), QLSYS_O_WRONLY | QLSYS_O_CREAT | QLSYS_O_EXCL),
              QLSYS_INVALID_FILE);
    EXPECT_EQ(errno, EEXIST) << "ERROR_FILE_EXISTS";

    // A file held open without sharing.
    HANDLE hHeld = CreateFileW((dir.path() / "exists.txt").wstring().c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    EXPECT_EQ(qlsys_open((path + "\\exists.txt").c_str(), QLSYS_O_RDONLY), QLSYS_INVALID_FILE);
    EXPECT_EQ(errno, EACCES) << "ERROR_SHARING_VIOLATION";
    CloseHandle(hHeld);

    EXPECT_EQ(qlsys_open(nullptr, QLSYS_O_RDONLY), QLSYS_INVALID_FILE);
    EXPECT_EQ(errno, EINVAL);
    // The invalid file is also the process's pseudo-handle, which Windows would let one close.
    EXPECT_EQ(qlsys_fclose(QLSYS_INVALID_FILE), -1);
    EXPECT_EQ(errno, EBADF);
    char ch;
    EXPECT_EQ(qlsys_fread(&ch, 1, 1, QLSYS_INVALID_FILE), 0u);
}

TEST_F(QlsysWindowsTest, ReadsCountWholeItemsAndDeleteOnCloseDeletes) {
    const std::string path = utf8(dir.path()) + "\\r.bin";
    dir.write("r.bin", "abcdefg");
    QLSYS_FILE hFile = qlsys_fopen(path.c_str(), "r");
    ASSERT_NE(hFile, QLSYS_INVALID_FILE);
    char rgch[8] = {};
    EXPECT_EQ(qlsys_fread(rgch, 0, 4, hFile), 0u) << "size 0 reads nothing";
    EXPECT_EQ(qlsys_fread(rgch, 2, 4, hFile), 3u) << "whole items only";
    EXPECT_EQ(std::string(rgch, 7), "abcdefg");
    qlsys_fclose(hFile);

    const std::string temp = utf8(dir.path()) + "\\t.bin";
    hFile = qlsys_open(temp.c_str(), QLSYS_O_RDWR | QLSYS_O_CREAT | QLSYS_O_TEMPORARY);
    ASSERT_NE(hFile, QLSYS_INVALID_FILE);
    EXPECT_TRUE(fs::exists(dir.path() / "t.bin"));
    qlsys_fclose(hFile);
    EXPECT_FALSE(fs::exists(dir.path() / "t.bin"));
}

TEST(QlsysMutex, HeldByOneThreadAtATimeAndAbandonedWhenItsHolderEnds) {
    const std::string name = "tessel-test-mutex-" + std::to_string(GetCurrentProcessId());
    QLSYS_MUTEX *pMutex = qlsys_mutex_open(name.c_str());
    ASSERT_NE(pMutex, nullptr);
    EXPECT_EQ(qlsys_mutex_lock(pMutex), QLSYS_WAIT_OBJECT_0);

    // The name reaches the same mutex: another thread cannot take it while it is held.
    DWORD dwOther = 0;
    std::thread([&] {
        HANDLE hSame = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
        dwOther = hSame != nullptr ? WaitForSingleObject(hSame, 0) : WAIT_FAILED;
        if (hSame != nullptr)
            CloseHandle(hSame);
    }).join();
    EXPECT_EQ(dwOther, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(qlsys_mutex_unlock(pMutex), 0);
    EXPECT_EQ(qlsys_mutex_unlock(pMutex), -1) << "no longer held";

    // A holder that ends without releasing leaves the mutex abandoned, and the next one holds it.
    std::thread([&] { EXPECT_EQ(qlsys_mutex_lock(pMutex), QLSYS_WAIT_OBJECT_0); }).join();
    EXPECT_EQ(qlsys_mutex_lock(pMutex), QLSYS_WAIT_ABANDONED);
    EXPECT_EQ(qlsys_mutex_unlock(pMutex), 0);
    qlsys_mutex_close(pMutex);
    qlsys_mutex_close(nullptr);

    char szPath[260];
    EXPECT_EQ(qlsys_mutex_path(name.c_str(), szPath, sizeof(szPath)), -1) << "a Windows mutex has no file";
}

TEST_F(QlsysWindowsTest, TemporaryWorkspaceIsMadeFilledAndRemoved) {
    char szTemp[MAX_PATH];
    size_t cch = qlsys_gettemppath(szTemp, sizeof(szTemp));
    ASSERT_GT(cch, 0u);
    EXPECT_EQ(szTemp[cch - 1], '\\');
    EXPECT_EQ(qlsys_gettemppath(szTemp, 2), 0u) << "does not fit";

    const std::string workspace = utf8(dir.path()) + "\\tessel_" + std::to_string(qlsys_getpid());
    EXPECT_EQ(qlsys_is_own_dir(workspace.c_str()), 0);
    ASSERT_EQ(qlsys_mkdir_private(workspace.c_str()), 0);
    EXPECT_EQ(qlsys_is_own_dir(workspace.c_str()), 1);
    EXPECT_EQ(qlsys_mkdir_private(workspace.c_str()), 0) << "an existing directory is reused";

    char szFirst[MAX_PATH], szSecond[MAX_PATH];
    ASSERT_EQ(qlsys_gettempfilename(workspace.c_str(), "tmp", szFirst, sizeof(szFirst)), 0);
    ASSERT_EQ(qlsys_gettempfilename(workspace.c_str(), "cdx", szSecond, sizeof(szSecond)), 0);
    EXPECT_STRNE(szFirst, szSecond);
    static const std::regex tmpName(R"(.*\\tmp[0-9A-F]{1,4}\.TMP)", std::regex::icase);
    static const std::regex cdName(R"(.*\\cdx[0-9A-F]{1,4}\.TMP)", std::regex::icase);
    EXPECT_TRUE(std::regex_match(szFirst, tmpName)) << szFirst;
    EXPECT_TRUE(std::regex_match(szSecond, cdName)) << szSecond;
    EXPECT_TRUE(fs::exists(fromUtf8(szFirst))) << "the file is made empty";
    EXPECT_EQ(fs::file_size(fromUtf8(szFirst)), 0u);

    // A buffer too small for the name leaves no file behind.
    char szShort[8];
    EXPECT_EQ(qlsys_gettempfilename(workspace.c_str(), "tmp", szShort, sizeof(szShort)), -1);
    EXPECT_EQ(std::distance(fs::directory_iterator(fromUtf8(workspace)), fs::directory_iterator()), 2);

    // Removed with its contents, nested folders and read-only files included.
    dir.write(fs::path("tessel_" + std::to_string(qlsys_getpid())) / "sub" / "deep.txt", "deep");
    fs::path readOnly = fromUtf8(workspace) / "ro.txt";
    std::ofstream(readOnly) << "ro";
    SetFileAttributesW(readOnly.wstring().c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(qlsys_rmtree(workspace.c_str(), 1), 0);
    EXPECT_FALSE(fs::exists(fromUtf8(workspace)));
    EXPECT_EQ(qlsys_rmtree(workspace.c_str(), 1), 0) << "already gone counts as removed";
    EXPECT_EQ(qlsys_rmtree("", 1), -1);
}

TEST(QlsysTimeZone, NameIsTheSystemsZoneName) {
    TIME_ZONE_INFORMATION tzi;
    DWORD dwZone = GetTimeZoneInformation(&tzi);
    ASSERT_NE(dwZone, TIME_ZONE_ID_INVALID);
    const WCHAR *pwszName = dwZone == TIME_ZONE_ID_DAYLIGHT ? tzi.DaylightName : tzi.StandardName;
    if (pwszName[0] == L'\0')
        GTEST_SKIP() << "the system names no time zone";
    char szName[128];
    ASSERT_EQ(qlsys_timezone_name(szName, sizeof(szName)), 0);
    EXPECT_EQ(fromUtf8(szName).wstring(), std::wstring(pwszName));
    EXPECT_EQ(qlsys_timezone_name(szName, 1), -1) << "does not fit";
    EXPECT_EQ(qlsys_timezone_name(nullptr, 10), -1);
}

TEST(QlsysProcess, IdsAndLocalTime) {
    EXPECT_EQ(qlsys_getpid(), static_cast<int>(GetCurrentProcessId()));
    EXPECT_EQ(qlsys_process_exists(qlsys_getpid()), 1);
    EXPECT_EQ(qlsys_process_exists(0), -1);
    QLSYS_TIME time;
    qlsys_localtime(&time);
    EXPECT_GE(time.nYear, 2020);
    EXPECT_GE(time.nMonth, 1);
    EXPECT_LE(time.nMonth, 12);
}

} // namespace
} // namespace tessel::test
