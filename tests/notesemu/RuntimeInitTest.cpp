// NotesInitExtended, NotesTerm and the environment functions through the C API.
#include "Log.h"
#include "TestSupport.h"

#include <notes/notes.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace notesemu {
namespace {

using test::ScopedEnv;
using test::TempDir;

std::optional<std::string> envString(const char *name, WORD bufferLength = MAXENVVALUE) {
    std::vector<char> buffer(bufferLength + 1u, '\x7F');
    if (!OSGetEnvironmentString(name, buffer.data(), bufferLength))
        return std::nullopt;
    return std::string(buffer.data());
}

// Every test starts with the runtime terminated, PATH pointing at an empty directory and no
// NOTES_INI, and must leave it terminated.
class RuntimeInit : public ::testing::Test {
protected:
    void TearDown() override {
        DHANDLE handle = NULLHANDLE;
        EXPECT_EQ(OSMemAlloc(0, 1, &handle), ERR_NOTES_NOT_INITIALIZED)
            << "the test left the runtime initialised";
    }

    TempDir dir_;
    ScopedEnv path_{"PATH", dir_.path().string()};
    ScopedEnv notesIni_{"NOTES_INI", std::nullopt};
};

TEST_F(RuntimeInit, InitIsCountedAndTheLastTermEndsIt) {
    ScopedEnv ini("NOTES_INI", dir_.write("n.ini", "Probe=1\n").string());
    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    NotesTerm();
    EXPECT_EQ(envString("Probe"), "1");
    NotesTerm();
    EXPECT_EQ(envString("Probe"), std::nullopt);
}

TEST_F(RuntimeInit, NotesIniNamingAMissingFileFailsWith01A5AndLeavesTheRuntimeDown) {
    ScopedEnv ini("NOTES_INI", (dir_.path() / "absent.ini").string());
    LogCapture capture;
    EXPECT_EQ(NotesInitExtended(0, nullptr), 0x01A5);
    DHANDLE handle = 1;
    EXPECT_EQ(OSMemAlloc(0, 16, &handle), ERR_NOTES_NOT_INITIALIZED);
    EXPECT_EQ(handle, NULLHANDLE);
    EXPECT_TRUE(capture.contains("absent.ini"));
}

TEST_F(RuntimeInit, NotesIniOnPathIsRead) {
    dir_.write("notes.ini", "[Notes]\nProbeFromPath=yes\n");
    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    EXPECT_EQ(envString("ProbeFromPath"), "yes");
    NotesTerm();
}

TEST_F(RuntimeInit, NoNotesIniAnywhereGivesAnEmptyEnvironment) {
    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    EXPECT_EQ(envString("KeyFileName"), std::nullopt);
    EXPECT_EQ(envString("Directory"), std::nullopt);
    NotesTerm();
}

TEST_F(RuntimeInit, EqualsArgumentSelectsTheIniFile) {
    const std::string arg = "=" + dir_.write("arg.ini", "FromArg=1\n").string();
    std::string program = "prog";
    char *argv[] = {program.data(), const_cast<char *>(arg.c_str())};
    ASSERT_EQ(NotesInitExtended(2, argv), NOERROR);
    EXPECT_EQ(envString("FromArg"), "1");
    NotesTerm();

    std::string missing = "=" + (dir_.path() / "nope.ini").string();
    char *argvMissing[] = {program.data(), missing.data()};
    EXPECT_EQ(NotesInitExtended(2, argvMissing), ERR_NO_NOTESINI);
}

TEST_F(RuntimeInit, EnvironmentLookupIgnoresCaseTruncatesAndReportsAbsence) {
    ScopedEnv ini("NOTES_INI", dir_.write("n.ini", "KeyFileName=/ids/user.id\n").string());
    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    EXPECT_EQ(envString("KEYFILENAME"), "/ids/user.id");
    EXPECT_EQ(envString("keyfilename", 4), "/ids");
    EXPECT_EQ(envString("keyfilename", 0), "");
    EXPECT_EQ(envString("KeyFileName2"), std::nullopt);

    // BufferLength is the buffer size minus one: nothing is written past BufferLength + 1 bytes.
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_TRUE(OSGetEnvironmentString("KeyFileName", buffer, 5));
    EXPECT_STREQ(buffer, "/ids/");
    EXPECT_EQ(buffer[6], 'x');

    EXPECT_FALSE(OSGetEnvironmentString(nullptr, buffer, 5));
    EXPECT_FALSE(OSGetEnvironmentString("KeyFileName", nullptr, 5));
    NotesTerm();
}

TEST_F(RuntimeInit, SetEnvironmentVariableChangesTheInMemoryEnvironmentOnly) {
    const auto iniPath = dir_.write("n.ini", "Name=fromfile\n");
    ScopedEnv ini("NOTES_INI", iniPath.string());
    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    OSSetEnvironmentVariable("NAME", "changed");
    OSSetEnvironmentVariable("Added", "new");
    EXPECT_EQ(envString("name"), "changed");
    EXPECT_EQ(envString("ADDED"), "new");
    OSSetEnvironmentVariable("Added", nullptr);
    EXPECT_EQ(envString("Added"), std::nullopt);
    NotesTerm();

    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    EXPECT_EQ(envString("Name"), "fromfile");
    NotesTerm();
}

TEST_F(RuntimeInit, CallsOutsideAnInitialisedRuntimeAreRefusedAndLogged) {
    LogCapture capture;
    EXPECT_EQ(envString("Probe"), std::nullopt);
    OSSetEnvironmentVariable("Probe", "1");
    NotesTerm();
    EXPECT_TRUE(capture.contains("OSSetEnvironmentVariable(Probe) ignored"));
    EXPECT_TRUE(capture.contains("NotesTerm called without a matching NotesInitExtended"));
    // The stray NotesTerm must not have made the count negative.
    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    NotesTerm();
}

TEST_F(RuntimeInit, LastTermFreesHandlesLeftAllocated) {
    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    DHANDLE handle = NULLHANDLE;
    ASSERT_EQ(OSMemAlloc(0, 32, &handle), NOERROR);
    LogCapture capture;
    NotesTerm();
    EXPECT_TRUE(capture.contains("freed 1 handle"));
    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    EXPECT_EQ(OSLockObject(handle), nullptr);
    NotesTerm();
}

TEST_F(RuntimeInit, ConcurrentInitAndTermKeepTheCountConsistent) {
    ScopedEnv ini("NOTES_INI", dir_.write("n.ini", "Probe=1\n").string());
    ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    std::atomic<int> failures = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < 200; ++i) {
                if (NotesInitExtended(0, nullptr) != NOERROR || !envString("Probe"))
                    ++failures;
                NotesTerm();
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(envString("Probe"), "1");
    NotesTerm();
}

} // namespace
} // namespace notesemu
