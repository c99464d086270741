#include "Extraction.h"
#include "OpenDiagnosis.h"
#include "ReaderLog.h"

#include <tessel/kit/TempDir.h>

#include <gtest/gtest.h>

#include <cstdlib>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace tessel::cli {
namespace {

constexpr char kFailedOpenLog[] =
    "\n2026-12-06 15:38:42:118 [0/0] INFO nsfOpenDatabase(): Opening NSF database...\n"
    "2026-12-06 15:38:42:118 [0/0] ERROR nsfOpenDatabase(): Notes API NSFDbOpen() failed, status 518 0x206, "
    "error message...\n"
    "2026-12-06 15:38:42:118 [0/0] ERROR nsfOpenDatabase(): File structure is not understood\n"
    "2026-12-06 15:38:42:118 [0/0] WARNING nsfInit(): nsfOpenDatabase() failed\n";

TEST(ParseApiFailures, FindsTheCallTheStatusAndItsMessage) {
    const auto failures = parseApiFailures(kFailedOpenLog);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].api, "NSFDbOpen");
    EXPECT_EQ(failures[0].status, 0x206);
    EXPECT_EQ(failures[0].message, "File structure is not understood");
}

TEST(ParseApiFailures, ReadsLinesWithoutTimestamps) {
    const auto failures = parseApiFailures(
        "[0/0] ERROR nsfSwitchId(): Notes API SECKFMSwitchToIDFile() failed, status 6408 0x1908, error message...\n"
        "[0/0] ERROR nsfSwitchId(): Wrong password\n");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].api, "SECKFMSwitchToIDFile");
    EXPECT_EQ(failures[0].status, 0x1908);
}

TEST(ParseErrorMessages, KeepsOnlyErrorLines) {
    const auto messages = parseErrorMessages(kFailedOpenLog);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "File structure is not understood");
}

struct DiagnosisCase {
    long notesStatus;
    int readerStatus;
    OpenProblem expected;
};

class DiagnoseOpenTest : public ::testing::TestWithParam<DiagnosisCase> {};

TEST_P(DiagnoseOpenTest, NamesTheKindOfFailure) {
    std::vector<ApiFailure> failures;
    if (GetParam().notesStatus != 0)
        failures.push_back({"NSFDbOpen", GetParam().notesStatus, "text"});
    EXPECT_EQ(diagnoseOpen(GetParam().readerStatus, failures).problem, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Statuses, DiagnoseOpenTest,
                         ::testing::Values(DiagnosisCase{0x0103, 4, OpenProblem::Missing},
                                           DiagnosisCase{0x0201, 4, OpenProblem::NotDatabase},
                                           DiagnosisCase{0x0206, 4, OpenProblem::Damaged},
                                           DiagnosisCase{0x024B, 4, OpenProblem::Refused},
                                           DiagnosisCase{0x1908, 33, OpenProblem::Refused},
                                           DiagnosisCase{0x1902, 33, OpenProblem::Refused},
                                           DiagnosisCase{0x01A5, 12, OpenProblem::RuntimeFailed},
                                           DiagnosisCase{0, 33, OpenProblem::Refused},
                                           DiagnosisCase{0, 44, OpenProblem::NoTemplates},
                                           DiagnosisCase{0x0999, 6, OpenProblem::Other},
                                           DiagnosisCase{0, 6, OpenProblem::Other}));

TEST(DiagnoseOpen, ALaterKnownCauseWinsOverAnEarlierUnknownOne) {
    const std::vector<ApiFailure> failures{{"OSGetEnvironmentString", 0x0999, ""}, {"NSFDbOpen", 0x0201, ""}};
    EXPECT_EQ(diagnoseOpen(4, failures).problem, OpenProblem::NotDatabase);
}

TEST(DiagnoseOpen, ATemplateFailureIsNamedWithAHint) {
    const std::vector<std::string> errors{"Note item not found", "Error opening templates dir /x/NSFtemplates"};
    const OpenFailure failure = diagnoseOpen(4, {}, errors);
    EXPECT_EQ(failure.problem, OpenProblem::NoTemplates);
    EXPECT_NE(failure.detail.find("/x/NSFtemplates"), std::string::npos);
    EXPECT_NE(failure.detail.find("--no-templates"), std::string::npos);
}

TEST(DiagnoseOpen, AnUnknownFailureQuotesTheLastError) {
    const std::vector<ApiFailure> failures{{"NSFItemInfo", 0x0222, "Note item not found"}};
    const std::vector<std::string> errors{"Note item not found", "Something else broke"};
    EXPECT_EQ(diagnoseOpen(6, failures, errors).detail, "Something else broke");
}

TEST(CheckInputFile, TellsMissingFoldersAndFilesApart) {
    kit::TempDir dir("tessel cli.diagnosis");
    EXPECT_EQ(checkInputFile(dir / "none.dxl")->problem, OpenProblem::Missing);
    EXPECT_EQ(checkInputFile(dir / "none" / "deeper.dxl")->problem, OpenProblem::Missing);
    EXPECT_EQ(checkInputFile(dir.path())->problem, OpenProblem::NotRegularFile);
    EXPECT_FALSE(checkInputFile(dir.write("db.dxl", "<database/>")).has_value());
}

TEST(CheckInputFile, APipeIsNotARegularFile) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no named pipes in the file system";
#else
    kit::TempDir dir("tessel cli.diagnosis");
    const auto fifo = dir / "pipe.dxl";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(checkInputFile(fifo)->problem, OpenProblem::NotRegularFile);
#endif
}

