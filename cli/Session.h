// One database opened through the plug-in, as a host opens it: the log arranged, the plug-in
// loaded, the host configured, the container open. A failed open is explained in one line.
#pragma once

#include "ExitCode.h"
#include "OpenDiagnosis.h"
#include "Options.h"
#include "ReaderLog.h"

#include <quillon/host/Container.h>
#include <quillon/host/Host.h>
#include <quillon/host/ReaderLibrary.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tessel::cli {

class Session {
public:
    // What went wrong before or during the open: the exit code and one line for standard error.
    struct Failure {
        ExitCode exit = ExitCode::OpenFailed;
        std::string message;
    };

    // Opens database with the options. withTemplates false turns the templates off (the command
    // renders nothing). On failure returns null and fills failure.
    static std::unique_ptr<Session> open(const std::filesystem::path &database, const CommonOptions &options,
                                         bool withTemplates, Failure &failure);
    ~Session();

    quillon::Container &container() { return *container_; }
    ReaderLog &log() { return *log_; }
    const std::filesystem::path &database() const { return database_; }

    // The reason for a failure the reader just reported, from the log's new ERROR lines ("" when
    // it gave none).
    std::string lastReaderError();

private:
    Session() = default;

    std::filesystem::path database_;
    std::unique_ptr<ReaderLog> log_;
    std::unique_ptr<quillon::ReaderLibrary> library_;
    std::unique_ptr<quillon::Host> host_;
    std::unique_ptr<quillon::Container> container_;
};

// "ACCESS_FAILED (4)".
std::string statusText(int status);
// The plug-in next to this program in a build tree, else the installed one.
std::filesystem::path defaultPluginPath();

} // namespace tessel::cli
