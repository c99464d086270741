#include "Session.h"

#include "Messages.h"
#include "Platform.h"

#include <quillon/host/Status.h>

#include <cstdlib>

namespace tessel::cli {
namespace fs = std::filesystem;

std::string statusText(int status) { return quillon::statusName(status) + " (" + std::to_string(status) + ")"; }

namespace {

// The installation prefix this program runs from (<prefix>/bin/tessel), or an empty path.
fs::path programPrefix() {
    const fs::path self = programPath();
    return self.empty() ? fs::path() : self.parent_path().parent_path();
}

// The templates' folder installed with this program, wherever the prefix was moved, when it is
// there and the environment names no other ($TESSEL_HOME, which the host reads itself).
std::optional<std::string> installedHostDirectory() {
    if (const char *pszHome = std::getenv("TESSEL_HOME"); pszHome != nullptr && *pszHome != '\0')
        return std::nullopt;
    const fs::path prefix = programPrefix();
    if (prefix.empty())
        return std::nullopt;
    const fs::path share = prefix / pathFromUtf8(TESSEL_SHARE_INSTALL_RELATIVE_PATH);
    std::error_code ec;
    if (!fs::is_directory(share / "NSFtemplates", ec))
        return std::nullopt;
    return utf8FromPath(share);
}

} // namespace

// $TESSEL_PLUGIN; else the plug-in installed with this program (<prefix>/bin/tessel finds
// <prefix>/<libdir>/tessel/ on POSIX, <prefix>/bin/ on Windows, wherever the prefix was moved);
// else the one of the build tree this program was built in; else the configured install location.
fs::path defaultPluginPath() {
    if (const char *pszPlugin = std::getenv("TESSEL_PLUGIN"); pszPlugin != nullptr && *pszPlugin != '\0')
        return pathFromUtf8(pszPlugin);
    std::error_code ec;
    if (const fs::path prefix = programPrefix(); !prefix.empty()) {
        fs::path installed = prefix / pathFromUtf8(TESSEL_PLUGIN_INSTALL_RELATIVE_PATH);
        if (fs::exists(installed, ec))
            return installed;
    }
    fs::path built = pathFromUtf8(TESSEL_PLUGIN_BUILD_PATH);
    if (fs::exists(built, ec))
        return built;
    return pathFromUtf8(TESSEL_PLUGIN_INSTALL_PATH);
}

std::unique_ptr<Session> Session::open(const fs::path &database, const CommonOptions &options, bool withTemplates,
                                       Failure &failure) {
    const std::string name = utf8FromPath(database);
    const auto fail = [&](ExitCode exit, std::string message) {
        failure = {exit, std::move(message)};
        return nullptr;
    };

    std::string error;
    quillon::Config config;
    if (!buildConfig(options, withTemplates, config, error))
        return fail(ExitCode::Usage, error);
    if (!checkFolders(options, error))
        return fail(ExitCode::Usage, error);
    std::vector<quillon::Credential> credentials;
    std::vector<std::string> warnings;
    if (!buildCredentials(options, credentials, warnings, error))
        return fail(ExitCode::Usage, error);
    for (const std::string &warning : warnings)
        reportWarning(warning);
    auto plan = planLog(options.log, error);
    if (!plan)
        return fail(ExitCode::Usage, error);

    if (auto problem = checkInputFile(database))
        return fail(ExitCode::OpenFailed, "cannot open " + name + ": " + problemName(problem->problem) +
                                              (problem->detail.empty() ? "" : " (" + problem->detail + ")"));

    std::unique_ptr<Session> session(new Session);
    session->database_ = database;
    session->log_ = std::make_unique<ReaderLog>(*plan);

    const fs::path pluginPath = options.plugin.empty() ? defaultPluginPath() : pathFromUtf8(options.plugin);
    session->library_ = quillon::ReaderLibrary::load(pluginPath, error);
    if (session->library_ == nullptr)
        return fail(ExitCode::Usage, "cannot load the plug-in: " + error);

    session->host_ = std::make_unique<quillon::Host>(std::move(config));
    if (!options.templatesDir.empty()) {
        std::string dir = options.templatesDir;
        if (dir.back() != '/')
            dir += '/';
        session->host_->setHostDirectory(dir);
    } else if (auto installed = installedHostDirectory()) {
        session->host_->setHostDirectory(*installed);
    }
    // "./mail.dxl" and "mail.dxl" name the same file; the reader derives subfile names from the
    // path's first dot, so the shorter spelling is the one it gets.
    session->container_ = std::make_unique<quillon::Container>(*session->host_, *session->library_,
                                                               database.lexically_normal(),
                                                               openFlags(options), credentials);
    const int status = session->container_->status();
    if (status != QLSTATUS_OK || !session->container_->isOpen()) {
        const std::string text = session->log_->takeNew();
        const auto failures = parseApiFailures(text);
        const auto errors = parseErrorMessages(text);
        OpenFailure why = session->container_->error().empty()
                              ? diagnoseOpen(status, failures, errors)
                              : OpenFailure{OpenProblem::Unreadable, session->container_->error()};
        std::string message = "cannot open " + name + ": " + problemName(why.problem);
        if (!why.detail.empty())
            message += " (" + why.detail + ")";
        message += "; reader status " + statusText(status);
        if (auto file = session->log_->userFile())
            message += "; log: " + utf8FromPath(*file);
        return fail(ExitCode::OpenFailed, message);
    }
    session->log_->opened();
    session->log_->skip();
    return session;
}

Session::~Session() {
    // The container is closed before the plug-in is unloaded and the host goes.
    container_.reset();
    host_.reset();
    library_.reset();
}

std::string Session::lastReaderError() {
    const auto messages = parseErrorMessages(log_->takeNew());
    std::string joined;
    for (const std::string &message : messages) {
        if (!joined.empty())
            joined += "; ";
        joined += message;
    }
    return joined;
}

} // namespace tessel::cli
