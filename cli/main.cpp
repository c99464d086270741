// tessel: the command line over the Quillon host and the tessel plug-in.
//
// For now it opens a database through the plug-in as any filtering host would and reports how far
// the open got; listing, metadata and extraction join as the plug-in gains those operations.
#include <quillon/host/Config.h>
#include <quillon/host/Container.h>
#include <quillon/host/Host.h>
#include <quillon/host/ReaderLibrary.h>
#include <quillon/host/Status.h>

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The plug-in next to this program in a build tree, else the installed one.
fs::path defaultPluginPath() {
    if (const char *pszPlugin = std::getenv("TESSEL_PLUGIN"); pszPlugin != nullptr && *pszPlugin != '\0')
        return pszPlugin;
    std::error_code ec;
    fs::path built = TESSEL_PLUGIN_BUILD_PATH;
    if (fs::exists(built, ec))
        return built;
    return TESSEL_PLUGIN_INSTALL_PATH;
}

struct OpenOptions {
    std::string database;
    std::string configFile;
    std::vector<std::string> settings; // "section.key=value"
    std::string plugin;
    std::string logDir;
    std::string logLevel = "INFO";
    bool root = false;
};

// Applies "section.key=value" overrides; false (with a message) for a malformed one.
bool applySettings(quillon::Config &config, const std::vector<std::string> &settings) {
    for (const std::string &setting : settings) {
        auto dot = setting.find('.');
        auto equals = setting.find('=');
        if (dot == std::string::npos || equals == std::string::npos || dot == 0 || equals < dot + 2) {
            std::cerr << "tessel: --set takes section.key=value, not '" << setting << "'\n";
            return false;
        }
        config.set(setting.substr(0, dot), setting.substr(dot + 1, equals - dot - 1), setting.substr(equals + 1));
    }
    return true;
}

// The log goes where the user's environment says; otherwise the program names one file per run
// so that it can tell the user where it is.
std::string prepareLog(const OpenOptions &options) {
    if (const char *pszFile = std::getenv("QUILLON_TESSEL_LOG_FILE"); pszFile != nullptr && *pszFile != '\0')
        return pszFile;
    if (std::getenv("QUILLON_TESSEL_LOG_LEVEL") == nullptr)
        setenv("QUILLON_TESSEL_LOG_LEVEL", options.logLevel.c_str(), 1);
    fs::path dir = options.logDir.empty() ? fs::temp_directory_path() : fs::path(options.logDir);
    fs::path file = dir / ("tessel-" + std::to_string(getpid()) + ".log");
    setenv("QUILLON_TESSEL_LOG_FILE", file.c_str(), 1);
    return file.string();
}

int runOpen(const OpenOptions &options) {
    quillon::Config config;
    if (!options.configFile.empty() && !config.loadFile(options.configFile)) {
        for (const auto &warning : config.warnings())
            std::cerr << "tessel: " << warning << '\n';
        return 2;
    }
    for (const auto &warning : config.warnings())
        std::cerr << "tessel: warning: " << warning << '\n';
    if (!applySettings(config, options.settings))
        return 2;

    std::string logPath = prepareLog(options);
    fs::path pluginPath = options.plugin.empty() ? defaultPluginPath() : fs::path(options.plugin);
    std::string error;
    auto reader = quillon::ReaderLibrary::load(pluginPath, error);
    if (reader == nullptr) {
        std::cerr << "tessel: cannot load the plug-in: " << error << '\n';
        return 2;
    }

    quillon::Host host(std::move(config));
    int status;
    {
        quillon::Container container(host, *reader, options.database, options.root ? CNVO_CREATEROOTDIR : 0);
        status = container.status();
        if (!container.error().empty())
            std::cerr << "tessel: " << container.error() << '\n';
    }
    std::cout << "open " << options.database << ": " << quillon::statusName(status) << " (" << status << ")\n";
    std::error_code ec;
    if (fs::exists(logPath, ec))
        std::cout << "log: " << logPath << '\n';
    else
        std::cout << "log: none written\n";
    return status == QLSTATUS_OK ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"tessel: read Lotus Notes databases through the tessel plug-in"};
    app.require_subcommand(1);

    OpenOptions open;
    CLI::App *openCommand = app.add_subcommand("open", "Open a database through the plug-in and report the status");
    openCommand->add_option("database", open.database, "The database (a DXL file for the emulated runtime)")
        ->required();
    openCommand->add_option("-c,--config", open.configFile, "INI file with the [tessel] and [sorrel] sections");
    openCommand->add_option("-s,--set", open.settings, "Override one setting: section.key=value")
        ->type_name("SECTION.KEY=VALUE");
    openCommand->add_option("--plugin", open.plugin, "The plug-in library (default: $TESSEL_PLUGIN or the built one)");
    openCommand->add_option("--log-dir", open.logDir, "Directory of the diagnostic log (default: the temp directory)");
    openCommand->add_option("--log-level", open.logLevel,
                            "Diagnostic log level: NONE ERROR WARN INFO DIAG DEBUG DUMP ALL (default INFO)");
    openCommand->add_flag("--root", open.root, "Start the catalogue with a root folder entry");

    CLI11_PARSE(app, argc, argv);
    if (openCommand->parsed())
        return runOpen(open);
    return 2;
}
