#include "Options.h"

#include "Platform.h"
#include "Session.h"

#include <quillon/quillon.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace tessel::cli {
namespace fs = std::filesystem;

void addCommonOptions(CLI::App *command, CommonOptions &options, bool withFormat) {
    command->add_option("-c,--config", options.configFile, "INI file with the [tessel] and [sorrel] sections");
    command->add_option("-s,--set", options.settings, "Override one setting: section.key=value")
        ->type_name("SECTION.KEY=VALUE");
    command->add_option("--plugin", options.plugin,
                        "The plug-in library (default: $TESSEL_PLUGIN, else the one installed beside this "
                        "program, else the built one; here " +
                            utf8FromPath(defaultPluginPath()) + ")");
    command->add_flag("--root", options.root, "Start the catalogue with a root folder entry");
    command->add_flag("--all-notes", options.allNotes, "Every note becomes a subfile, not only documents");
    command->add_flag("--pure-xml", options.pureXml, "DXL export writes rich text as XML");
    command->add_flag("--no-templates", options.noTemplates,
                      "Write mail fields with the built-in header table, not the XML templates");
    command->add_option("--templates", options.templatesDir, "The folder holding NSFtemplates")
        ->type_name("DIR");
    command->add_option("--temp-dir", options.tempDir, "Folder for the plug-in's temporary files")
        ->type_name("DIR");
    command->add_flag("--show-hidden", options.showHidden, "Make hidden rich text visible");
    command->add_option("--id", "A user ID file; --password or --password-file after it is its password")
        ->type_name("FILE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_option("--password", "The password of the --id before it (see also --password-file)")
        ->type_name("TEXT")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_option("--password-file", "A file whose first line is the password of the --id before it")
        ->type_name("FILE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_option("--log-level", options.log.level,
                        "Write the plug-in's diagnostic log: NONE ERROR WARN INFO DIAG DEBUG DUMP ALL")
        ->type_name("LEVEL")
        ->check([](const std::string &value) {
            return normaliseLogLevel(value) ? std::string() : "not a log level: use NONE ERROR WARN INFO DIAG DEBUG DUMP ALL";
        })
        ->transform([](std::string value) { return normaliseLogLevel(value).value_or(value); });
    command->add_option("--log-dir", options.log.dir, "Folder of the diagnostic log (level INFO unless given)")
        ->type_name("DIR");
    command->add_option("--log-file", options.log.file, "The diagnostic log file (level INFO unless given)")
        ->type_name("FILE");
    if (withFormat) {
        static const std::map<std::string, Format> kFormats = {
            {"mht", Format::Mht}, {"text", Format::Text}, {"fields", Format::Fields}, {"dxl", Format::Dxl}};
        command->add_option("-f,--format", options.format, "mht, text, fields or dxl (default mht)")
            ->transform(CLI::CheckedTransformer(kFormats, CLI::ignore_case));
        command->add_flag("--no-header", options.noHeader, "Leave out the mail header block");
    }
}

void collectCredentials(const CLI::App *command, CommonOptions &options) {
    const CLI::Option *id = command->get_option("--id");
    const CLI::Option *password = command->get_option("--password");
    const CLI::Option *passwordFile = command->get_option("--password-file");
    std::map<const CLI::Option *, size_t> used;
    options.credentials.clear();
    for (const CLI::Option *option : command->parse_order()) {
        CredentialArg::Kind kind;
        if (option == id)
            kind = CredentialArg::Kind::IdFile;
        else if (option == password)
            kind = CredentialArg::Kind::Password;
        else if (option == passwordFile)
            kind = CredentialArg::Kind::PasswordFile;
        else
            continue;
        const auto &results = option->results();
        const size_t next = used[option]++;
        if (next < results.size())
            options.credentials.push_back({kind, results[next]});
    }
}

uint32_t extractFlags(const CommonOptions &options) {
    uint32_t flags = 0;
    if (options.format == Format::Mht || options.format == Format::Dxl)
        flags |= QLExtractFlag_GetFormattedBody;
    if (options.noHeader)
        flags |= QLExtractFlag_ExcludeMailHeader;
    return flags;
}

uint32_t openFlags(const CommonOptions &options) {
    uint32_t flags = 0;
    if (options.root)
        flags |= CNVO_CREATEROOTDIR;
    if (options.showHidden)
        flags |= CNVO_SHOWHIDDENTEXT;
    return flags;
}

const char *noteExtension(Format format, bool isMail) {
    switch (format) {
    case Format::Dxl: return ".dxl";
    case Format::Mht: return isMail ? ".mht" : ".txt";
    case Format::Text:
    case Format::Fields: return ".txt";
    }
    return ".txt";
}

bool buildConfig(const CommonOptions &options, bool withTemplates, quillon::Config &config, std::string &error) {
    if (!options.configFile.empty() && !config.loadFile(pathFromUtf8(options.configFile))) {
        error = config.warnings().empty() ? "cannot read " + options.configFile : config.warnings().back();
        return false;
    }
    for (const std::string &setting : options.settings) {
        const auto dot = setting.find('.');
        const auto equals = setting.find('=');
        if (dot == std::string::npos || equals == std::string::npos || dot == 0 || equals < dot + 2) {
            error = "--set takes section.key=value, not '" + setting + "'";
            return false;
        }
        config.set(setting.substr(0, dot), setting.substr(dot + 1, equals - dot - 1), setting.substr(equals + 1));
    }
    const std::string_view section = quillon::Config::kReaderSection;
    if (options.allNotes)
        config.set(section, "ExtractAllNotes", "1");
    if (options.pureXml)
        config.set(section, "ExportDXL_PureXML", "1");
    if (options.noTemplates || !withTemplates)
        config.set(section, "ExtractByTemplate", "0");
    if (!options.tempDir.empty())
        config.set(section, "TempDir", options.tempDir);
    if (options.format == Format::Dxl)
        config.set(section, "ExportDXL", "1");
    if (options.format == Format::Fields)
        config.set(section, "ExtractAllFields", "1");
    return true;
}

bool buildCredentials(const CommonOptions &options, std::vector<quillon::Credential> &credentials,
                      std::vector<std::string> &warnings, std::string &error) {
    credentials.clear();
    bool anyPassword = false;
    for (const CredentialArg &arg : options.credentials)
        anyPassword |= arg.kind != CredentialArg::Kind::IdFile;
    const char *environmentPassword = std::getenv(kPasswordVariable);
    const bool useEnvironment = !anyPassword && environmentPassword != nullptr;

    bool idBefore = false;
    for (const CredentialArg &arg : options.credentials) {
        switch (arg.kind) {
        case CredentialArg::Kind::IdFile:
            credentials.push_back({QLCredentialType_UserIdFile, arg.value});
            if (useEnvironment)
                credentials.push_back({QLCredentialType_Password, environmentPassword});
            idBefore = true;
            break;
        case CredentialArg::Kind::Password:
            credentials.push_back({QLCredentialType_Password, arg.value});
            break;
        case CredentialArg::Kind::PasswordFile: {
            std::ifstream in(pathFromUtf8(arg.value), std::ios::binary);
            std::string line;
            if (!in || (!std::getline(in, line) && !in.eof())) {
                error = "cannot read the password file " + arg.value;
                return false;
            }
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            credentials.push_back({QLCredentialType_Password, line});
            break;
        }
        }
        if (arg.kind != CredentialArg::Kind::IdFile && !idBefore)
            warnings.push_back("a password given before any --id is not used");
    }
    if (anyPassword && environmentPassword != nullptr)
        warnings.push_back(std::string(kPasswordVariable) + " is not used: the command line gives passwords");
    return true;
}

bool checkFolders(const CommonOptions &options, std::string &error) {
    std::error_code ec;
    if (!options.templatesDir.empty() && !fs::is_directory(pathFromUtf8(options.templatesDir), ec)) {
        error = "the templates folder " + options.templatesDir + " does not exist";
        return false;
    }
    if (!options.tempDir.empty() && !fs::is_directory(pathFromUtf8(options.tempDir), ec)) {
        error = "the temporary folder " + options.tempDir + " does not exist";
        return false;
    }
    for (const CredentialArg &arg : options.credentials)
        if (arg.kind == CredentialArg::Kind::IdFile && !fs::is_regular_file(pathFromUtf8(arg.value), ec)) {
            error = "the ID file " + arg.value + " does not exist";
            return false;
        }
    return true;
}

} // namespace tessel::cli
