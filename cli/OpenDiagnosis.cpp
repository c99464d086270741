#include "OpenDiagnosis.h"

#include "Platform.h"

#include <quillon/quillon.h>

namespace tessel::cli {
namespace {

// Notes statuses that say which kind of failure an open met.
constexpr long kErrNoExist = 0x0103;
constexpr long kErrAccess = 0x0110;
constexpr long kErrNoNotesIni = 0x01A5;
constexpr long kErrNotNsf = 0x0201;
constexpr long kErrStruct = 0x0206;
constexpr long kErrNsfVersion = 0x0219;
constexpr long kErrNsfOpen = 0x0229;
constexpr long kErrNoAccess = 0x0246;
constexpr long kErrOpenFile = 0x024B;
constexpr long kErrNsfCorrupt2 = 0x0286;
constexpr long kErrLocalSecDbOpen = 0x02F8;
constexpr long kErrNoKeyFile = 0x1902;
constexpr long kErrBadPassword = 0x1908;
constexpr long kErrNotSupported = 0x29B1;

std::optional<OpenFailure> classify(const ApiFailure &failure) {
    std::string detail = failure.message;
    switch (failure.status) {
    case kErrNoExist:
        return OpenFailure{OpenProblem::Missing, detail};
    case kErrNotNsf:
    case kErrNsfVersion:
    case kErrNotSupported:
        return OpenFailure{OpenProblem::NotDatabase, detail};
    case kErrStruct:
    case kErrNsfCorrupt2:
    case kErrNsfOpen:
        return OpenFailure{OpenProblem::Damaged, detail};
    case kErrAccess:
    case kErrNoAccess:
    case kErrOpenFile:
    case kErrLocalSecDbOpen:
        return OpenFailure{OpenProblem::Refused, detail};
    case kErrNoKeyFile:
        return OpenFailure{OpenProblem::Refused, "the ID file is missing or unreadable" +
                                                     (detail.empty() ? std::string() : ": " + detail)};
    case kErrBadPassword:
        return OpenFailure{OpenProblem::Refused,
                           "wrong password for the ID file" + (detail.empty() ? std::string() : ": " + detail)};
    case kErrNoNotesIni:
        return OpenFailure{OpenProblem::RuntimeFailed, detail};
    default:
        return std::nullopt;
    }
}

} // namespace

const char *problemName(OpenProblem problem) {
    switch (problem) {
    case OpenProblem::Missing: return "missing";
    case OpenProblem::NotRegularFile: return "not a regular file";
    case OpenProblem::Unreadable: return "cannot be read";
    case OpenProblem::NotDatabase: return "not a database";
    case OpenProblem::Damaged: return "damaged";
    case OpenProblem::Refused: return "refused to this user";
    case OpenProblem::RuntimeFailed: return "the Notes runtime could not start";
    case OpenProblem::NoTemplates: return "the mail templates could not be loaded";
    case OpenProblem::Other: return "failed";
    }
    return "failed";
}

std::optional<OpenFailure> checkInputFile(const std::filesystem::path &path) {
    std::error_code ec;
    const std::filesystem::file_status info = std::filesystem::status(path, ec);
    if (info.type() == std::filesystem::file_type::not_found)
        return OpenFailure{OpenProblem::Missing, "no such file"};
    if (ec)
        return OpenFailure{OpenProblem::Unreadable, ec.message()};
    if (std::filesystem::is_directory(info))
        return OpenFailure{OpenProblem::NotRegularFile, "it is a folder"};
    if (!std::filesystem::is_regular_file(info))
        return OpenFailure{OpenProblem::NotRegularFile, "it is a device, pipe or socket"};
    if (std::string error = checkReadable(path); !error.empty())
        return OpenFailure{OpenProblem::Unreadable, error};
    return std::nullopt;
}

OpenFailure diagnoseOpen(int status, std::span<const ApiFailure> failures, std::span<const std::string> errors) {
    static const std::string kTemplateHint = "use --templates DIR for the folder holding NSFtemplates, or --no-templates";
    // Template loading is the last step of an open; its failure is the log's last word.
    if (!errors.empty() && (errors.back().find("template") != std::string::npos ||
                            errors.back().find("Template") != std::string::npos))
        return {OpenProblem::NoTemplates, errors.back() + "; " + kTemplateHint};
    // The last failure that names a known cause explains the open; earlier ones may be side issues.
    for (auto it = failures.rbegin(); it != failures.rend(); ++it)
        if (auto failure = classify(*it))
            return *failure;
    switch (status) {
    case QLSTATUS_ACCESS_REFUSED:
        return {OpenProblem::Refused, ""};
    case QLSTATUS_INIT_FAILED:
        return {OpenProblem::RuntimeFailed, ""};
    case QLSTATUS_NO_TEMPLATES:
    case QLSTATUS_NO_MAIN_TEMPLATE:
    case QLSTATUS_INVALID_TEMPLATE:
        return {OpenProblem::NoTemplates, kTemplateHint};
    default:
        break;
    }
    if (!errors.empty())
        return {OpenProblem::Other, errors.back()};
    if (!failures.empty())
        return {OpenProblem::Other, failures.back().api + "() failed with Notes status " +
                                        std::to_string(failures.back().status) +
                                        (failures.back().message.empty() ? "" : ": " + failures.back().message)};
    return {OpenProblem::Other, ""};
}

} // namespace tessel::cli
