#include "Commands.h"

#include "Extraction.h"
#include "Json.h"
#include "Messages.h"
#include "OutputObject.h"
#include "Platform.h"
#include "ReaderCalls.h"
#include "Reporter.h"
#include "SafeName.h"
#include "Session.h"
#include "TextOutput.h"
#include "Workers.h"

#include <quillon/host/Catalogue.h>

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <thread>

namespace tessel::cli {
namespace fs = std::filesystem;
namespace {

// Checks the options that do not depend on a database, so that a usage error stops a run of
// several databases before any starts.
bool validate(const CommonOptions &options, std::string &error) {
    quillon::Config config;
    std::vector<quillon::Credential> credentials;
    std::vector<std::string> warnings;
    return buildConfig(options, true, config, error) && checkFolders(options, error) &&
           buildCredentials(options, credentials, warnings, error) && planLog(options.log, error).has_value();
}

// Opens a database for a command, reporting a failure; null then, with exit set.
std::unique_ptr<Session> openFor(const std::string &database, const CommonOptions &options, bool withTemplates,
                                 ExitCode &exit) {
    std::string error;
    if (!validate(options, error)) {
        reportError(error);
        exit = ExitCode::Usage;
        return nullptr;
    }
    Session::Failure failure;
    auto session = Session::open(pathFromUtf8(database), options, withTemplates, failure);
    if (!session) {
        reportError(failure.message);
        exit = failure.exit;
    }
    return session;
}

void readerFailed(Session &session, const std::string &what, int status) {
    std::string reason = session.lastReaderError();
    reportError(utf8FromPath(session.database()) + ": " + what + ": " + statusText(status) +
                (reason.empty() ? "" : ": " + escapeText(reason)));
}

} // namespace

ExitCode runOpen(const OpenCommand &command) {
    ExitCode exit = ExitCode::Ok;
    auto session = openFor(command.database, command.options, true, exit);
    if (!session)
        return exit;
    std::cout << "open " << command.database << ": " << statusText(QLSTATUS_OK) << '\n';
    if (auto file = session->log().userFile())
        std::cout << "log: " << file->string() << '\n';
    return ExitCode::Ok;
}

ExitCode runList(const ListCommand &command) {
    ExitCode exit = ExitCode::Ok;
    auto session = openFor(command.database, command.options, false, exit);
    if (!session)
        return exit;
    quillon::Catalogue catalogue(session->container());
    const auto count = catalogue.count();
    if (!count.ok()) {
        readerFailed(*session, "counting the subfiles", count.status);
        return ExitCode::SomeFailed;
    }
    std::vector<quillon::SubFile> subFiles;
    for (int32_t i = 0; i < count.value; i++) {
        auto subFile = catalogue.subFile(i);
        if (subFile.ok()) {
            subFiles.push_back(std::move(subFile.value));
        } else {
            readerFailed(*session, "subfile " + std::to_string(i), subFile.status);
            exit = ExitCode::SomeFailed;
        }
    }
    if (command.json) {
        std::cout << dumpJson(listJson(command.database, subFiles)) << '\n';
    } else {
        for (const auto &subFile : subFiles)
            std::cout << subFile.index << '\t' << quillon::Catalogue::kindName(subFile.kind) << '\t'
                      << subFile.parent << '\t' << (subFile.name ? escapeText(*subFile.name) : "-") << '\t'
                      << isoTime(subFile.time).value_or("-") << '\n';
        std::cout << count.value << " subfiles\n";
    }
    return exit;
}

ExitCode runMeta(const MetaCommand &command) {
    ExitCode exit = ExitCode::Ok;
    auto session = openFor(command.database, command.options, false, exit);
    if (!session)
        return exit;
    quillon::Catalogue catalogue(session->container());
    const auto elements = command.all            ? catalogue.allItems(command.index)
                          : command.names.empty() ? catalogue.mailFields(command.index)
                                                  : catalogue.fields(command.index, command.names);
    if (!elements.ok()) {
        readerFailed(*session, "metadata of subfile " + std::to_string(command.index), elements.status);
        return ExitCode::SomeFailed;
    }
    if (command.json) {
        std::cout << dumpJson(metaJson(command.index, elements.value)) << '\n';
    } else {
        for (const auto &element : elements.value)
            std::cout << (element.name ? escapeText(*element.name) : "-") << " ="
                      << (element.value ? " " + escapeText(*element.value) : "") << '\n';
    }
    return ExitCode::Ok;
}

ExitCode runCat(const CatCommand &command) {
    ExitCode exit = ExitCode::Ok;
    auto session = openFor(command.database, command.options, true, exit);
    if (!session)
        return exit;
    std::cout << std::flush;
    OutputObject output{fs::path()};
    const int status = extractSubfile(session->container(), command.index, output.get(), extractFlags(command.options));
    if (status != QLSTATUS_OK || !output.error().empty()) {
        std::string reason = session->lastReaderError();
        if (!output.error().empty())
            reason = output.error() + (reason.empty() ? "" : "; " + reason);
        reportError(command.database + ": subfile " + std::to_string(command.index) + ": " +
                    statusText(status == QLSTATUS_OK ? QLSTATUS_OUTPUT_FAILED : status) +
                    (reason.empty() ? "" : ": " + escapeText(reason)));
        return ExitCode::SomeFailed;
    }
    return ExitCode::Ok;
}

ExitCode runExtract(const ExtractCommand &command) {
    std::string error;
    if (!validate(command.options, error)) {
        reportError(error);
        return ExitCode::Usage;
    }
    if (!command.indexes.empty() && command.databases.size() > 1) {
        reportError("--index takes one database only");
        return ExitCode::Usage;
    }
    std::error_code ec;
    const fs::path outputDir = pathFromUtf8(command.outputDir);
    if (!fs::is_directory(outputDir, ec)) {
        reportError("the output folder " + command.outputDir + " does not exist");
        return ExitCode::Usage;
    }
    if (!canWriteInto(outputDir)) {
        reportError("the output folder " + command.outputDir + " is not writable");
        return ExitCode::Usage;
    }

    std::vector<ExtractJob> jobs;
    NameAllocator folders;
    for (const std::string &database : command.databases) {
        ExtractJob job;
        job.database = pathFromUtf8(database);
        job.outputDir = outputDir;
        job.indexes = command.indexes;
        job.overwrite = command.overwrite;
        job.options = command.options;
        if (command.databases.size() > 1) {
            const std::string base =
                safeComponent(splitExtension(utf8FromPath(job.database.filename())).first, "database");
            job.outputDir = outputDir / pathFromUtf8(folders.claim(base, ""));
        }
        jobs.push_back(std::move(job));
    }

    const bool progress = !command.json && !command.quiet && isTerminal(STDERR_FILENO);
    Reporter reporter(command.databases, command.json, progress);
    const MessageSink previous = setMessageSink([&reporter](const std::string &line) { reporter.message(line); });
    if (jobs.size() == 1) {
        ReporterEvents events(reporter, 0);
        runExtraction(jobs.front(), events);
    } else {
        // Each database's folder; one that cannot be made fails that database only.
        std::vector<ExtractJob> ready;
        std::vector<size_t> positions;
        for (size_t i = 0; i < jobs.size(); i++) {
            const fs::file_status folder = fs::symlink_status(jobs[i].outputDir, ec);
            const bool usable =
                fs::exists(folder) ? fs::is_directory(folder) : fs::create_directory(jobs[i].outputDir, ec);
            if (!usable) {
                const std::string line = "cannot make the output folder " + utf8FromPath(jobs[i].outputDir) +
                                         " for " + command.databases[i];
                reportError(line);
                reporter.finished(i, {false, line});
                continue;
            }
            ready.push_back(jobs[i]);
            positions.push_back(i);
        }
        const unsigned workers =
            command.jobs != 0 ? command.jobs : std::max(1u, std::thread::hardware_concurrency());
        runInWorkers(ready, positions, workers, reporter);
    }
    setMessageSink(previous);
    return reporter.finish();
}

} // namespace tessel::cli
