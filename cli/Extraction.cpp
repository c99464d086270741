#include "Extraction.h"

#include "Interrupt.h"
#include "Messages.h"
#include "OutputObject.h"
#include "Plan.h"
#include "Platform.h"
#include "ReaderCalls.h"
#include "Session.h"
#include "TextOutput.h"

#include <quillon/host/Catalogue.h>
#include <quillon/host/Status.h>

#include <cerrno>
#include <cstring>
#include <set>

namespace tessel::cli {
namespace fs = std::filesystem;
namespace {

// What exists at path, without following a final symbolic link.
bool existsNoFollow(const fs::path &path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

bool isRealDirectory(const fs::path &path) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(path, ec));
}

class DatabaseRun {
public:
    DatabaseRun(const ExtractJob &job, ExtractEvents &events, Session &session)
        : job_(job), events_(events), session_(session) {}

    // Extracts what the job asks for; false (with the line in error) when the catalogue cannot be read.
    bool run(std::string &error) {
        quillon::Catalogue catalogue(session_.container());
        const auto count = catalogue.count();
        if (!count.ok()) {
            error = "cannot read " + utf8FromPath(job_.database) +
                    ": counting the subfiles failed: " + statusText(count.status);
            return false;
        }
        std::vector<CatalogueEntry> entries;
        for (int32_t i = 0; i < count.value; i++) {
            auto subFile = catalogue.subFile(i);
            CatalogueEntry entry{i, std::nullopt, subFile.status};
            if (subFile.ok())
                entry.info = std::move(subFile.value);
            entries.push_back(std::move(entry));
        }
        const auto paths = planPaths(entries, job_.options.format);

        std::vector<int32_t> chosen;
        if (job_.indexes.empty()) {
            for (int32_t i = 0; i < count.value; i++)
                chosen.push_back(i);
        } else {
            std::set<int32_t> seen;
            for (int32_t index : job_.indexes)
                if (seen.insert(index).second)
                    chosen.push_back(index);
        }
        events_.opened(static_cast<int32_t>(chosen.size()));
        for (size_t done = 0; done < chosen.size(); done++) {
            const int32_t index = chosen[done];
            if (interruptSignal() != 0) {
                reportError(utf8FromPath(job_.database) + ": stopped by signal " +
                            std::to_string(interruptSignal()) + "; " + std::to_string(chosen.size() - done) +
                            " subfiles not extracted");
                break;
            }
            if (index < 0 || index >= count.value) {
                SubfileOutcome outcome;
                outcome.index = index;
                outcome.kind = "unknown";
                outcome.status = QLSTATUS_BAD_ARGUMENT;
                outcome.error = "no subfile with index " + std::to_string(index) + " (the catalogue has " +
                                std::to_string(count.value) + ")";
                events_.subfile(failed(outcome));
                continue;
            }
            const auto position = static_cast<size_t>(index);
            events_.subfile(write(entries[position], paths[position]));
        }
        return true;
    }

private:
    SubfileOutcome write(const CatalogueEntry &entry, const std::optional<fs::path> &relative) {
        SubfileOutcome outcome;
        outcome.index = entry.index;
        if (!entry.info) {
            outcome.kind = "unknown";
            outcome.status = entry.status;
            outcome.error = "the reader cannot describe this subfile";
            return failed(outcome);
        }
        outcome.kind = quillon::Catalogue::kindName(entry.info->kind);
        outcome.name = entry.info->name;
        if (!relative)
            return outcome; // the root entry writes nothing

        const fs::path target = job_.outputDir / *relative;
        const std::string targetName = utf8FromPath(target);
        const fs::path folder = target.parent_path();
        if (relative->has_parent_path() && !isRealDirectory(folder)) {
            std::error_code ec;
            if (existsNoFollow(folder) || !fs::create_directory(folder, ec)) {
                outcome.status = QLSTATUS_OUTPUT_FAILED;
                outcome.error =
                    "cannot make the folder " + utf8FromPath(folder) +
                    (existsNoFollow(folder) ? ": something else has that name" : ": " + ec.message());
                return failed(outcome);
            }
        }
        if (existsNoFollow(target) && (!job_.overwrite || isRealDirectory(target))) {
            outcome.status = QLSTATUS_OUTPUT_FAILED;
            outcome.error =
                targetName + " exists" + (job_.overwrite ? " and is a folder" : "; --overwrite replaces it");
            return failed(outcome);
        }
        const auto temporary = makeTemporaryFile(folder);
        if (!temporary) {
            outcome.status = QLSTATUS_OUTPUT_FAILED;
            outcome.error = "cannot create a file in " + utf8FromPath(folder) + ": " + std::strerror(errno);
            return failed(outcome);
        }

        OutputObject output(*temporary);
        session_.log().skip();
        outcome.status = extractSubfile(session_.container(), entry.index, output.get(), extractFlags(job_.options));
        outcome.bytes = output.bytes();
        if (outcome.status == QLSTATUS_OK && !output.error().empty())
            outcome.status = QLSTATUS_OUTPUT_FAILED;
        if (outcome.status == QLSTATUS_OK) {
            if (moveIntoPlace(*temporary, target, job_.overwrite)) {
                outcome.path = targetName;
                outcome.written = true;
                // The reader may leave out a part it could not convert (a body whose MIME the
                // runtime cannot read) and still succeed; what it said is not kept from the user.
                if (const std::string reason = session_.lastReaderError(); !reason.empty())
                    reportWarning(describe(outcome) + ": written, but the reader reported: " + escapeText(reason));
                return outcome;
            }
            outcome.status = QLSTATUS_OUTPUT_FAILED;
            outcome.error = "cannot move the output to " + targetName + ": " + std::strerror(errno);
            removeFile(*temporary);
            return failed(outcome);
        }

        std::string reason = session_.lastReaderError();
        if (!output.error().empty())
            reason = output.error() + (reason.empty() ? "" : "; " + reason);
        // What the reader wrote before it failed is kept beside the name, never passed off as whole.
        if (outcome.bytes > 0) {
            const std::string partialName = targetName + ".partial";
            if (moveIntoPlace(*temporary, pathFromUtf8(partialName), job_.overwrite)) {
                outcome.path = partialName;
                reason += std::string(reason.empty() ? "" : "; ") + "the partial output is in " + partialName;
            } else {
                removeFile(*temporary);
            }
        } else {
            removeFile(*temporary);
        }
        if (reason.empty())
            reason = outcome.status == quillon::kStatusUnavailable ? "the plug-in offers no extraction"
                                                                  : "extraction failed";
        outcome.error = reason;
        return failed(outcome);
    }