TEST(NormaliseLogLevel, AcceptsTheNamesInAnyCase) {
    EXPECT_EQ(normaliseLogLevel("info"), "INFO");
    EXPECT_EQ(normaliseLogLevel("Warning"), "WARN");
    EXPECT_EQ(normaliseLogLevel("ALL"), "ALL");
    EXPECT_EQ(normaliseLogLevel("verbose"), std::nullopt);
    EXPECT_EQ(normaliseLogLevel(""), std::nullopt);
}

TEST(PlanLog, IsOffUnlessAskedFor) {
    kit::ScopedEnv level("QUILLON_TESSEL_LOG_LEVEL", std::nullopt);
    std::string error;
    const auto plan = planLog({}, error);
    ASSERT_TRUE(plan.has_value());
    EXPECT_FALSE(plan->userLog);
}

TEST(PlanLog, AMissingFolderIsAnError) {
    kit::TempDir dir("tessel cli.log");
    std::string error;
    EXPECT_FALSE(planLog({"", (dir / "absent").string(), ""}, error).has_value());
    EXPECT_NE(error.find("does not exist"), std::string::npos);
    EXPECT_FALSE(planLog({"INFO", "", (dir / "absent" / "x.log").string()}, error).has_value());
}

TEST(PlanLog, AFolderGivesThePluginsNameAtInfo) {
    kit::TempDir dir("tessel cli.log");
    std::string error;
    const auto plan = planLog({"", dir.path().string(), ""}, error);
    ASSERT_TRUE(plan.has_value()) << error;
    EXPECT_TRUE(plan->userLog);
    EXPECT_EQ(plan->level, "INFO");
    EXPECT_EQ(plan->file.parent_path(), dir.path());
    EXPECT_TRUE(plan->file.filename().string().starts_with("tessel_"));
}

TEST(PlanLog, TheEnvironmentCountsAsARequest) {
    kit::TempDir dir("tessel cli.log");
    kit::ScopedEnv level("QUILLON_TESSEL_LOG_LEVEL", "DEBUG");
    kit::ScopedEnv file("QUILLON_TESSEL_LOG_FILE", (dir / "env.log").string());
    std::string error;
    const auto plan = planLog({}, error);
    ASSERT_TRUE(plan.has_value()) << error;
    EXPECT_TRUE(plan->userLog);
    EXPECT_EQ(plan->level, "DEBUG");
    EXPECT_EQ(plan->file, dir / "env.log");
}

TEST(ReaderLog, PutsTheEnvironmentBackForTheNextDatabase) {
    kit::TempDir dir("tessel cli.log");
    kit::ScopedEnv environment("QUILLON_TESSEL_LOG_LEVEL", std::nullopt);
    environment.unset("QUILLON_TESSEL_LOG_FILE");
    environment.set("QUILLON_TESSEL_LOG_DIR", dir.path().string());
    std::string error;
    for (int database = 0; database < 2; database++) {
        const auto plan = planLog({}, error);
        ASSERT_TRUE(plan.has_value()) << error;
        EXPECT_FALSE(plan->userLog) << "database " << database;
        ReaderLog log(*plan);
        // The plug-in is pointed at a private file while the log lives.
        EXPECT_STREQ(std::getenv("QUILLON_TESSEL_LOG_LEVEL"), "ERROR");
        EXPECT_EQ(std::getenv("QUILLON_TESSEL_LOG_DIR"), nullptr);
    }
    EXPECT_EQ(std::getenv("QUILLON_TESSEL_LOG_LEVEL"), nullptr);
    EXPECT_EQ(std::getenv("QUILLON_TESSEL_LOG_FILE"), nullptr);
    ASSERT_NE(std::getenv("QUILLON_TESSEL_LOG_DIR"), nullptr);
    EXPECT_EQ(std::string(std::getenv("QUILLON_TESSEL_LOG_DIR")), dir.path().string());
}

TEST(MoveIntoPlace, DoesNotReplaceWithoutOverwrite) {
    kit::TempDir dir("tessel cli.move");
    const auto from = dir.write("new.part", "new");
    const auto to = dir.write("name.txt", "old");
    EXPECT_FALSE(moveIntoPlace(from, to, false));
    EXPECT_EQ(kit::TempDir::read(to), "old");
    EXPECT_TRUE(moveIntoPlace(from, to, true));
    EXPECT_EQ(kit::TempDir::read(to), "new");
    const auto again = dir.write("again.part", "x");
    EXPECT_TRUE(moveIntoPlace(again, dir / "fresh.txt", false));
    EXPECT_EQ(kit::TempDir::read(dir / "fresh.txt"), "x");
}

} // namespace
} // namespace tessel::cli
