// End-to-end runs of the built tessel program on copies of the sample database and on databases
// the test kit builds. Every run gets its own folder (with a blank and dots in its name), no log
// variables, no password variable and its own temporary folder, so nothing outside leaks in.
#include "Run.h"

#include <tessel/kit/Bytes.h>
#include <tessel/kit/Dxl.h>
#include <tessel/kit/IdFile.h>
#include <tessel/kit/TempDir.h>

#include <expat.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace tessel::cli::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int kSampleSubfiles = 38;

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::vector<std::string> split(const std::string &line, char separator) {
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, separator))
        out.push_back(field);
    if (!line.empty() && line.back() == separator)
        out.emplace_back();
    return out;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// Every file below a folder, as paths relative to it, sorted.
std::vector<std::string> filesBelow(const fs::path &root) {
    std::vector<std::string> out;
    for (const auto &entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            out.push_back(fs::relative(entry.path(), root).generic_string());
    std::sort(out.begin(), out.end());
    return out;
}

// The attachments of a DXL file by name: the base64 text of their filedata, blanks removed.
std::map<std::string, std::string> attachmentsOf(const fs::path &dxl) {
    struct State {
        std::map<std::string, std::string> files;
        std::string current;
        bool inData = false;
    } state;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(
        parser,
        [](void *data, const XML_Char *name, const XML_Char **attributes) {
            auto &s = *static_cast<State *>(data);
            if (std::string(name) == "file")
                for (int i = 0; attributes[i] != nullptr; i += 2)
                    if (std::string(attributes[i]) == "name")
                        s.current = attributes[i + 1];
            if (std::string(name) == "filedata")
                s.inData = true;
        },
        [](void *data, const XML_Char *name) {
            if (std::string(name) == "filedata")
                static_cast<State *>(data)->inData = false;
        });
    XML_SetCharacterDataHandler(parser, [](void *data, const XML_Char *text, int length) {
        auto &s = *static_cast<State *>(data);
        if (!s.inData)
            return;
        for (int i = 0; i < length; i++)
            if (text[i] != '\n' && text[i] != '\r' && text[i] != ' ')
                s.files[s.current] += text[i];
    });
    const std::string content = kit::TempDir::read(dxl);
    EXPECT_EQ(XML_Parse(parser, content.data(), static_cast<int>(content.size()), 1), XML_STATUS_OK);
    XML_ParserFree(parser);
    return state.files;
}

std::string base64Of(const fs::path &file) {
    const std::string content = kit::TempDir::read(file);
    return kit::base64(std::span(reinterpret_cast<const std::uint8_t *>(content.data()), content.size()));
}

class Tessel : public ::testing::Test {
protected:
    // Databases live in work_ and are named relative to it: the reader derives subfile names from
    // the first dot of the path it is given, and the test's folder has dots in its name.
    void SetUp() override {
        dir_.copy(TESSEL_SAMPLE_PATH, "in put/mail.dxl");
        sample_ = "mail.dxl";
        fs::create_directories(dir_ / "tmp");
        fs::create_directories(dir_ / "out");
    }

    RunResult run(const std::vector<std::string> &args, RunOptions options = {}) {
        if (options.workingDir.empty())
            options.workingDir = work_;
        for (const char *name : {"QUILLON_TESSEL_LOG_LEVEL", "QUILLON_TESSEL_LOG_FILE", "QUILLON_TESSEL_LOG_DIR",
                                 "TESSEL_CLI_PASSWORD", "NOTES_INI", "NOTESEMU_LOG"})
            options.env.try_emplace(name, std::nullopt);
        options.env.try_emplace("TMPDIR", (dir_ / "tmp").string());
        options.env.try_emplace("TZ", "UTC");
        options.env.try_emplace("LC_ALL", "C");
        return runTessel(args, options);
    }

    // A database written by the kit into the test's folder.
    fs::path writeDatabase(const std::string &name, const kit::Database &database,
                           const std::vector<std::pair<std::string, std::string>> &edits = {}) {
        std::string dxl = database.toDxl();
        for (const auto &[from, to] : edits) {
            const size_t at = dxl.find(from);
            EXPECT_NE(at, std::string::npos) << from;
            if (at != std::string::npos)
                dxl.replace(at, from.size(), to);
        }
        dir_.write(fs::path("in put") / name, dxl);
        return name;
    }

    static kit::FileAttachment file(std::string name, std::string content) {
        kit::FileAttachment attachment;
        attachment.name = std::move(name);
        attachment.data = kit::toBytes(content);
        return attachment;
    }

    static kit::Note memo(const std::string &subject, const std::vector<kit::FileAttachment> &files) {
        kit::Note note = kit::Note::document("Memo");
        note.add(kit::Item::text("From", "CN=Test User/O=Acme"));
        note.add(kit::Item::text("Subject", subject));
        note.add(kit::Item::richText("Body", kit::RichText{}.par(1, "Body of " + subject)));
        for (const auto &attachment : files)
            note.add(kit::Item::file(attachment));
        return note;
    }

    // Names that try to leave the output folder, break lines or name devices, and duplicates.
    fs::path hostileDatabase() {
        kit::Database database;
        database.add(memo("one", {file("../../escape.txt", "dots"), file("/etc/abs.txt", "absolute"),
                                  file("C:\\Windows\\drive.txt", "drive"), file("CON", "device"),
                                  file("nul.txt", "device2"), file("tab\there.txt", "tab"),
                                  file("line\nbreak.txt", "newline"), file("same.txt", "first"),
                                  file("same.txt", "second"), file("SAME.txt", "third"), file("..", "dotdot")}));
        database.add(memo("two", {file("same.txt", "other note")}));
        return writeDatabase("hostile.dxl", database);
    }

    kit::TempDir dir_{"tessel cli.e2e"};
    fs::path work_ = dir_ / "in put";
    fs::path sample_;
};

// ---- list --------------------------------------------------------------------------------------

TEST_F(Tessel, ListPrintsTabSeparatedLinesAndTheCount) {
    const RunResult result = run({"list", sample_.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto output = lines(result.out);
    ASSERT_EQ(output.size(), kSampleSubfiles + 1u);
    EXPECT_EQ(output.front(), "0\tmain\t-1\tmail_ql0.mail\t2024-03-01T01:04:15Z");
    EXPECT_EQ(output[2], "2\tattachment\t0\treadme.txt\t2024-02-29T23:10:22Z");
    EXPECT_EQ(output[6], "6\tmain\t-1\tmail_ql6.mail\t-");
    EXPECT_EQ(output.back(), std::to_string(kSampleSubfiles) + " subfiles");
    for (size_t i = 0; i + 1 < output.size(); i++)
        EXPECT_EQ(split(output[i], '\t').size(), 5u) << output[i];
    EXPECT_EQ(result.err, "");
}

TEST_F(Tessel, ListJsonFollowsTheContract) {
    const RunResult result = run({"list", "--json", sample_.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json document = json::parse(result.out);
    ASSERT_TRUE(document.is_object());
    EXPECT_EQ(document.size(), 2u);
    EXPECT_EQ(document.at("database"), sample_.string());
    const json &subfiles = document.at("subfiles");
    ASSERT_EQ(subfiles.size(), static_cast<size_t>(kSampleSubfiles));
    const std::regex isoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    const std::set<std::string> kinds{"main", "attachment", "ole", "folder"};
    const std::set<std::string> keys{"index", "kind", "name", "parent", "children", "time"};
    for (size_t i = 0; i < subfiles.size(); i++) {
        const json &subfile = subfiles[i];
        std::set<std::string> present;
        for (const auto &item : subfile.items())
            present.insert(item.key());
        EXPECT_EQ(present, keys);
        EXPECT_EQ(subfile.at("index"), static_cast<int>(i));
        EXPECT_TRUE(kinds.contains(subfile.at("kind").get<std::string>()));
        EXPECT_TRUE(subfile.at("name").is_string() || subfile.at("name").is_null());
        EXPECT_TRUE(subfile.at("time").is_null() ||
                    std::regex_match(subfile.at("time").get<std::string>(), isoTime));
        for (const json &child : subfile.at("children"))
            EXPECT_EQ(subfiles.at(child.get<size_t>()).at("parent"), static_cast<int>(i));
        const int parent = subfile.at("parent");
        if (parent >= 0) {
            const json &siblings = subfiles.at(static_cast<size_t>(parent)).at("children");
            EXPECT_NE(std::find(siblings.begin(), siblings.end(), static_cast<int>(i)), siblings.end());
        }
    }
    EXPECT_EQ(subfiles[0].at("children"), json::array({1, 2}));
    EXPECT_EQ(subfiles[0].at("time"), "2024-03-01T01:04:15Z");
    EXPECT_TRUE(subfiles[6].at("time").is_null());
}

TEST_F(Tessel, ListDoesNotDependOnTheTimeZone) {
    const RunResult utc = run({"list", sample_.string()});
    RunOptions options;
    options.env["TZ"] = "Asia/Kolkata";
    const RunResult kolkata = run({"list", sample_.string()}, options);
    ASSERT_EQ(utc.exitCode, 0);
    EXPECT_EQ(utc.out, kolkata.out);
}

TEST_F(Tessel, ListWithRootStartsWithTheFolderEntry) {
    const RunResult result = run({"list", "--root", "--json", sample_.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json subfiles = json::parse(result.out).at("subfiles");
    EXPECT_EQ(subfiles[0].at("kind"), "folder");
    EXPECT_TRUE(subfiles[0].at("name").is_null());
    EXPECT_EQ(subfiles[1].at("parent"), 0);
}

TEST_F(Tessel, ListEscapesControlCharactersInNames) {
    const RunResult result = run({"list", hostileDatabase().string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto output = lines(result.out);
    for (size_t i = 0; i + 1 < output.size(); i++)
        EXPECT_EQ(split(output[i], '\t').size(), 5u) << output[i];
    EXPECT_NE(result.out.find("\ttab\\there.txt\t"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\tline\\nbreak.txt\t"), std::string::npos) << result.out;
}

// ---- meta --------------------------------------------------------------------------------------

TEST_F(Tessel, MetaPrintsTheMailFields) {
    const RunResult result = run({"meta", sample_.string(), "0"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto output = lines(result.out);
    ASSERT_GE(output.size(), 6u);
    EXPECT_EQ(output[0], "From = CN=Alice Smith/O=Acme");
    EXPECT_TRUE(output[1].starts_with("Sent = "));
    EXPECT_EQ(output[4], "Bcc =");
    EXPECT_EQ(output[5], "Subject = Welcome to the project & <everything> in it");
}

TEST_F(Tessel, MetaPrintsNamedFieldsAndReservedValues) {
    const RunResult result = run({"meta", sample_.string(), "0", "Subject", "$$$QL_NoteID", "$$$QL_Folders"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto output = lines(result.out);
    ASSERT_EQ(output.size(), 3u);
    EXPECT_EQ(output[0], "Subject = Welcome to the project & <everything> in it");
    EXPECT_TRUE(std::regex_match(output[1], std::regex(R"(\$\$\$QL_NoteID = [0-9A-F]{8})"))) << output[1];
    EXPECT_EQ(output[2], "$$$QL_Folders = Projects, Archive, Travel");
}

TEST_F(Tessel, MetaAllListsEveryItem) {
    const RunResult all = run({"meta", "--all", sample_.string(), "0"});
    const RunResult mail = run({"meta", sample_.string(), "0"});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    EXPECT_GT(lines(all.out).size(), lines(mail.out).size());
    EXPECT_NE(("\n" + all.out).find("\nSubject = Welcome"), std::string::npos);
    EXPECT_NE(("\n" + all.out).find("\nForm = Memo\n"), std::string::npos) << all.out;
}

TEST_F(Tessel, MetaJsonFollowsTheContract) {
    const RunResult result = run({"meta", "--json", sample_.string(), "0"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json document = json::parse(result.out);
    EXPECT_EQ(document.size(), 2u);
    EXPECT_EQ(document.at("index"), 0);
    const json &elements = document.at("elements");
    ASSERT_GE(elements.size(), 6u);
    for (const json &element : elements) {
        EXPECT_EQ(element.size(), 3u);
        EXPECT_TRUE(element.at("valid").is_boolean());
        EXPECT_EQ(element.at("value").is_null(), !element.at("valid").get<bool>());
    }
    EXPECT_EQ(elements[0], json({{"name", "From"}, {"valid", true}, {"value", "CN=Alice Smith/O=Acme"}}));
    EXPECT_EQ(elements[4], json({{"name", "Bcc"}, {"valid", false}, {"value", nullptr}}));
}

TEST_F(Tessel, MetaOfAMissingIndexFailsWithTheStatus) {
    const RunResult result = run({"meta", sample_.string(), "9999"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("BAD_ARGUMENT (34)"), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
}

// ---- open failures, usage errors, the log --------------------------------------------------------

TEST_F(Tessel, OpenFailuresSayWhichTheyAre) {
    const fs::path notDatabase = dir_.write("plain.dxl", "just some text\n");
    const std::string sample = kit::TempDir::read(work_ / sample_);
    const fs::path damaged = dir_.write("damaged.dxl", sample.substr(0, sample.size() / 2));
    struct Case {
        std::string path;
        std::string expected;
    };
    for (const Case &c : {Case{(dir_ / "absent.dxl").string(), "missing"},
                          Case{(dir_ / "out").string(), "not a regular file"},
                          Case{notDatabase.string(), "not a database"}, Case{damaged.string(), "damaged"}}) {
        for (const char *command : {"list", "extract"}) {
            std::vector<std::string> args{command, c.path};
            if (std::string(command) == "extract")
                args.insert(args.end(), {"-o", (dir_ / "out").string()});
            const RunResult result = run(args);
            EXPECT_EQ(result.exitCode, 3) << command << " " << c.path;
            EXPECT_NE(result.err.find("cannot open " + c.path + ": " + c.expected), std::string::npos)
                << result.err;
        }
    }
    // The reader's own failures carry its status by name and number.
    EXPECT_NE(run({"list", damaged.string()}).err.find("ACCESS_FAILED (4)"), std::string::npos);
}

TEST_F(Tessel, AFifoIsRefusedWithoutBeingRead) {
    const fs::path fifo = dir_ / "pipe.dxl";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const RunResult result = run({"list", fifo.string()});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_NE(result.err.find("not a regular file"), std::string::npos) << result.err;
}

TEST_F(Tessel, UsageErrorsExitWithTwo) {
    const std::string out = (dir_ / "out").string();
    const std::vector<std::vector<std::string>> cases{
        {"list", "--no-such-option", sample_.string()},
        {"list"},
        {"frobnicate", sample_.string()},
        {"cat", sample_.string(), "0", "--format", "pdf"},
        {"list", "--log-level", "chatty", sample_.string()},
        {"list", "--set", "nodot", sample_.string()},
        {"list", "--log-dir", (dir_ / "no-logs").string(), sample_.string()},
        {"list", "--log-file", (dir_ / "no-logs" / "x.log").string(), sample_.string()},
        {"list", "--temp-dir", (dir_ / "no-temp").string(), sample_.string()},
        {"list", "--templates", (dir_ / "no-templates").string(), sample_.string()},
        {"list", "--id", (dir_ / "no.id").string(), sample_.string()},
        {"extract", sample_.string(), "-o", (dir_ / "no-out").string()},
        {"extract", sample_.string(), sample_.string(), "--index", "1", "-o", out},
        {"extract", sample_.string(), "-o", out, "--jobs", "0"},
    };
    for (const auto &args : cases) {
        const RunResult result = run(args);
        EXPECT_EQ(result.exitCode, 2) << args[0] << " " << args.back() << "\n" << result.err;
        EXPECT_FALSE(result.err.empty());
    }
    const RunResult missingLogs = run({"list", "--log-dir", (dir_ / "no-logs").string(), sample_.string()});
    EXPECT_NE(missingLogs.err.find("does not exist"), std::string::npos) << missingLogs.err;
    EXPECT_FALSE(fs::exists(dir_ / "no-logs"));
    const RunResult missingOut = run({"extract", sample_.string(), "-o", (dir_ / "no-out").string()});
    EXPECT_NE(missingOut.err.find("the output folder"), std::string::npos) << missingOut.err;
}

TEST_F(Tessel, HelpAndVersion) {
    const RunResult help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char *command : {"list", "meta", "cat", "extract"})
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
    for (const char *command : {"list", "meta", "cat", "extract"}) {
        const RunResult commandHelp = run({command, "--help"});
        EXPECT_EQ(commandHelp.exitCode, 0) << command;
        EXPECT_NE(commandHelp.out.find("--log-level"), std::string::npos) << command;
    }
    EXPECT_NE(run({"extract", "--help"}).out.find("--overwrite"), std::string::npos);
    const RunResult version = run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(std::regex_search(version.out, std::regex(R"(tessel \d+\.\d+\.\d+)"))) << version.out;
}

TEST_F(Tessel, TheLogIsOffUnlessAskedFor) {
    ASSERT_EQ(run({"list", sample_.string()}).exitCode, 0);
    ASSERT_EQ(run({"list", (dir_ / "absent.dxl").string()}).exitCode, 3);
    ASSERT_EQ(run({"list", dir_.write("plain.dxl", "text").string()}).exitCode, 3);
    // The reader's lock file may stay; no log and no folder of the program's may.
    for (const fs::path &folder : {dir_ / "tmp", work_})
        for (const auto &entry : fs::recursive_directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            EXPECT_FALSE(name.starts_with("tessel") || name.ends_with(".log")) << entry.path();
        }
}

TEST_F(Tessel, ALogAskedForIsWrittenWhereAsked) {
    fs::create_directories(dir_ / "logs");
    const RunResult result = run({"open", "--log-dir", (dir_ / "logs").string(), sample_.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto files = filesBelow(dir_ / "logs");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(result.out.find("log: " + (dir_ / "logs" / files[0]).string()), std::string::npos) << result.out;
    EXPECT_NE(kit::TempDir::read(dir_ / "logs" / files[0]).find("INFO nsfInit()"), std::string::npos);

    const fs::path file = dir_ / "logs" / "chosen.log";
    ASSERT_EQ(run({"list", "--log-file", file.string(), "--log-level", "error", sample_.string()}).exitCode, 0);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(kit::TempDir::read(file).find("INFO"), std::string::npos);
}

// ---- passwords ------------------------------------------------------------------------------------

TEST_F(Tessel, PasswordsNeverAppearInOutputOrLogs) {
    const std::string password = "Tr1cky-Pa55word";
    const fs::path id = dir_ / "alice.id";
    kit::writeIdFile(id, "CN=Alice Smith/O=Acme", password, kit::randomSalt());
    const fs::path passwordFile = dir_.write("password.txt", password + "\n");
    fs::create_directories(dir_ / "logs");
    const std::string logs = (dir_ / "logs").string();

    std::vector<RunResult> results;
    RunOptions withEmuLog;
    withEmuLog.env["NOTESEMU_LOG"] = (dir_ / "logs" / "emu.log").string();
    results.push_back(run({"list", "--log-level", "ALL", "--log-dir", logs, "--id", id.string(), "--password",
                           password, sample_.string()},
                          withEmuLog));
    results.push_back(run({"meta", "--log-level", "ALL", "--log-dir", logs, "--id", id.string(),
                           "--password-file", passwordFile.string(), sample_.string(), "0"},
                          withEmuLog));
    RunOptions withVariable = withEmuLog;
    withVariable.env["TESSEL_CLI_PASSWORD"] = password;
    results.push_back(
        run({"list", "--log-level", "ALL", "--log-dir", logs, "--id", id.string(), sample_.string()}, withVariable));
    // A wrong password is refused, and neither password is shown.
    results.push_back(run({"list", "--log-level", "ALL", "--log-dir", logs, "--id", id.string(), "--password",
                           "not-" + password, sample_.string()},
                          withEmuLog));

    for (size_t i = 0; i < 3; i++)
        EXPECT_EQ(results[i].exitCode, 0) << i << ": " << results[i].err;
    EXPECT_EQ(results[3].exitCode, 3);
    EXPECT_NE(results[3].err.find("refused to this user"), std::string::npos) << results[3].err;
    for (const RunResult &result : results) {
        EXPECT_EQ(result.out.find(password), std::string::npos);
        EXPECT_EQ(result.err.find(password), std::string::npos) << result.err;
    }
    const auto logFiles = filesBelow(dir_ / "logs");
    EXPECT_GE(logFiles.size(), 2u);
    for (const std::string &file : logFiles)
        EXPECT_EQ(kit::TempDir::read(dir_ / "logs" / file).find(password), std::string::npos) << file;
}

// ---- cat -------------------------------------------------------------------------------------------

TEST_F(Tessel, CatWritesAnAttachmentsBytes) {
    const RunResult result = run({"cat", sample_.string(), "2"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string bytes = result.out;
    EXPECT_EQ(kit::base64(std::span(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size())),
              attachmentsOf(work_ / sample_).at("readme.txt"));
}

TEST_F(Tessel, CatWritesEachFormat) {
    struct Case {
        std::vector<std::string> options;
        std::string marker;
    };
    // Templates are left out: this test is about the formats, not the template folder.
    for (const Case &c : {Case{{"--format", "mht"}, "------=_NextPart_000_0004_01CB58DD.164505B0"},
                          Case{{"--format", "text"}, "Welcome to the project"},
                          Case{{"--format", "text", "--no-header"}, ""},
                          Case{{"--format", "fields"}, "Subject"},
                          Case{{"--format", "dxl"}, "<document"}}) {
        std::vector<std::string> args{"cat", "--no-templates", sample_.string(), "0"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult result = run(args);
        EXPECT_EQ(result.exitCode, 0) << c.options[1] << ": " << result.err;
        EXPECT_FALSE(result.out.empty()) << c.options[1];
        EXPECT_NE(result.out.find(c.marker), std::string::npos) << c.options[1];
    }
}

TEST_F(Tessel, CatOfABadIndexFails) {
    const RunResult result = run({"cat", sample_.string(), "500"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("(34)"), std::string::npos) << result.err;
}

// ---- extract ---------------------------------------------------------------------------------------

TEST_F(Tessel, ExtractWritesEverySubfileOfTheSample) {
    // Templates come in a separate folder; --no-templates keeps this test about the files.
    const fs::path out = dir_ / "out";
    const RunResult result = run({"extract", "--no-templates", sample_.string(), "-o", out.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "38 subfiles, 38 written, 0 failed\n");

    const RunResult listing = run({"list", "--json", sample_.string()});
    const json subfiles = json::parse(listing.out).at("subfiles");
    std::vector<std::string> expected;
    for (const json &subfile : subfiles) {
        const std::string name = subfile.at("name");
        if (subfile.at("kind") == "main") {
            expected.push_back(name.substr(0, name.rfind('.')) + ".mht");
        } else {
            const std::string note = subfiles.at(subfile.at("parent").get<size_t>()).at("name");
            expected.push_back(note.substr(0, note.rfind('.')) + "/" + name);
        }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(filesBelow(out), expected);

    for (const auto &[name, data] : attachmentsOf(work_ / sample_)) {
        const auto it = std::find_if(expected.begin(), expected.end(),
                                     [&](const std::string &path) { return path.ends_with("/" + name); });
        ASSERT_NE(it, expected.end()) << name;
        EXPECT_EQ(base64Of(out / *it), data) << name;
    }
    EXPECT_NE(kit::TempDir::read(out / "mail_ql0.mht").find("------=_NextPart_000_0004_01CB58DD.164505B0"),
              std::string::npos);
}

TEST_F(Tessel, ExtractJsonPrintsARecordPerSubfileAndTheSummary) {
    const RunResult result =
        run({"extract", "--no-templates", "--json", sample_.string(), "-o", (dir_ / "out").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto output = lines(result.out);
    ASSERT_EQ(output.size(), kSampleSubfiles + 1u);
    const std::set<std::string> keys{"index", "kind", "name", "path", "bytes", "status", "error"};
    for (int i = 0; i < kSampleSubfiles; i++) {
        const json record = json::parse(output[static_cast<size_t>(i)]);
        std::set<std::string> present;
        for (const auto &item : record.items())
            present.insert(item.key());
        EXPECT_EQ(present, keys);
        EXPECT_EQ(record.at("index"), i);
        EXPECT_EQ(record.at("status"), 0);
        EXPECT_TRUE(record.at("error").is_null());
        ASSERT_TRUE(record.at("path").is_string());
        EXPECT_EQ(fs::file_size(record.at("path").get<std::string>()), record.at("bytes").get<uint64_t>());
    }
    EXPECT_EQ(json::parse(output.back()), json::parse(R"({"summary":{"subfiles":38,"written":38,"failed":0}})"));
}

TEST_F(Tessel, ExtractChosenIndexesOnly) {
    const fs::path out = dir_ / "out";
    const RunResult result =
        run({"extract", "--no-templates", sample_.string(), "-o", out.string(), "--index", "2", "--index", "3"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(filesBelow(out), (std::vector<std::string>{"mail_ql0/readme.txt", "mail_ql3.mht"}));
    EXPECT_EQ(result.out, "2 subfiles, 2 written, 0 failed\n");

    const RunResult missing = run({"extract", sample_.string(), "-o", out.string(), "--index", "99"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("no subfile with index 99"), std::string::npos) << missing.err;
}

TEST_F(Tessel, ExtractKeepsExistingFilesUnlessOverwrite) {
    const fs::path out = dir_ / "out";
    const std::vector<std::string> args{"extract", "--no-templates", sample_.string(), "-o", out.string(),
                                        "--index", "2"};
    ASSERT_EQ(run(args).exitCode, 0);
    const fs::path readme = out / "mail_ql0" / "readme.txt";
    { std::ofstream(readme, std::ios::binary) << "changed by the user"; }

    const RunResult again = run(args);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.out, "1 subfiles, 0 written, 1 failed\n");
    EXPECT_NE(again.err.find("exists"), std::string::npos) << again.err;
    EXPECT_NE(again.err.find("--overwrite"), std::string::npos) << again.err;
    EXPECT_EQ(kit::TempDir::read(readme), "changed by the user");

    std::vector<std::string> overwrite = args;
    overwrite.push_back("--overwrite");
    const RunResult replaced = run(overwrite);
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_EQ(base64Of(readme), attachmentsOf(work_ / sample_).at("readme.txt"));
    EXPECT_EQ(filesBelow(out), (std::vector<std::string>{"mail_ql0/readme.txt"}));
}

TEST_F(Tessel, ExtractKeepsHostileNamesInsideTheOutputFolder) {
    const fs::path database = hostileDatabase();
    fs::create_directories(dir_ / "nest" / "deeper" / "out");
    const fs::path out = dir_ / "nest" / "deeper" / "out";
    const RunResult result = run({"extract", "--no-templates", database.string(), "-o", out.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(filesBelow(dir_ / "nest"),
              sorted({
                  "deeper/out/hostile_ql0.mht", "deeper/out/hostile_ql0/SAME (3).txt", "deeper/out/hostile_ql0/_CON",
                  "deeper/out/hostile_ql0/_nul.txt", "deeper/out/hostile_ql0/Windows_drive.txt",
                  "deeper/out/hostile_ql0/escape.txt", "deeper/out/hostile_ql0/etc_abs.txt",
                  "deeper/out/hostile_ql0/line_break.txt", "deeper/out/hostile_ql0/same (2).txt",
                  "deeper/out/hostile_ql0/same.txt", "deeper/out/hostile_ql0/subfile_11",
                  "deeper/out/hostile_ql0/tab_here.txt", "deeper/out/hostile_ql12.mht",
                  "deeper/out/hostile_ql12/same.txt"}));
    EXPECT_EQ(kit::TempDir::read(out / "hostile_ql0" / "same.txt"), "first");
    EXPECT_EQ(kit::TempDir::read(out / "hostile_ql0" / "same (2).txt"), "second");
    EXPECT_EQ(kit::TempDir::read(out / "hostile_ql0" / "SAME (3).txt"), "third");
    EXPECT_EQ(kit::TempDir::read(out / "hostile_ql0" / "escape.txt"), "dots");
    EXPECT_FALSE(fs::exists(dir_ / "escape.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "nest" / "escape.txt"));
}

TEST_F(Tessel, AFailingSubfileIsCountedAndTheRestWritten) {
    kit::Database database;
    database.add(memo("fine", {file("good.txt", "good bytes"), file("broken.bin", "0123456789")}));
    database.add(memo("after", {file("later.txt", "later")}));
    // The broken attachment's file object claims more bytes than its object holds.
    const fs::path path = writeDatabase("failing.dxl", database, {{"name='broken.bin' size='10'", "name='broken.bin' size='20'"}});
    const fs::path out = dir_ / "out";

    const RunResult result = run({"extract", "--no-templates", "--json", path.string(), "-o", out.string()});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const auto output = lines(result.out);
    ASSERT_EQ(output.size(), 6u) << result.out;
    const json broken = json::parse(output[2]);
    EXPECT_EQ(broken.at("name"), "broken.bin");
    EXPECT_NE(broken.at("status"), 0);
    EXPECT_TRUE(broken.at("error").is_string());
    EXPECT_EQ(json::parse(output.back()), json::parse(R"({"summary":{"subfiles":5,"written":4,"failed":1}})"));
    EXPECT_EQ(kit::TempDir::read(out / "failing_ql0" / "good.txt"), "good bytes");
    EXPECT_EQ(kit::TempDir::read(out / "failing_ql3" / "later.txt"), "later");
    EXPECT_FALSE(fs::exists(out / "failing_ql0" / "broken.bin"));
    // One line on standard error names the subfile and the reader status.
    EXPECT_TRUE(std::regex_search(result.err, std::regex(R"(subfile 2 \(broken\.bin\): [A-Z_]+ \(\d+\))")))
        << result.err;

    const RunResult text = run({"extract", "--no-templates", path.string(), "-o", out.string(), "--overwrite"});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_EQ(text.out, "5 subfiles, 4 written, 1 failed\n");
}

TEST_F(Tessel, SeveralDatabasesRunInWorkers) {
    dir_.copy(work_ / sample_, "in put/other/mail.dxl");
    const fs::path second = "other/mail.dxl";
    const fs::path broken = dir_.write("broken.dxl", "not a database");
    const fs::path out = dir_ / "out";
    const RunResult result = run({"extract", "--no-templates", "--jobs", "2", sample_.string(), broken.string(),
                                  second.string(), "-o", out.string()});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.out, "3 databases (1 could not be opened), 76 subfiles, 76 written, 0 failed\n");
    EXPECT_NE(result.err.find("cannot open " + broken.string() + ": not a database"), std::string::npos)
        << result.err;
    EXPECT_EQ(filesBelow(out / "mail"), filesBelow(out / "mail (2)"));
    EXPECT_EQ(filesBelow(out / "mail").size(), static_cast<size_t>(kSampleSubfiles));
    EXPECT_TRUE(fs::is_empty(out / "broken"));

    const RunResult none = run({"extract", "--jobs", "2", broken.string(), (dir_ / "absent.dxl").string(), "-o",
                                out.string(), "--json"});
    EXPECT_EQ(none.exitCode, 3) << none.err;
    EXPECT_EQ(json::parse(lines(none.out).back()).at("summary").at("databases_failed"), 2);
}

TEST_F(Tessel, ProgressShowsOnlyOnATerminal) {
    RunOptions terminal;
    terminal.stderrTerminal = true;
    const std::vector<std::string> base{"extract", "--no-templates", sample_.string(), "--index", "2"};
    const auto runInto = [&](const std::string &folder, std::vector<std::string> extra, const RunOptions &options) {
        fs::create_directories(dir_ / folder);
        std::vector<std::string> args = base;
        args.insert(args.end(), {"-o", (dir_ / folder).string()});
        args.insert(args.end(), extra.begin(), extra.end());
        return run(args, options);
    };
    const RunResult shown = runInto("a", {}, terminal);
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_NE(shown.err.find("1/1 subfiles"), std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find("/s"), std::string::npos);

    EXPECT_EQ(runInto("b", {}, {}).err, "");
    EXPECT_EQ(runInto("c", {"--quiet"}, terminal).err.find("subfiles"), std::string::npos);
    EXPECT_EQ(runInto("d", {"--json"}, terminal).err.find("subfiles"), std::string::npos);
}

} // namespace
} // namespace tessel::cli::test