    // "mail.dxl: subfile 3 (mail_ql3.mail)".
    std::string describe(const SubfileOutcome &outcome) const {
        std::string line = utf8FromPath(job_.database) + ": subfile " + std::to_string(outcome.index);
        if (outcome.name)
            line += " (" + escapeText(*outcome.name) + ")";
        return line;
    }

    SubfileOutcome failed(SubfileOutcome &outcome) {
        std::string line = describe(outcome) + ": " + statusText(outcome.status);
        if (outcome.error)
            line += ": " + escapeText(*outcome.error);
        reportError(line);
        return outcome;
    }

    const ExtractJob &job_;
    ExtractEvents &events_;
    Session &session_;
};

} // namespace

bool moveIntoPlace(const fs::path &from, const fs::path &to, bool overwrite) {
    return overwrite ? renameReplacing(from, to) : renameNoReplace(from, to);
}

void runExtraction(const ExtractJob &job, ExtractEvents &events) {
    Session::Failure failure;
    auto session = Session::open(job.database, job.options, true, failure);
    if (!session) {
        reportError(failure.message);
        events.finished({false, failure.message});
        return;
    }
    std::string error;
    if (!DatabaseRun(job, events, *session).run(error)) {
        reportError(error);
        events.finished({false, error});
        return;
    }
    events.finished({true, ""});
}

} // namespace tessel::cli
