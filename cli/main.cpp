// tessel: the command line over the Quillon host and the tessel plug-in.
//
// It opens a database through the plug-in as any filtering host would: "open" reports how far the
// open got, "list" prints the catalogue and "meta" a note's fields; extraction joins as the plug-in
// gains it.
#include <quillon/host/Catalogue.h>
#include <quillon/host/Config.h>
#include <quillon/host/Container.h>
#include <quillon/host/Host.h>
#include <quillon/host/ReaderLibrary.h>
#include <quillon/host/Status.h>

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// $TESSEL_PLUGIN; else the plug-in installed beside this program (<prefix>/bin/tessel finds
// <prefix>/<libdir>/tessel/, wherever the prefix was moved); else the one of the build tree this
// program was built in; else the configured install location.
fs::path defaultPluginPath() {
    if (const char *pszPlugin = std::getenv("TESSEL_PLUGIN"); pszPlugin != nullptr && *pszPlugin != '\0')
        return pszPlugin;
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        fs::path installed = self.parent_path().parent_path() / TESSEL_PLUGIN_INSTALL_RELATIVE_PATH;
        if (fs::exists(installed, ec))
            return installed;
    }
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
        config.set(setting.substr(0, dot), setting.substr(dot + 1, equals - dot - 1),
                   setting.substr(equals + 1));
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

// The host, the plug-in and the open container of one command, handed to the command's own work.
// Returns the process's exit code: 2 for a usage or set-up problem, 1 when the reader failed.
int withContainer(const OpenOptions &options, const std::function<int(quillon::Container &)> &work,
                  bool reportOpen) {
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
    int exitCode;
    {
        quillon::Container container(host, *reader, options.database, options.root ? CNVO_CREATEROOTDIR : 0);
        status = container.status();
        if (!container.error().empty())
            std::cerr << "tessel: " << container.error() << '\n';
        exitCode = status == QLSTATUS_OK ? work(container) : 1;
    }
    if (reportOpen || status != QLSTATUS_OK)
        (status == QLSTATUS_OK ? std::cout : std::cerr)
            << "open " << options.database << ": " << quillon::statusName(status) << " (" << status << ")\n";
    std::error_code ec;
    std::ostream &logOut = reportOpen ? std::cout : std::cerr;
    if (reportOpen || exitCode != 0) {
        if (fs::exists(logPath, ec))
            logOut << "log: " << logPath << '\n';
        else
            logOut << "log: none written\n";
    }
    return exitCode;
}

int runOpen(const OpenOptions &options) {
    return withContainer(
        options, [](quillon::Container &) { return 0; }, true);
}

// A FILETIME as UTC "YYYY-MM-DD HH:MM:SS", or "-" when it is zero.
std::string formatFileTime(const QL_FILETIME &time) {
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    if (ticks == 0)
        return "-";
    const int64_t seconds = static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (gmtime_r(&t, &parts) == nullptr)
        return "-";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

// Reports a reader failure of a command; returns the exit code 1.
int readerFailed(const char *what, int status) {
    std::cerr << "tessel: " << what << ": " << quillon::statusName(status) << " (" << status << ")\n";
    return 1;
}

// One line per subfile: index, kind, parent, name, time, separated by tabs.
int runList(const OpenOptions &options) {
    return withContainer(
        options,
        [](quillon::Container &container) {
            quillon::Catalogue catalogue(container);
            auto listed = catalogue.list();
            for (const quillon::SubFile &subFile : listed.value)
                std::cout << subFile.index << '\t' << quillon::Catalogue::kindName(subFile.kind) << '\t'
                          << subFile.parent << '\t' << subFile.name.value_or("-") << '\t'
                          << formatFileTime(subFile.time) << '\n';
            if (!listed.ok())
                return readerFailed("listing the catalogue", listed.status);
            std::cout << listed.value.size() << " subfiles\n";
            return 0;
        },
        false);
}

struct MetaOptions {
    int32_t index = 0;
    std::vector<std::string> names;
    bool all = false;
};

// "name = value" per element: the named fields, every item with --all, else the mail fields.
int runMeta(const OpenOptions &options, const MetaOptions &meta) {
    return withContainer(
        options,
        [&meta](quillon::Container &container) {
            quillon::Catalogue catalogue(container);
            auto elements = meta.all             ? catalogue.allItems(meta.index)
                            : meta.names.empty() ? catalogue.mailFields(meta.index)
                                                 : catalogue.fields(meta.index, meta.names);
            for (const quillon::MetaElement &element : elements.value)
                std::cout << element.name.value_or("-") << " =" << (element.value ? " " + *element.value : "")
                          << '\n';
            if (!elements.ok())
                return readerFailed("reading the metadata", elements.status);
            return 0;
        },
        false);
}

// The options every command that opens a database takes.
void addOpenOptions(CLI::App *command, OpenOptions &options) {
    command->add_option("database", options.database, "The database (a DXL file for the emulated runtime)")
        ->required();
    command->add_option("-c,--config", options.configFile,
                        "INI file with the [tessel] and [sorrel] sections");
    command->add_option("-s,--set", options.settings, "Override one setting: section.key=value")
        ->type_name("SECTION.KEY=VALUE");
    command->add_option("--plugin", options.plugin,
                        "The plug-in library (default: $TESSEL_PLUGIN, else the one installed beside this "
                        "program, else the built one; here " +
                            defaultPluginPath().string() + ")");
    command->add_option("--log-dir", options.logDir,
                        "Directory of the diagnostic log (default: the temp directory)");
    command->add_option("--log-level", options.logLevel,
                        "Diagnostic log level: NONE ERROR WARN INFO DIAG DEBUG DUMP ALL (default INFO)");
    command->add_flag("--root", options.root, "Start the catalogue with a root folder entry");
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"tessel: read Lotus Notes databases through the tessel plug-in"};
    app.require_subcommand(1);

    OpenOptions open;
    CLI::App *openCommand =
        app.add_subcommand("open", "Open a database through the plug-in and report the status");
    addOpenOptions(openCommand, open);

    OpenOptions list;
    CLI::App *listCommand = app.add_subcommand(
        "list", "List the subfiles: index, kind, parent, name and time (UTC), tab-separated");
    addOpenOptions(listCommand, list);

    OpenOptions metaOpen;
    MetaOptions meta;
    CLI::App *metaCommand = app.add_subcommand(
        "meta", "Print a note's fields as name = value: the named ones, all, or the mail fields");
    addOpenOptions(metaCommand, metaOpen);
    metaCommand->add_option("index", meta.index, "The subfile's index (see list)")->required();
    metaCommand->add_option("names", meta.names, "Field names ($$$QL_NoteID, $$$QL_Folders ... included)");
    metaCommand->add_flag("--all", meta.all, "Every item of the note");

    CLI11_PARSE(app, argc, argv);
    if (openCommand->parsed())
        return runOpen(open);
    if (listCommand->parsed())
        return runList(list);
    if (metaCommand->parsed())
        return runMeta(metaOpen, meta);
    return 2;
}
