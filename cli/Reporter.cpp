#include "Reporter.h"

#include "Json.h"
#include "Messages.h"

#include <unistd.h>

#include <iostream>

namespace tessel::cli {

Reporter::Reporter(std::vector<std::string> databases, bool json, bool progress)
    : databases_(std::move(databases)), json_(json), bar_(STDERR_FILENO, progress) {
    counts_.databases = databases_.size();
}

void Reporter::redraw(bool force) { bar_.update(done_, total_, force); }

void Reporter::opened(size_t, int32_t total) {
    total_ += static_cast<uint64_t>(total > 0 ? total : 0);
    redraw(true);
}

void Reporter::subfile(size_t database, const SubfileOutcome &outcome) {
    counts_.subfiles++;
    done_++;
    if (outcome.written)
        counts_.written++;
    else if (outcome.status != 0 || outcome.error)
        counts_.failed++;
    if (json_) {
        bar_.clear();
        const std::optional<std::string> name =
            databases_.size() > 1 ? std::optional<std::string>(databases_[database]) : std::nullopt;
        std::cout << dumpJson(outcomeJson(outcome, name)) << '\n' << std::flush;
    }
    redraw(false);
}

void Reporter::finished(size_t database, const DatabaseOutcome &outcome) {
    if (!outcome.opened) {
        counts_.openFailed++;
        if (json_ && databases_.size() > 1) {
            Json record;
            record["database"] = databases_[database];
            record["opened"] = false;
            record["error"] = outcome.error;
            bar_.clear();
            std::cout << dumpJson(record) << '\n' << std::flush;
        }
    }
    redraw(true);
}

void Reporter::lost(size_t, uint64_t count) {
    counts_.subfiles += count;
    counts_.failed += count;
    done_ += count;
    redraw(true);
}

void Reporter::message(const std::string &line) {
    bar_.clear();
    writeAll(STDERR_FILENO, line + "\n");
    redraw(true);
}

ExitCode Reporter::finish() {
    bar_.clear();
    const bool several = databases_.size() > 1;
    if (json_) {
        Json summary;
        if (several) {
            summary["databases"] = counts_.databases;
            summary["databases_failed"] = counts_.openFailed;
        }
        summary["subfiles"] = counts_.subfiles;
        summary["written"] = counts_.written;
        summary["failed"] = counts_.failed;
        Json document;
        document["summary"] = summary;
        std::cout << dumpJson(document) << '\n';
    } else {
        if (several)
            std::cout << counts_.databases << " databases (" << counts_.openFailed << " could not be opened), ";
        std::cout << counts_.subfiles << " subfiles, " << counts_.written << " written, " << counts_.failed
                  << " failed\n";
    }
    std::cout << std::flush;
    if (counts_.openFailed == counts_.databases)
        return ExitCode::OpenFailed;
    if (counts_.openFailed > 0 || counts_.failed > 0)
        return ExitCode::SomeFailed;
    return ExitCode::Ok;
}

} // namespace tessel::cli
