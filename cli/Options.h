// The options every command that opens a database takes, and what they become: configuration
// values of the plug-in, open flags, credentials, the log and the extraction flags.
#pragma once

#include "ReaderLog.h"

#include <quillon/host/Config.h>
#include <quillon/host/Container.h>

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessel::cli {

enum class Format { Mht, Text, Fields, Dxl };

// The environment variable that may hold the password of the ID files.
inline constexpr const char *kPasswordVariable = "TESSEL_CLI_PASSWORD";

// One credential option as given, in command-line order.
struct CredentialArg {
    enum class Kind { IdFile, Password, PasswordFile } kind;
    std::string value;
};

struct CommonOptions {
    std::string configFile;
    std::vector<std::string> settings; // "section.key=value"
    std::string plugin;
    bool root = false;
    bool allNotes = false;
    bool pureXml = false;
    bool noTemplates = false;
    std::string templatesDir;
    std::string tempDir;
    bool showHidden = false;
    Format format = Format::Mht;
    bool noHeader = false;
    LogRequest log;
    std::vector<CredentialArg> credentials;
};

// Adds the options to a command. withFormat adds --format and --no-header.
void addCommonOptions(CLI::App *command, CommonOptions &options, bool withFormat);
// Reads the credential options of a parsed command in the order they were given.
void collectCredentials(const CLI::App *command, CommonOptions &options);

// The extraction flags of the format.
uint32_t extractFlags(const CommonOptions &options);
// The open flags.
uint32_t openFlags(const CommonOptions &options);
// The extension of a note written in the format: ".mht" for a mail memo in MHT, ".dxl", else ".txt".
const char *noteExtension(Format format, bool isMail);

// Fills the configuration: the file, then --set, then the options that map onto keys.
// withTemplates false turns the templates off for commands that render nothing.
bool buildConfig(const CommonOptions &options, bool withTemplates, quillon::Config &config, std::string &error);

// The credential list the plug-in receives: passwords read from their files, and the environment's
// password after every ID file when the command line gives none. Warnings for passwords that have
// no ID file before them. Never puts a password in a message.
bool buildCredentials(const CommonOptions &options, std::vector<quillon::Credential> &credentials,
                      std::vector<std::string> &warnings, std::string &error);

// Checks the folders the options name; false with a message for the first that does not exist.
bool checkFolders(const CommonOptions &options, std::string &error);

} // namespace tessel::cli
