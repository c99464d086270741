// tessel.exe as a Windows user runs it: installed into a folder of its own (bin\ with the plug-in,
// the emulated nnotes.dll and bmpcv.dll; share\tessel\ with the templates) and started as a
// process, its output going to files.
#include <gtest/gtest.h>

#include <tessel/kit/TempDir.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

// Greek, CJK and a Latin letter outside ASCII: no single Windows code page holds all three.
const std::wstring kForeign = L"\u03A9mega \u65E5\u672C";

struct ProgramRun {
    DWORD exitCode = 0;
    std::string out;
    std::string err;
};

// The installation, made once for the suite.
class TesselExe : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        install_ = std::make_unique<kit::TempDir>("tessel-exe");
        for (const char *pszFile :
             {TESSEL_EXE, TESSEL_NSF_PLUGIN, TESSEL_NOTES_RUNTIME_DLL, TESSEL_BMPCV_DLL})
            install_->copy(pszFile, fs::path("bin") / fs::path(pszFile).filename());
        fs::create_directories(install_->path() / "share" / "tessel");
        fs::copy(TESSEL_SHARE_DIR "/NSFtemplates", install_->path() / "share" / "tessel" / "NSFtemplates",
                 fs::copy_options::recursive);
    }
    static void TearDownTestSuite() { install_.reset(); }

    // Runs tessel.exe with the arguments in folder (its current folder) and with TMP and TEMP
    // there too, so that what the program leaves behind can be seen.
    static ProgramRun run(const std::vector<std::wstring> &arguments, const fs::path &folder) {
        ProgramRun result;
        const fs::path program = install_->path() / "bin" / "tessel.exe";
        std::wstring commandLine = L"\"" + program.native() + L"\"";
        for (const std::wstring &argument : arguments)
            commandLine += L" \"" + argument + L"\"";

        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        const fs::path outFile = folder / "stdout.bin", errFile = folder / "stderr.bin";
        HANDLE hOut = CreateFileW(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE hErr = CreateFileW(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(hOut, INVALID_HANDLE_VALUE);
        EXPECT_NE(hErr, INVALID_HANDLE_VALUE);

        // The child inherits the environment; this process keeps its own temporary folder.
        const fs::path temporary = folder / "tmp";
        fs::create_directories(temporary);
        const std::optional<std::wstring> oldTmp = variable(L"TMP"), oldTemp = variable(L"TEMP");
        SetEnvironmentVariableW(L"TMP", temporary.c_str());
        SetEnvironmentVariableW(L"TEMP", temporary.c_str());

        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = hOut;
        startup.hStdError = hErr;
        PROCESS_INFORMATION process{};
        const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                            nullptr, folder.c_str(), &startup, &process);
        SetEnvironmentVariableW(L"TMP", oldTmp ? oldTmp->c_str() : nullptr);
        SetEnvironmentVariableW(L"TEMP", oldTemp ? oldTemp->c_str() : nullptr);
        CloseHandle(hOut);
        CloseHandle(hErr);
        EXPECT_TRUE(started) << "CreateProcessW failed: " << GetLastError();
        if (started) {
            // A bound against a hang, far above the second a run takes.
            EXPECT_EQ(WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0) << "tessel.exe hangs";
            GetExitCodeProcess(process.hProcess, &result.exitCode);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        result.out = kit::TempDir::read(outFile);
        result.err = kit::TempDir::read(errFile);
        return result;
    }

    static std::optional<std::wstring> variable(const wchar_t *pszName) {
        const DWORD cch = GetEnvironmentVariableW(pszName, nullptr, 0);
        if (cch == 0)
            return std::nullopt;
        std::wstring value(cch, L'\0');
        value.resize(GetEnvironmentVariableW(pszName, value.data(), cch));
        return value;
    }

    static fs::path sample(const kit::TempDir &dir, const fs::path &relative) {
        return dir.copy(TESSEL_SAMPLE_MAIL, relative);
    }

    // The sample as dir\mail.dxl, extracted whole into dir\out.
    static ProgramRun extractSample(const kit::TempDir &dir) {
        sample(dir, "mail.dxl");
        fs::create_directory(dir.path() / "out");
        return run({L"extract", L"mail.dxl", L"-o", L"out"}, dir.path());
    }

    static std::unique_ptr<kit::TempDir> install_;
};

std::unique_ptr<kit::TempDir> TesselExe::install_;

TEST_F(TesselExe, CatWritesTheBytesAsTheyAre) {
    kit::TempDir dir("tessel-exe-cat");
    const ProgramRun extracted = extractSample(dir);
    ASSERT_EQ(extracted.exitCode, 0u) << extracted.err;
    const std::string file = kit::TempDir::read(dir.path() / "out" / "mail_ql0.mht");
    ASSERT_NE(file.find("\r\n"), std::string::npos) << "the memo has line ends to lose";

    const ProgramRun cat = run({L"cat", L"mail.dxl", L"0"}, dir.path());
    ASSERT_EQ(cat.exitCode, 0u) << cat.err;
    EXPECT_EQ(cat.out.size(), file.size());
    EXPECT_TRUE(cat.out == file) << "standard output is not the memo's bytes";
}

TEST_F(TesselExe, AMemoWrittenWithoutItsMimeBodySaysSo) {
    // The sample's memo 8 is kept as MIME, which the Windows runtime cannot convert: the memo is
    // written without its body, and the user is told.
    kit::TempDir dir("tessel-exe-mime");
    sample(dir, "mail.dxl");
    fs::create_directory(dir.path() / "out");
    const ProgramRun result = run({L"extract", L"mail.dxl", L"-o", L"out", L"--index", L"8"}, dir.path());
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_TRUE(fs::is_regular_file(dir.path() / "out" / "mail_ql8.mht"));
    EXPECT_NE(result.err.find("tessel: warning: mail.dxl: subfile 8 (mail_ql8.mail): written, but the reader "
                              "reported: "),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("MIMEConvertMIMEPartCC"), std::string::npos) << result.err;
}

TEST_F(TesselExe, NamesOutsideTheCodePageWork) {
    kit::TempDir dir("tessel-exe-names");
    const fs::path database = sample(dir, fs::path(kForeign) / (kForeign.substr(0, 5) + L".dxl"));
    const fs::path output = dir.path() / (L"out " + kForeign);
    fs::create_directory(output);
    const ProgramRun result = run({L"extract", database.native(), L"-o", output.native()}, dir.path());
    ASSERT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_NE(result.out.find(" 0 failed"), std::string::npos) << result.out;
    // Subfile names start with the database's name.
    EXPECT_TRUE(fs::is_regular_file(output / (kForeign.substr(0, 5) + L"_ql0.mht")));
    EXPECT_TRUE(fs::is_regular_file(output / (kForeign.substr(0, 5) + L"_ql0") / L"readme.txt"));
}

// The configuration file's name comes in UTF-8 from the command line; a file that cannot be read
// stops the program.
TEST_F(TesselExe, AConfigurationFileOutsideTheCodePageIsRead) {
    kit::TempDir dir("tessel-exe-config");
    sample(dir, "mail.dxl");
    const fs::path config = dir.write(fs::path(kForeign) / L"tessel.ini", "[tessel]\n");
    const ProgramRun read = run({L"list", L"mail.dxl", L"-c", config.native()}, dir.path());
    EXPECT_EQ(read.exitCode, 0u) << read.err;
    const ProgramRun missing =
        run({L"list", L"mail.dxl", L"-c", (dir.path() / kForeign / L"absent.ini").native()}, dir.path());
    EXPECT_NE(missing.exitCode, 0u);
    EXPECT_NE(missing.err.find("absent.ini"), std::string::npos) << missing.err;
}

TEST_F(TesselExe, AFileThatExistsIsKeptUnlessOverwriteIsGiven) {
    kit::TempDir dir("tessel-exe-keep");
    sample(dir, "mail.dxl");
    fs::create_directory(dir.path() / "out");
    ASSERT_EQ(run({L"extract", L"mail.dxl", L"-o", L"out", L"--index", L"2"}, dir.path()).exitCode, 0u);
    const fs::path file = dir.path() / "out" / "mail_ql0" / "readme.txt";
    const std::string original = kit::TempDir::read(file);
    ASSERT_FALSE(original.empty());
    dir.write(fs::path("out") / "mail_ql0" / "readme.txt", "mine");

    const ProgramRun kept = run({L"extract", L"mail.dxl", L"-o", L"out", L"--index", L"2"}, dir.path());
    EXPECT_EQ(kept.exitCode, 1u);
    EXPECT_NE(kept.err.find("--overwrite replaces it"), std::string::npos) << kept.err;
    EXPECT_EQ(kit::TempDir::read(file), "mine");

    const ProgramRun replaced =
        run({L"extract", L"mail.dxl", L"-o", L"out", L"--index", L"2", L"--overwrite"}, dir.path());
    EXPECT_EQ(replaced.exitCode, 0u) << replaced.err;
    EXPECT_EQ(kit::TempDir::read(file), original);
    // No temporary file is left beside it.
    for (const auto &entry : fs::directory_iterator(dir.path() / "out" / "mail_ql0"))
        EXPECT_FALSE(entry.path().filename().wstring().starts_with(L".tessel-")) << entry.path().string();
}

TEST_F(TesselExe, ADatabaseThatFailsDoesNotStopTheOthers) {
    kit::TempDir dir("tessel-exe-several");
    sample(dir, "good.dxl");
    dir.write("broken.dxl", "<?xml version='1.0'?><database><document");
    fs::create_directory(dir.path() / "out");
    const ProgramRun result =
        run({L"extract", L"broken.dxl", L"missing.dxl", L"good.dxl", L"-o", L"out"}, dir.path());
    EXPECT_EQ(result.exitCode, 1u) << result.err;
    EXPECT_NE(result.out.find("3 databases (2 could not be opened), 39 subfiles, 39 written, 0 failed"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.err.find("cannot open missing.dxl: missing"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("cannot open broken.dxl"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_regular_file(dir.path() / "out" / "good" / "good_ql0.mht"));
}

TEST_F(TesselExe, NothingIsLeftInTheTemporaryFolder) {
    kit::TempDir dir("tessel-exe-tmp");
    const ProgramRun result = extractSample(dir);
    ASSERT_EQ(result.exitCode, 0u) << result.err;
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(dir.path() / "tmp"))
        left.push_back(entry.path().filename().string());
    EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(TesselExe, TimesAreUtcWhateverTheZone) {
    kit::TempDir dir("tessel-exe-zone");
    sample(dir, "mail.dxl");
    SetEnvironmentVariableW(L"TZ", L"EST5EDT");
    const ProgramRun result = run({L"list", L"mail.dxl"}, dir.path());
    SetEnvironmentVariableW(L"TZ", nullptr);
    ASSERT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_NE(result.out.find("0\tmain\t-1\tmail_ql0.mail\t2024-03-01T01:04:15Z\n"), std::string::npos)
        << result.out;
}

} // namespace
} // namespace tessel::test
